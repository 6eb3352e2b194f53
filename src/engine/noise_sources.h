#pragma once

#include <array>
#include <cstdint>

#include "base/extended_precision.h"
#include "engine/engine_state.h"
#include "engine/uniform_random.h"

namespace skarnel {

// +1 for v >= 0 (zero included), -1 otherwise.
inline float SignOf(float v) noexcept {
    return v >= 0.0f ? 1.0f : -1.0f;
}

// x^k by repeated squaring: the sequence of products the power law defines
// for integral exponents, in the precision of Real.
template <typename Real>
Real IntegralPower(Real x, std::uint32_t k) noexcept {
    Real result = 1;
    Real base = x;
    while (k != 0) {
        if (k & 1u) {
            result *= base;
        }
        k >>= 1;
        if (k != 0) {
            base *= base;
        }
    }
    return result;
}

// |x|^k for x >= 0 in extended precision: x^0 = 1 (0^0 included), 0^k = 0 for
// k > 0, integral k by repeated squaring, any other k as 2^(k * log2 x).
long double PowerLaw(long double x, long double k) noexcept;

// The crest shaping: SignOf(v) * |v|^k, rounded to float32. Exponents below 1
// lift small values towards +-1 (lower crest factor), above 1 push them
// towards 0 (higher crest factor); k = 0 turns every value into +-1.
float CrestShape(float v, float k) noexcept;

// One white value in -1..1: a uniform draw mapped to -1..1 and crest-shaped.
float WhiteSource(UniformRandom& random, const ChannelEngineState& channel) noexcept;

// One pink value in -1..1 by the Voss-McCartney method: 13 rows of uniform
// values, row 0 redrawn at every call, rows 1..12 at frame n when
// (n & mask) == match, so each row is redrawn half as often as the one before.
// Both channels share the rows and the frame number.
float PinkSource(UniformRandom& random, std::array<float, kPinkRowCount>& pinkRows,
                 const ChannelEngineState& channel, std::int64_t n) noexcept;

struct PinkRowSchedule {
    std::uint32_t mask;
    std::uint32_t match;
};

// Rows 1..12 (index 0 is unused: row 0 is redrawn at every call). Rows 8 and
// 9 both use the mask FF, so both are redrawn every 256 frames at different
// points of the cycle.
inline constexpr std::array<PinkRowSchedule, kPinkRowCount> kPinkRowSchedule{{
    {0x000, 0x000},
    {0x001, 0x001},
    {0x003, 0x002},
    {0x007, 0x004},
    {0x00F, 0x00E},
    {0x01F, 0x00F},
    {0x03F, 0x01F},
    {0x07F, 0x040},
    {0x0FF, 0x081},
    {0x0FF, 0x0EE},
    {0x1FF, 0x1DA},
    {0x3FF, 0x36B},
    {0x7FF, 0x753},
}};

}  // namespace skarnel
