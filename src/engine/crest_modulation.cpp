#include "engine/crest_modulation.h"

#include <cmath>

#include "engine/live_settings.h"
#include "engine/noise_sources.h"

namespace skarnel {

float SelectCrestExponent(int noiseFunction, int crestIndex, float current) noexcept {
    if (crestIndex < 0 || crestIndex >= kCrestFactorCount) {
        return current;
    }
    const auto& table = noiseFunction == kWhiteNoise ? kCrestExponentsWhite : kCrestExponentsPink;
    return table[static_cast<std::size_t>(crestIndex)];
}

float TriangleOf(float p) noexcept {
    const float s = static_cast<float>(std::sin(static_cast<long double>(p)));
    if (std::fabs(s) == 1.0f) {
        return s;
    }
    const long double ls = s;
    return static_cast<float>(std::atan(ls / std::sqrt(1.0L - ls * ls)) * 2.0L / kPi);
}

void UpdateModGain(ChannelEngineState& channel, int modFunction, std::int32_t n,
                   std::int32_t sampleRate) noexcept {
    const long double phase = static_cast<long double>(n) / sampleRate * kTwoPi /
                                  static_cast<long double>(channel.modPeriod) +
                              static_cast<long double>(channel.modPhase);
    if (!std::isfinite(phase)) {
        return;
    }
    float m;
    switch (modFunction) {
        case kModSine:
            m = static_cast<float>(std::sin(phase));
            break;
        case kModCosine:
            m = static_cast<float>(std::cos(phase));
            break;
        case kModSquare:
            m = SignOf(static_cast<float>(std::sin(phase)));
            break;
        case kModTriangular:
            m = TriangleOf(static_cast<float>(phase));
            break;
        default:
            return;
    }
    float gain = m + 1.0f;
    gain = (0.5f * channel.modDepth) * gain;
    channel.modGain = 1.0f - gain;
}

}  // namespace skarnel
