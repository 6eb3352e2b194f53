#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "numtext/decimal_entry.h"

namespace skarnel {

// How an entry is validated when the user leaves it (and when a recall or a
// stored value puts text into it): the range, the decimals kept and the value
// an unreadable text becomes. The window, the recall and skarnel-render all
// use these, so an entry validates the same everywhere.
struct EntryRule {
    float minimum;
    float maximum;
    int decimals;
    float fallback;

    std::string Apply(std::string_view text) const {
        return ClampAndRound(text, minimum, maximum, decimals, fallback);
    }
    // What the entry shows for the text its model holds (see ShownEntryText).
    std::string Shown(std::string_view text) const { return ShownEntryText(text, decimals); }
};

inline constexpr EntryRule kAmplitudeRule{-100.0f, 0.0f, 2, 0.0f};                  // dBFS
inline constexpr EntryRule kPeriodRule{0.1f, kNoUpperLimit, 10, 1.0f};              // s
inline constexpr EntryRule kModDepthRule{0.0f, 100.0f, 10, 100.0f};                 // %
inline constexpr EntryRule kModPhaseRule{0.0f, kNoUpperLimit, 10, 0.0f};            // degrees
inline constexpr EntryRule kFilterGainRule{kNoLowerLimit, kNoUpperLimit, 5, 0.0f};  // dB
inline constexpr EntryRule kFilterQRule{0.01f, 100000.0f, 5, 1.0f};

// The filter frequency: 1 Hz up to half the sampling frequency.
inline EntryRule FilterFrequencyRule(std::int32_t sampleRate) {
    return {1.0f, static_cast<float>(sampleRate / 2.0), 5, 1000.0f};
}

}  // namespace skarnel
