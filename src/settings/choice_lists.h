#pragma once

#include <array>
#include <cstdint>

#include "engine/crest_modulation.h"
#include "engine/live_settings.h"

namespace skarnel {

// The items of the window's fixed lists, in list order. Stores and preset
// files keep the zero-based index of the chosen item, so the order and the
// length of these lists are part of those formats.

inline constexpr std::array<const char*, kNoiseFunctionCount> kNoiseFunctionItems{"White Noise", "Pink Noise"};
inline constexpr std::array<const char*, kCrestFactorCount> kCrestFactorItems{
    "1.42:1", "2:1", "3:1", "4:1", "6:1", "8:1", "10:1"};
inline constexpr std::array<const char*, 6> kFilterTypeItems{"None",     "Peaking",   "High Pass",
                                                             "Low Pass", "Band Pass", "Notch"};
// "Sine " ends in a blank, as the list has always shown it.
inline constexpr std::array<const char*, 4> kModFunctionItems{"Sine ", "Cosine", "Square",
                                                              "Triangular"};
inline constexpr std::array<const char*, 2> kChannelModeItems{"Mono", "Stereo"};

// The output settings: sampling frequency (Hz), quantisation (bits), buffer
// size (bytes; the last one is 64536, not 65536) and buffer count.
inline constexpr std::array<std::int32_t, 7> kSampleRateItems{8000,  11025, 22050, 44100,
                                                              48000, 96000, 192000};
inline constexpr std::array<std::int32_t, 3> kQuantizationItems{8, 16, 24};
inline constexpr std::array<std::int32_t, 5> kBufferSizeItems{4096, 8192, 16384, 32768, 64536};
inline constexpr std::array<std::int32_t, 3> kBufferCountItems{2, 3, 4};

// The item of a sampling frequency in kSampleRateItems, or -1.
constexpr int SampleRateItem(std::int32_t hz) {
    for (std::size_t i = 0; i < kSampleRateItems.size(); ++i) {
        if (kSampleRateItems[i] == hz) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace skarnel
