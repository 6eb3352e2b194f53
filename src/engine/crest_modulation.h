#pragma once

#include <array>
#include <cstdint>

#include "engine/engine_state.h"

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

// Writes channel.modGain = 1 - depth * (m + 1) / 2, m being the modulation
// function at frame n. The gain is left unchanged when the phase cannot be
// formed (a period of 0 or a non-finite phase) or the function index is not
// one of the four, so a bad entry silences nothing and divides by nothing.
void UpdateModGain(ChannelEngineState& channel, int modFunction, std::int32_t n,
                   std::int32_t sampleRate) noexcept;

}  // namespace skarnel
