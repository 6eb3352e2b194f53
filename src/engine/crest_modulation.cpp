#include "engine/crest_modulation.h"

#include <cmath>

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

float ModulationValue(int modFunction, long double phase) noexcept {
    switch (modFunction) {
        case kModCosine:
            return static_cast<float>(std::cos(phase));
        case kModSquare:
            return SignOf(static_cast<float>(std::sin(phase)));
        case kModTriangular:
            return TriangleOf(static_cast<float>(phase));
        default:  // kModSine
            return static_cast<float>(std::sin(phase));
    }
}

void UpdateModGain(ChannelEngineState& channel, int modFunction, std::int64_t n,
                   std::int32_t sampleRate) noexcept {
    const long double phase = ModulationPhase(channel, n, sampleRate);
    if (!std::isfinite(phase) || !IsModulationFunction(modFunction)) {
        return;
    }
    channel.modGain = ModulationGain(channel.modDepth, ModulationValue(modFunction, phase));
}

}  // namespace skarnel
