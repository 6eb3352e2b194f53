#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/fast_renderer.h"
#include "engine/signal_engine.h"

namespace skarnel {

// What the draw half of the renderer changes in an engine, besides the frame
// counter: the random generator, the pink rows and each channel's modulation
// gain.
struct SourceState {
    std::uint32_t randomSeed = 0;
    std::array<float, kPinkRowCount> pinkRows{};
    std::array<float, kChannelCount> modGain{};

    static SourceState Of(SignalEngine& engine) noexcept;
    void ApplyTo(SignalEngine& engine) const noexcept;
};

// Renders the frames of a file on two cores. A second thread computes the
// draw half of each pass (modulation gains, random draws, pink sums) up to
// two passes ahead on a copy of the engine, while the calling thread shapes,
// scales, filters and interleaves the current pass on the engine itself and
// then takes over the copy's draw state as it was at that pass's end. So
// after every pass the engine holds exactly the state a single thread would
// have left, and the frames are the same to the bit.
//
// Passes end after every frame whose index is a multiple of `interval` (the
// progress points of an export, where the engine must be as it is after that
// frame) and at the last frame. The engine's settings must not change while
// the pipeline runs.
class SourcePipeline {
public:
    // Whether the frames can be rendered this way; when not (a channel whose
    // calls address one channel twice, or a single core), render them on one
    // thread.
    static bool Applies(const SignalEngine& engine, const FramePlan& plan,
                        std::int64_t frames) noexcept;

    // Starts the second thread on `frames` frames from the engine's current
    // counter. Stereo runs both chains (the right one draws its own noise).
    SourcePipeline(SignalEngine& engine, const FramePlan& plan, std::int64_t frames,
                   std::int64_t interval);
    // Stops the second thread, wherever it is, and waits for it.
    ~SourcePipeline();
    SourcePipeline(const SourcePipeline&) = delete;
    SourcePipeline& operator=(const SourcePipeline&) = delete;

    // Renders the next pass into out (two samples per frame, at most
    // `interval` frames) and returns its length; 0 once all frames are done.
    std::size_t Next(std::int16_t* out);

private:
    static constexpr std::int64_t kSlots = 3;

    struct Slot {
        std::array<std::vector<float>, kChannelCount> gain;
        std::array<std::vector<float>, kChannelCount> value;
        std::size_t frames = 0;
        SourceState after;

        SourceValues Arrays() noexcept {
            return {{gain[kLeft].data(), gain[kRight].data()},
                    {value[kLeft].data(), value[kRight].data()}};
        }
    };

    std::size_t PassLength(std::int64_t start) const noexcept;
    void RenderAhead();

    SignalEngine& engine_;
    const FramePlan plan_;
    const std::int64_t first_;     // the engine's counter at the start
    const std::int64_t frames_;    // frames to render from first_ on
    const std::int64_t interval_;  // passes end at multiples of this

    // The second thread's own engine and working arrays.
    UniformRandom aheadRandom_;
    std::unique_ptr<SignalEngine> ahead_;
    std::unique_ptr<RenderScratch> aheadScratch_;
    std::unique_ptr<RenderScratch> scratch_;  // the calling thread's

    std::array<Slot, kSlots> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t produced_ = 0;  // passes whose sources are ready
    std::int64_t consumed_ = 0;  // passes handed out by Next
    std::int64_t done_ = 0;      // frames handed out by Next
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace skarnel
