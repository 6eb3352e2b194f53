#pragma once

#include <string>

#include "persistence/memory_preset.h"

namespace skarnel::testing {

// A memory preset from its values in the order of a preset file's record,
// for tests that give every value at once.
struct FlatPreset {
    std::string name, period, amplitudeLeft, amplitudeRight;
    int noiseFunctionLeft, noiseFunctionRight;
    bool loop, mono, leftOn, rightOn, modulationLeft, modulationRight;
    std::string modPeriodLeft, modPeriodRight, modDepthLeft, modDepthRight;
    int modFunctionLeft, modFunctionRight;
    std::string modPhaseLeft, modPhaseRight;
    int crestFactorLeft, crestFactorRight;
    bool asLeft;
    int filterTypeLeft;
    std::string frequencyLeft, gainLeft, qLeft;
    int filterTypeRight;
    std::string frequencyRight, gainRight, qRight;

    operator MemoryPreset() const {
        MemoryPreset p;
        p.name = name;
        GeneratorSettings& s = p.settings;
        s.period = period;
        s.loop = loop;
        s.channelMode = mono ? kMono : kStereo;
        s.asLeft = asLeft;
        ChannelSettings& l = s.channels[kLeft];
        ChannelSettings& r = s.channels[kRight];
        l = {leftOn,        noiseFunctionLeft, crestFactorLeft, amplitudeLeft,  filterTypeLeft,
             frequencyLeft, gainLeft,          qLeft,           modulationLeft, modFunctionLeft,
             modPeriodLeft, modDepthLeft,      modPhaseLeft};
        r = {rightOn,         noiseFunctionRight, crestFactorRight, amplitudeRight,
             filterTypeRight, frequencyRight,     gainRight,        qRight,
             modulationRight, modFunctionRight,   modPeriodRight,   modDepthRight,
             modPhaseRight};
        return p;
    }
};

}  // namespace skarnel::testing
