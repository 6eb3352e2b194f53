#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/extended_precision.h"
#include "engine/engine_state.h"
#include "engine/fast_renderer.h"
#include "engine/frame_plan.h"
#include "engine/live_settings.h"
#include "engine/uniform_random.h"

namespace skarnel {

// Full scale of a 16-bit sample; a source value of +-1 at 0 dBFS gives +-32767.
inline constexpr long double kFullScale = 32767.0L;

// What a block fill tells the output device.
enum class BlockStatus {
    kPlay,       // the block is to be played; the signal goes on
    kEnded,      // the period has ended (Loop off): nothing more to play
    kReentered,  // called while a previous fill was still running: stop now
};

class SignalEngine;

// Renders frames as SignalEngine::RenderFrames does: the fast renderer or the
// reference one (ReferenceRenderFrames).
using FrameRenderer = void (*)(SignalEngine& engine, const FramePlan& plan, std::int16_t* out,
                               std::size_t frames) noexcept;

// One generator window's signal engine: its state, the live settings it reads,
// and the process-wide random generator it draws from. Single-threaded: the
// window, the output device's refills and WAV export all run on one thread.
class SignalEngine {
public:
    explicit SignalEngine(UniformRandom& random = ProcessRandom()) : random_(&random) {}

    EngineState state;
    LiveSettings live;

    // Called when a fill finds the previous one still running, before busy is
    // cleared (a caller that pumps events inside a fill stops its output
    // here). Playback fills on one thread at a time and sets none: the block
    // is then not played, and the queue drains.
    std::function<void()> onReentry;

    // Renders `frames` consecutive frames from sampleCounter on into `out`,
    // two samples per frame (left or mono, then right; the right is 0 in
    // mono), advancing sampleCounter once per frame without the period's end
    // or loop. Gates apply in stereo only; when the plan repeats the left sample the right
    // chain is not run and the right sample repeats the left one.
    void RenderFrames(const FramePlan& plan, std::int16_t* out, std::size_t frames) noexcept {
        RenderFramesFast(*this, scratch_, plan, out, frames);
    }

    // Fills an output buffer with little-endian 16-bit frames (the block
    // renderer). Only whole frames are rendered; bytes of a trailing partial
    // frame are set to 0, and nothing beyond `size` is written. Advances
    // sampleCounter once per frame, restarting the period within the block
    // when Loop is on.
    BlockStatus FillBlock(std::uint8_t* buffer, std::size_t size);

    UniformRandom& random() noexcept { return *random_; }

private:
    UniformRandom* random_;
    RenderScratch scratch_;
};

// The block renderer (see SignalEngine::FillBlock) with its frames rendered by
// `render`, in runs within which nothing the block decides on changes.
BlockStatus FillBlockWith(SignalEngine& engine, FrameRenderer render, std::uint8_t* buffer,
                          std::size_t size);

// Advances a frame counter by one without overflowing: the counter keeps
// counting past a period's end, and stops at the largest int64 (millions of
// years at any rate, but no input makes it undefined).
inline void AdvanceFrameCounter(std::int64_t& counter) noexcept {
    if (counter < INT64_MAX) {
        ++counter;
    }
}

}  // namespace skarnel
