#pragma once

#include <cstdint>

#include "base/extended_precision.h"

namespace skarnel {

// The linear congruential generator all noise is drawn from:
//   seed := seed * 134775813 + 1 (mod 2^32), value := seed * 2^-32.
// One instance serves a whole process (ProcessRandom) and is never reseeded, so
// every process draws the same sequence from its start. Tests build their own
// instance to start from state 0.
class UniformRandom {
public:
    UniformRandom() = default;
    explicit UniformRandom(std::uint32_t seed) : randomSeed_(seed) {}

    // Next value in [0, 1).
    long double Next() noexcept { return static_cast<long double>(NextSeed()) * kTwoToMinus32; }
    // The next state itself: the value is this times 2^-32.
    std::uint32_t NextSeed() noexcept {
        randomSeed_ = randomSeed_ * kMultiplier + 1u;  // unsigned: wraps mod 2^32
        return randomSeed_;
    }

    std::uint32_t seed() const noexcept { return randomSeed_; }

    static constexpr std::uint32_t kMultiplier = 0x08088405u;  // 134775813

private:
    static constexpr long double kTwoToMinus32 = 1.0L / 4294967296.0L;
    std::uint32_t randomSeed_ = 0;
};

// The one generator of this process.
UniformRandom& ProcessRandom() noexcept;

}  // namespace skarnel
