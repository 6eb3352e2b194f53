#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/latest_value.h"
#include "engine/signal_engine.h"

namespace skarnel {

// What a block reads of the window's engine: its state and live settings.
struct EngineValues {
    EngineState state;
    LiveSettings live;
};

// Brings the values the window set into the engine that plays: every value
// the window sets is taken as it stands; the running state (the frame
// counter, the pink rows, the modulation gains, the filter memory) runs on,
// unless the window restarted it since the last values were taken (a
// preparation restarts all of it; switching a channel's modulation its gain).
// The playing engine's clip count is its own and always runs on.
void TakeWindowValues(EngineState& playing, const EngineState& window) noexcept;

// The signal of a playing window, made on the output's render thread.
//
// The window's engine stays on the GUI thread, where every control writes its
// values as it always did. A start copies all of it here (Begin). While the
// signal plays, the window publishes its values after every change
// (Publish), and each block takes the newest at its start, exactly where a
// block reads them; nothing waits on a lock. The random generator is the
// window engine's own, so its sequence runs on from play to play and into an
// export, which stops playback first.
class PlaybackSource {
public:
    explicit PlaybackSource(UniformRandom& random) : engine_(random) {}

    // The GUI thread, while no block is being made: playing starts from the
    // window's engine as it stands.
    void Begin(const SignalEngine& window);
    // The GUI thread, any time: hands the window's current values over.
    void Publish(const SignalEngine& window);
    // The blocks of a start, made inside it, end the signal by the plain
    // rule: a block that holds the period's end is not played, so a signal
    // that ends within them still asks for smaller buffers. Set by the GUI
    // thread around the start, before the render thread runs.
    void SetStarting(bool starting) noexcept { starting_ = starting; }

    // Renders the next block into `buffer` (16-bit frames, `size` bytes) and
    // says whether it is to be played. `signalBytes` tells how many of its
    // bytes belong to the signal: all of them with Loop, else those up to
    // the period's end (silence pads the rest). The render thread, or the
    // GUI thread while no render thread runs.
    bool Fill(std::uint8_t* buffer, std::int32_t size, std::size_t& signalBytes);

    // Samples clipped in the blocks made so far, per output channel (a
    // running count: the difference across a Fill is that block's).
    const std::array<std::uint64_t, kChannelCount>& clippedSamples() const noexcept {
        return engine_.state.clippedSamples;
    }

    // The engine that plays (for tests and for what follows playback).
    const SignalEngine& engine() const noexcept { return engine_; }

private:
    void TakeNewestValues();

    SignalEngine engine_;
    LatestValue<EngineValues> values_;
    bool starting_ = false;
};

}  // namespace skarnel
