#include "engine/reference_renderer.h"

#include <cstring>

#include "engine/crest_modulation.h"
#include "engine/filter.h"
#include "engine/noise_sources.h"
#include "engine/rounding.h"

namespace skarnel {

std::int32_t ReferenceRenderSample(SignalEngine& engine, int sourceSelector) noexcept {
    EngineState& state = engine.state;
    const LiveSettings& live = engine.live;
    const bool isRight = sourceSelector >= kRightSourceOffset;
    const int c = isRight ? kRight : kLeft;
    const int noiseFunction = isRight ? sourceSelector - kRightSourceOffset : sourceSelector;
    ChannelEngineState& ch = state.channels[c];

    if (live.modulationOn[c]) {
        UpdateModGain(ch, live.modFunction[c], state.sampleCounter, state.sampleRate);
    }

    float s;
    switch (noiseFunction) {
        case kWhiteNoise:
            s = WhiteSource(engine.random(), ch);
            break;
        case kPinkNoise:
            s = PinkSource(engine.random(), state.pinkRows, ch, state.sampleCounter);
            break;
        default:
            s = 0.0f;  // silence, and no random draw
            break;
    }
    ch.x = noiseFunction == kWhiteNoise || noiseFunction == kPinkNoise
               ? Round(kFullScale * ch.linearAmplitude * ch.modGain * s)
               : 0;

    if (live.filterType[c] > kFilterNone) {
        return ApplyFilter(ch, ch.x);
    }
    return ch.x;
}

void ReferenceRenderFrame(SignalEngine& engine, bool stereo, bool rightRepeatsLeft,
                          int leftSelector, int rightSelector, std::int16_t out[2]) noexcept {
    if (!stereo) {
        out[0] = Low16(ReferenceRenderSample(engine, leftSelector));
        out[1] = 0;
        return;
    }
    const EngineState& state = engine.state;
    // Gates are 0 or 1, but a 64-bit product cannot overflow whatever they hold.
    out[0] = Low16(std::int64_t{ReferenceRenderSample(engine, leftSelector)} * state.left().gate);
    out[1] = rightRepeatsLeft ? out[0]
                              : Low16(std::int64_t{ReferenceRenderSample(engine, rightSelector)} *
                                      state.right().gate);
}

BlockStatus ReferenceFillBlock(SignalEngine& engine, std::uint8_t* buffer, std::size_t size) {
    EngineState& state = engine.state;
    const LiveSettings& live = engine.live;
    const bool loopAtStart = live.loop;
    const int leftSelector = live.noiseFunction[kLeft];
    const int rightSelector = live.noiseFunction[kRight] + kRightSourceOffset;
    const bool rightRepeatsLeft = live.asLeft;
    const bool stereo = live.channelMode == kStereo;

    if (state.busy) {
        if (engine.onReentry) {
            engine.onReentry();
        }
        state.busy = false;
        return BlockStatus::kReentered;
    }
    state.busy = true;

    const std::size_t frameBytes = stereo ? 4 : 2;
    const std::size_t frames = size / frameBytes;
    std::uint8_t* p = buffer;
    for (std::size_t i = 0; i < frames; ++i) {
        std::int16_t frame[2] = {0, 0};
        if (loopAtStart || state.sampleCounter < state.periodSamples) {
            ReferenceRenderFrame(engine, stereo, rightRepeatsLeft, leftSelector, rightSelector,
                                 frame);
        }
        PutLittleEndian16(p, frame[0]);
        if (stereo) {
            PutLittleEndian16(p + 2, frame[1]);
        }
        p += frameBytes;
        AdvanceFrameCounter(state.sampleCounter);
        if (state.sampleCounter == state.periodSamples && loopAtStart) {
            state.sampleCounter = 0;
        }
    }
    if (const std::size_t rest = size - frames * frameBytes; rest != 0) {
        std::memset(p, 0, rest);
    }

    const bool goesOn = state.sampleCounter < state.periodSamples || live.loop;
    state.busy = false;
    return goesOn ? BlockStatus::kPlay : BlockStatus::kEnded;
}

}  // namespace skarnel
