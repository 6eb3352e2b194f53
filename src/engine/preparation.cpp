#include "engine/preparation.h"

#include <cmath>
#include <limits>

#include "engine/crest_modulation.h"
#include "engine/rounding.h"
#include "numtext/number_reader.h"

namespace skarnel {

std::int64_t PeriodFrames(long double seconds, std::int32_t sampleRate) noexcept {
    const long double frames = seconds * sampleRate;
    if (std::isnan(frames)) {
        return 0;  // as the low bits of the integer indefinite read
    }
    // Everything from 2^63 - 0.5 on rounds to 2^63 or beyond; 2^63 is exact in
    // long double, and so is every half below it that long double can hold.
    if (frames >= 0x1p63L - 0.5L) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return RoundToInt64(frames);
}

void ResetRunningState(EngineState& state) noexcept {
    ++state.restarts;  // unsigned: wraps, and only a difference is read
    state.busy = false;
    state.pinkRows.fill(0.0f);
    state.sampleCounter = 0;
    for (ChannelEngineState& channel : state.channels) {
        channel.modGain = 1.0f;
    }
}

void ReadFilterTexts(ChannelEngineState& channel, std::int32_t sampleRate,
                     const FilterTexts& texts) {
    channel.filterFrequency = static_cast<double>(ReadNumber(texts.frequency));
    channel.filterQ = static_cast<double>(ReadNumber(texts.q));
    channel.filterGain = static_cast<double>(ReadNumber(texts.gain));
    channel.w0 = static_cast<double>(kTwoPi * static_cast<long double>(channel.filterFrequency) /
                                     sampleRate);
    channel.cosW0 = static_cast<double>(std::cos(static_cast<long double>(channel.w0)));
    channel.sinW0 = static_cast<double>(std::sin(static_cast<long double>(channel.w0)));
    // x is overwritten before its next use, so it is left as it is.
    channel.y = channel.y1 = channel.y2 = 0;
    channel.x1 = channel.x2 = 0;
}

PreparationOutcome PrepareEngine(EngineState& state, const LiveSettings& live,
                                 const PreparationTexts& texts,
                                 const std::function<void()>& validateAmplitudes) {
    state.periodSamples = PeriodFrames(ReadNumber(texts.duration), state.sampleRate);
    ResetRunningState(state);
    if (validateAmplitudes) {
        validateAmplitudes();
    }
    for (int c = 0; c < kChannelCount; ++c) {
        ReadFilterTexts(state.channels[c], state.sampleRate, texts.filter[c]);
    }
    PreparationOutcome outcome;
    for (int c = 0; c < kChannelCount; ++c) {
        outcome.filter[c] = DesignFilter(state.channels[c], live.filterType[c]);
    }
    return outcome;
}

}  // namespace skarnel
