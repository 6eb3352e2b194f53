#include "engine/playback_source.h"

#include <algorithm>

namespace skarnel {

void TakeWindowValues(EngineState& playing, const EngineState& window) noexcept {
    const EngineState running = playing;
    playing = window;
    // The clip count is the playing engine's own: it counts what it made.
    playing.clippedSamples = running.clippedSamples;
    if (running.restarts != window.restarts) {
        return;  // a preparation: the running state starts again too
    }
    playing.sampleCounter = running.sampleCounter;
    playing.busy = running.busy;
    playing.pinkRows = running.pinkRows;
    for (int c = 0; c < kChannelCount; ++c) {
        ChannelEngineState& to = playing.channels[c];
        const ChannelEngineState& from = running.channels[c];
        to.x = from.x;
        to.x1 = from.x1;
        to.x2 = from.x2;
        to.y = from.y;
        to.y1 = from.y1;
        to.y2 = from.y2;
        if (to.modulationRestarts == from.modulationRestarts) {
            to.modGain = from.modGain;
        }
    }
}

void PlaybackSource::Begin(const SignalEngine& window) {
    engine_.state = window.state;
    engine_.live = window.live;
    values_.TakeNewest();  // whatever was published before is older than this
}

void PlaybackSource::Publish(const SignalEngine& window) {
    EngineValues& values = values_.Back();
    values.state = window.state;
    values.live = window.live;
    values_.Publish();
}

void PlaybackSource::TakeNewestValues() {
    if (values_.TakeNewest()) {
        TakeWindowValues(engine_.state, values_.Front().state);
        engine_.live = values_.Front().live;
    }
}

bool PlaybackSource::Fill(std::uint8_t* buffer, std::int32_t size, std::size_t& signalBytes) {
    TakeNewestValues();
    const EngineState& state = engine_.state;
    const bool holdsPeriodFrames = state.sampleCounter < state.periodSamples;
    const std::size_t frameBytes = engine_.live.channelMode == kStereo ? 4 : 2;
    const auto bytes = static_cast<std::size_t>(std::max(size, 0));
    signalBytes = bytes / frameBytes * frameBytes;
    if (!engine_.live.loop) {
        const auto periodLeft = static_cast<std::uint64_t>(
            std::max<std::int64_t>(state.periodSamples - state.sampleCounter, 0));
        signalBytes = static_cast<std::size_t>(
            std::min<std::uint64_t>(signalBytes / frameBytes, periodLeft) * frameBytes);
    }
    const BlockStatus status = engine_.FillBlock(buffer, bytes);
    // The block that ends the period holds its last frames (silence after
    // them): it is played, and the next fill ends playback.
    const bool plays = status == BlockStatus::kPlay ||
                       (status == BlockStatus::kEnded && holdsPeriodFrames && !starting_);
    if (!plays && !starting_) {
        signalBytes = 0;  // not queued, never heard (a start queues every block)
    }
    return plays;
}

}  // namespace skarnel
