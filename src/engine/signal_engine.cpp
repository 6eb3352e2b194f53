#include "engine/signal_engine.h"

#include <algorithm>
#include <cstring>

#include "io/little_endian.h"

namespace skarnel {

namespace {

void RenderFast(SignalEngine& engine, const FramePlan& plan, std::int16_t* out,
                std::size_t frames) noexcept {
    engine.RenderFrames(plan, out, frames);
}

}  // namespace

BlockStatus SignalEngine::FillBlock(std::uint8_t* buffer, std::size_t size) {
    return FillBlockWith(*this, &RenderFast, buffer, size);
}

BlockStatus FillBlockWith(SignalEngine& engine, FrameRenderer render, std::uint8_t* buffer,
                          std::size_t size) {
    EngineState& state = engine.state;
    const LiveSettings& live = engine.live;
    const bool loopAtStart = live.loop;
    const FramePlan plan = FramePlan::Of(live);
    const bool stereo = plan.stereo;

    if (state.busy) {
        if (engine.onReentry) {
            engine.onReentry();
        }
        state.busy = false;
        return BlockStatus::kReentered;
    }
    state.busy = true;

    const std::size_t frameBytes = stereo ? 4 : 2;
    const std::size_t wholeFrames = size / frameBytes;
    std::size_t frames = wholeFrames;
    std::uint8_t* p = buffer;
    std::int16_t pass[2 * kRenderChunkFrames];
    while (frames > 0) {
        // A run of frames that are all played or all silent, and within which
        // the counter does not restart.
        const bool plays = loopAtStart || state.sampleCounter < state.periodSamples;
        std::size_t run = std::min(frames, kRenderChunkFrames);
        if (state.sampleCounter < state.periodSamples) {
            run = std::min<std::size_t>(
                run, static_cast<std::size_t>(state.periodSamples - state.sampleCounter));
        } else if (state.sampleCounter == INT64_MAX) {
            run = 1;  // the counter stays at its limit, which may be the period's end
        }
        if (plays) {
            render(engine, plan, pass, run);
        } else {
            std::fill(pass, pass + 2 * run, std::int16_t{0});
            for (std::size_t i = 0; i < run; ++i) {
                AdvanceFrameCounter(state.sampleCounter);
            }
        }
        for (std::size_t i = 0; i < run; ++i) {
            PutLittleEndian(p, pass[2 * i]);
            if (stereo) {
                PutLittleEndian(p + 2, pass[2 * i + 1]);
            }
            p += frameBytes;
        }
        if (state.sampleCounter == state.periodSamples && loopAtStart) {
            state.sampleCounter = 0;
        }
        frames -= run;
    }
    if (const std::size_t rest = size - wholeFrames * frameBytes; rest != 0) {
        std::memset(p, 0, rest);
    }

    const bool goesOn = state.sampleCounter < state.periodSamples || live.loop;
    state.busy = false;
    return goesOn ? BlockStatus::kPlay : BlockStatus::kEnded;
}

}  // namespace skarnel
