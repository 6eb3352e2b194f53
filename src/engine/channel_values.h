#pragma once

#include "base/extended_precision.h"

namespace skarnel {

// The live values a channel's entries feed to the engine, each computed in
// extended precision and stored as float32.

// 10^(dBFS / 20).
float LinearAmplitude(long double dBFS) noexcept;

// Percent to a fraction: percent * 0.01.
float ModDepthFraction(long double percent) noexcept;

// Degrees to radians: degrees * pi / 180.
float ModPhaseRadians(long double degrees) noexcept;

// Seconds, narrowed to float32.
float ModPeriodSeconds(long double seconds) noexcept;

}  // namespace skarnel
