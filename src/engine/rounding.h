#pragma once

#include <cmath>
#include <cstdint>

#include "base/extended_precision.h"

namespace skarnel {

// The x87 "integer indefinite": what storing an out-of-range or NaN value as a
// 64-bit integer yields.
inline constexpr std::int64_t kIntegerIndefinite = INT64_MIN;

// Rounds to the nearest integer, halves to the even neighbour, as a 64-bit
// integer. Values outside the 64-bit range and NaN give kIntegerIndefinite,
// so no input is undefined behaviour.
// Relies on the default round-to-nearest mode, which Skarnel never changes.
inline std::int64_t RoundToInt64(long double v) noexcept {
    // 2^63 is exact in long double; the range is [-2^63, 2^63).
    constexpr long double kTwo63 = 9223372036854775808.0L;
    const long double r = std::nearbyint(v);
    if (!(r >= -kTwo63 && r < kTwo63)) {
        return kIntegerIndefinite;
    }
    return static_cast<std::int64_t>(r);
}

// Round() of the engine: the 64-bit result taken as a 32-bit integer, that is
// its low 32 bits (two's complement).
inline std::int32_t Round(long double v) noexcept {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(RoundToInt64(v))));
}

// A sample narrowed to 16 bits with saturation: a value above 32767 becomes
// 32767, one below -32768 becomes -32768, every other value stays as it is.
// Wrapping instead (keeping the low 16 bits) would turn a sample just past
// full scale into a full-scale sample of the other sign. Adds 1 to `clipped`
// when the value was out of range.
inline std::int16_t Saturate16(std::int64_t v, std::uint64_t& clipped) noexcept {
    const std::int64_t s = v < INT16_MIN ? INT16_MIN : (v > INT16_MAX ? INT16_MAX : v);
    clipped += static_cast<std::uint64_t>(s != v);
    return static_cast<std::int16_t>(s);
}

}  // namespace skarnel
