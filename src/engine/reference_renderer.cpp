#include "engine/reference_renderer.h"

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

void ReferenceRenderFrame(SignalEngine& engine, const FramePlan& plan,
                          std::int16_t out[2]) noexcept {
    std::uint64_t* clipped = engine.state.clippedSamples.data();
    if (!plan.stereo) {
        out[0] = Saturate16(ReferenceRenderSample(engine, plan.leftSelector), clipped[kLeft]);
        out[1] = 0;
        return;
    }
    const EngineState& state = engine.state;
    // Gates are 0 or 1, but a 64-bit product cannot overflow whatever they hold.
    std::uint64_t leftClipped = 0;
    out[0] = Saturate16(
        std::int64_t{ReferenceRenderSample(engine, plan.leftSelector)} * state.left().gate,
        leftClipped);
    clipped[kLeft] += leftClipped;
    if (plan.rightRepeatsLeft) {
        out[1] = out[0];  // the left sample, clipped alike
        clipped[kRight] += leftClipped;
        return;
    }
    out[1] = Saturate16(
        std::int64_t{ReferenceRenderSample(engine, plan.rightSelector)} * state.right().gate,
        clipped[kRight]);
}

void ReferenceRenderFrames(SignalEngine& engine, const FramePlan& plan, std::int16_t* out,
                           std::size_t frames) noexcept {
    for (std::size_t i = 0; i < frames; ++i) {
        ReferenceRenderFrame(engine, plan, out + 2 * i);
        AdvanceFrameCounter(engine.state.sampleCounter);
    }
}

BlockStatus ReferenceFillBlock(SignalEngine& engine, std::uint8_t* buffer, std::size_t size) {
    return FillBlockWith(engine, &ReferenceRenderFrames, buffer, size);
}

}  // namespace skarnel
