#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/signal_engine.h"

namespace skarnel {

// The signal computed the straightforward way: one sample at a time, every
// intermediate in the precision the signal is defined in (float32 values,
// extended-precision arithmetic). It is the definition the fast block renderer
// must reproduce bit for bit, and the oracle of the tests; the fast renderer
// also falls back to it for settings outside its fast path.

// One sample of one channel before narrowing to 16 bits: modulation gain,
// source with crest shaping, amplitude scaling, filter. Reads but does not
// advance sampleCounter.
std::int32_t ReferenceRenderSample(SignalEngine& engine, int sourceSelector) noexcept;

// The current frame into out[0] (left or mono) and out[1] (right): narrowed
// to 16 bits with saturation (counted in clippedSamples), gates applied in
// stereo only. When the plan repeats the left sample the right chain is not run and the right
// sample repeats the left one.
void ReferenceRenderFrame(SignalEngine& engine, const FramePlan& plan,
                          std::int16_t out[2]) noexcept;

// `frames` frames from sampleCounter on into out[2 * i] and out[2 * i + 1],
// each by ReferenceRenderFrame, advancing sampleCounter after each (without
// the period's end or loop).
void ReferenceRenderFrames(SignalEngine& engine, const FramePlan& plan, std::int16_t* out,
                           std::size_t frames) noexcept;

// The block renderer with the frames rendered by the reference (see
// SignalEngine::FillBlock).
BlockStatus ReferenceFillBlock(SignalEngine& engine, std::uint8_t* buffer, std::size_t size);

}  // namespace skarnel
