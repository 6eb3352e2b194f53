#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/engine_state.h"
#include "engine/live_settings.h"

namespace skarnel {

// One channel's values as its panel shows them. Texts are UTF-8 and hold the
// entries' texts as typed, loaded or validated; a validated number may show
// shorter in its entry ("0.1" for "0.1000000015") but is kept whole here,
// which is what the store, the presets and the engine read. Choices are
// zero-based list indexes, -1 for a list without a choice. The initial values
// are the reset values.
struct ChannelSettings {
    bool on = true;
    std::int32_t noiseFunction = kPinkNoise;
    std::int32_t crestFactor = 4;  // "6:1"
    std::string amplitude = "0";
    std::int32_t filterType = kFilterNone;
    std::string frequency = "1000";
    std::string gain = "0";
    std::string q = "1";
    bool modulationOn = false;
    std::int32_t modFunction = kModSine;
    std::string modPeriod = "1";
    std::string modDepth = "100";
    std::string modPhase = "0";

    bool operator==(const ChannelSettings&) const = default;
};

// Everything a generator window holds in its controls that the store, the
// memory presets and the renderer share: the window-wide values and one
// record per channel (index 0 is left and also mono). The initial values are
// the reset values; "= Left" is not reset and starts clear.
struct GeneratorSettings {
    std::int32_t channelMode = kMono;
    bool asLeft = false;  // "= Left"
    std::string period = "10";
    bool loop = true;
    std::int32_t waveDevice = 0;  // item of the device list; 0 is the default device
    std::array<ChannelSettings, kChannelCount> channels;

    bool operator==(const GeneratorSettings&) const = default;
};

}  // namespace skarnel
