#pragma once

#include <array>
#include <cstdint>

#include "base/extended_precision.h"
#include "engine/engine_state.h"
#include "engine/live_settings.h"

namespace skarnel {

inline constexpr long double kTwoPi = 6.283185307179586477L;
inline constexpr long double kPi = 3.1415926535897932385L;

inline constexpr int kCrestFactorCount = 7;  // "1.42:1" .. "10:1"

// Crest shaping exponents per crest-factor index, one table for white noise
// and one for every other noise function.
inline constexpr std::array<float, kCrestFactorCount> kCrestExponentsWhite{1.0f,  1.5f,  4.0f, 7.5f,
                                                                           17.0f, 31.0f, 49.0f};
inline constexpr std::array<float, kCrestFactorCount> kCrestExponentsPink{
    0.15f, 0.3166f, 0.535f, 0.7f, 0.955f, 1.17f, 1.31f};

// The exponent for a channel's noise function and crest-factor index. An index
// outside the table (no item selected) leaves `current` as it is.
float SelectCrestExponent(int noiseFunction, int crestIndex, float current) noexcept;

// A triangle with the period and phase of sin(p), in -1..1: the arcsine of
// sin(p) scaled by 2/pi, computed as arctan(s / sqrt(1 - s^2)).
float TriangleOf(float p) noexcept;

// The modulation's phase at frame n: n / rate * 2 pi / period + phase, in
// extended precision, operation by operation. Not finite for a period of 0.
inline long double ModulationPhase(const ChannelEngineState& channel, std::int64_t n,
                                   std::int32_t sampleRate) noexcept {
    return static_cast<long double>(n) / sampleRate * kTwoPi /
               static_cast<long double>(channel.modPeriod) +
           static_cast<long double>(channel.modPhase);
}

// Sine, cosine, square or triangle: the list of modulation functions.
inline bool IsModulationFunction(int modFunction) noexcept {
    return modFunction >= kModSine && modFunction <= kModTriangular;
}

// The float value of a modulation function (one of the four) at a phase.
float ModulationValue(int modFunction, long double phase) noexcept;

// The gain for a function value m: 1 - depth * (m + 1) / 2, in float, in the
// order of operations that defines it.
inline float ModulationGain(float depth, float m) noexcept {
    const float halfDepth = 0.5f * depth;
    return 1.0f - halfDepth * (m + 1.0f);
}

// Writes channel.modGain, the gain of frame n. The gain is left unchanged
// when the phase cannot be formed (a period of 0 or a non-finite phase) or
// the function index is not one of the four, so a bad entry silences nothing
// and divides by nothing.
void UpdateModGain(ChannelEngineState& channel, int modFunction, std::int64_t n,
                   std::int32_t sampleRate) noexcept;

}  // namespace skarnel
