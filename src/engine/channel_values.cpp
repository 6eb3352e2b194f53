#include "engine/channel_values.h"

#include <cmath>

#include "engine/crest_modulation.h"

namespace skarnel {

float LinearAmplitude(long double dBFS) noexcept {
    return static_cast<float>(std::pow(10.0L, dBFS / 20.0L));
}

float ModDepthFraction(long double percent) noexcept {
    return static_cast<float>(percent * 0.01L);
}

float ModPhaseRadians(long double degrees) noexcept {
    return static_cast<float>(degrees * kPi / 180.0L);
}

float ModPeriodSeconds(long double seconds) noexcept {
    return static_cast<float>(seconds);
}

}  // namespace skarnel
