#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/extended_precision.h"
#include "engine/engine_state.h"
#include "engine/filter.h"
#include "engine/live_settings.h"

namespace skarnel {

// The texts of one channel's filter entries, as the window shows them.
struct FilterTexts {
    std::string_view frequency;
    std::string_view q;
    std::string_view gain;
};

// The texts preparation reads from the window.
struct PreparationTexts {
    std::string_view duration;  // period in seconds
    std::array<FilterTexts, kChannelCount> filter;
};

// What preparation asks the window to apply: per channel, the enabled state of
// the filter entries and whether the Q entry is to read "1".
struct PreparationOutcome {
    std::array<FilterDesignOutcome, kChannelCount> filter;
};

// Frames in a period of `seconds` at `sampleRate`, halves to even. A period
// longer than the 64-bit counter can hold (a float period text reaches 3.4e38
// seconds) is cut to the longest one it can, INT64_MAX frames, rather than
// wrapping to an arbitrary length.
std::int64_t PeriodFrames(long double seconds, std::int32_t sampleRate) noexcept;

// Steps 2-5 of preparation: clears busy, the pink rows, the frame counter and
// sets both modulation gains to 1.
void ResetRunningState(EngineState& state) noexcept;

// Reads one channel's filter texts (frequency, Q, gain, in that order, each
// stored as soon as it is read), derives w0 and its cosine and sine, and puts
// the filter at rest. Throws ConversionError at the first unreadable text;
// fields read before it keep their new values.
void ReadFilterTexts(ChannelEngineState& channel, std::int32_t sampleRate,
                     const FilterTexts& texts);

// The whole engine preparation, in its order: period, running state, the
// amplitude validations (a callback into the window, which re-validates both
// amplitude entries and updates linearAmplitude), the filter texts of left
// then right, the filter design of left then right. After it the next frame
// rendered is frame 0 with the filters at rest.
//
// A conversion error ends preparation at the failing step and propagates; the
// steps before it keep their effect.
PreparationOutcome PrepareEngine(EngineState& state, const LiveSettings& live,
                                 const PreparationTexts& texts,
                                 const std::function<void()>& validateAmplitudes);

}  // namespace skarnel
