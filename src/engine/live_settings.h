#pragma once

#include <array>

#include "engine/engine_state.h"

namespace skarnel {

// List indexes of the window's selectors, as stored in settings and presets.
enum NoiseFunction : int { kWhiteNoise = 0, kPinkNoise = 1 };
inline constexpr int kNoiseFunctionCount = 2;
enum ChannelMode : int { kMono = 0, kStereo = 1 };
enum ModFunction : int { kModSine = 0, kModCosine = 1, kModSquare = 2, kModTriangular = 3 };
enum FilterType : int {
    kFilterNone = 0,
    kFilterPeaking = 1,
    kFilterHighPass = 2,
    kFilterLowPass = 3,
    kFilterBandPass = 4,
    kFilterNotch = 5,
};

// The switches and list choices the renderer reads while it plays. The window
// keeps this record current as its controls change; -1 stands for a list with
// no item selected. The renderer reads each field at a fixed moment: channel
// mode, "= Left" and noise functions once per block, Loop at the start and the
// end of a block, modulation switch and function and filter type at every
// sample.
struct LiveSettings {
    int channelMode = kMono;
    bool asLeft = false;  // "= Left": the right channel repeats the left one
    bool loop = false;
    std::array<int, kChannelCount> noiseFunction{kPinkNoise, kPinkNoise};
    std::array<bool, kChannelCount> modulationOn{false, false};
    std::array<int, kChannelCount> modFunction{kModCosine, kModCosine};
    std::array<int, kChannelCount> filterType{kFilterNone, kFilterNone};
};

}  // namespace skarnel
