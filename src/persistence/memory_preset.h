#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace skarnel {

// Filter texts of the reset settings; a preset loaded without filter values
// carries these.
inline constexpr std::string_view kResetFilterFrequency = "1000";
inline constexpr std::string_view kResetFilterGain = "0";
inline constexpr std::string_view kResetFilterQ = "1";

// One memory slot: a complete copy of the generator window's settings under a
// name. The fields follow the record of the preset file. Texts are UTF-8 and
// hold the entries exactly as shown; indexes are zero-based list choices. A new
// record holds the reset settings.
struct MemoryPreset {
    std::string name;
    std::string period = "10";
    std::string amplitudeLeft = "0";
    std::string amplitudeRight = "0";
    std::int32_t noiseFunctionLeft = 1;  // 0 white, 1 pink
    std::int32_t noiseFunctionRight = 1;
    bool loop = true;
    bool mono = true;  // the channel list shows Mono (index 0)
    bool leftOn = true;
    bool rightOn = true;
    bool modulationLeft = false;
    bool modulationRight = false;
    std::string modPeriodLeft = "1";
    std::string modPeriodRight = "1";
    std::string modDepthLeft = "100";
    std::string modDepthRight = "100";
    std::int32_t modFunctionLeft = 0;
    std::int32_t modFunctionRight = 0;
    std::string modPhaseLeft = "0";
    std::string modPhaseRight = "0";
    std::int32_t crestFactorLeft = 4;
    std::int32_t crestFactorRight = 4;
    bool asLeft = false;  // "= Left"
    std::int32_t filterTypeLeft = 0;
    std::string filterFrequencyLeft{kResetFilterFrequency};
    std::string filterGainLeft{kResetFilterGain};
    std::string filterQLeft{kResetFilterQ};
    std::int32_t filterTypeRight = 0;
    std::string filterFrequencyRight{kResetFilterFrequency};
    std::string filterGainRight{kResetFilterGain};
    std::string filterQRight{kResetFilterQ};

    bool operator==(const MemoryPreset&) const = default;
};

// One channel's fields of a preset, by reference, so that code handling both
// channels is written once. Preset is MemoryPreset or const MemoryPreset.
template <typename Preset>
struct PresetChannel {
    template <typename T>
    using Field = std::conditional_t<std::is_const_v<Preset>, const T, T>&;

    Field<std::string> amplitude;
    Field<std::int32_t> noiseFunction;
    Field<bool> modulation;
    Field<bool> on;
    Field<std::string> modPeriod;
    Field<std::string> modDepth;
    Field<std::int32_t> modFunction;
    Field<std::string> modPhase;
    Field<std::int32_t> crestFactor;
    Field<std::int32_t> filterType;
    Field<std::string> frequency;
    Field<std::string> gain;
    Field<std::string> q;
};

// Channel 0 is the left (and mono) channel, 1 the right one.
template <typename Preset>
PresetChannel<Preset> PresetChannelOf(Preset& p, int channel) {
    if (channel == 0) {
        return {p.amplitudeLeft,   p.noiseFunctionLeft, p.modulationLeft,      p.leftOn,
                p.modPeriodLeft,   p.modDepthLeft,      p.modFunctionLeft,     p.modPhaseLeft,
                p.crestFactorLeft, p.filterTypeLeft,    p.filterFrequencyLeft, p.filterGainLeft,
                p.filterQLeft};
    }
    return {p.amplitudeRight,   p.noiseFunctionRight, p.modulationRight,      p.rightOn,
            p.modPeriodRight,   p.modDepthRight,      p.modFunctionRight,     p.modPhaseRight,
            p.crestFactorRight, p.filterTypeRight,    p.filterFrequencyRight, p.filterGainRight,
            p.filterQRight};
}

}  // namespace skarnel
