#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/frame_plan.h"

namespace skarnel {

class SignalEngine;

// Frames rendered per pass of the fast renderer: its working arrays hold one
// pass, and are part of the engine so that nothing is allocated while it runs.
inline constexpr std::size_t kRenderChunkFrames = 256;

// A pink row column is filled in blocks of this many frames, and padded for
// the last block.
inline constexpr std::size_t kPinkHoldBlock = 8;

struct alignas(64) RenderScratch {
    template <typename T>
    using PerChannel = std::array<std::array<T, kRenderChunkFrames>, kChannelCount>;

    PerChannel<float> gain;      // modulation gain per frame
    PerChannel<float> modValue;  // the modulation function's value per frame
    std::array<long double, kRenderChunkFrames> phase;
    std::array<int, kRenderChunkFrames> quadrant;   // of each reduced angle
    std::array<double, kRenderChunkFrames> angle;   // the reduced angles
    std::array<double, kRenderChunkFrames> approx;  // double approximations of a stage
    std::array<float, kRenderChunkFrames> sum;
    std::array<float, kRenderChunkFrames> pinkValue;  // from a pink channel's row sums
    PerChannel<float> value;                          // source value before the crest shaping
    PerChannel<float> shaped;                         // source value after it
    PerChannel<std::int32_t> sample;
    // The pink rows each call saw, row-major, so the sums run across calls.
    std::array<std::array<std::array<float, kRenderChunkFrames + kPinkHoldBlock>, kPinkRowCount>,
               kChannelCount>
        pinkRows;
    // The generator's states of a pass: at most two calls per frame, each
    // drawing row 0 and at most three other pink rows.
    std::array<std::uint32_t, kChannelCount * 4 * kRenderChunkFrames> seeds;
    std::array<std::array<std::uint32_t, kRenderChunkFrames>, kChannelCount>
        firstDraw;  // where each call's draws start, per frame
    std::array<std::uint32_t, kRenderChunkFrames> callSeeds;  // a call's first draw per frame
    std::array<float, kChannelCount * 4 * kRenderChunkFrames> rowValues;  // the seeds as rows
};

// Renders `frames` consecutive frames from the engine's sampleCounter on,
// advancing it once per frame as the reference renderer does (without the
// period's end or loop), into out[2 * i] (left or mono) and out[2 * i + 1]
// (right; 0 in mono). Bit for bit the reference renderer's result, with the
// engine and the random generator left in the same state.
void RenderFramesFast(SignalEngine& engine, RenderScratch& scratch, const FramePlan& plan,
                      std::int16_t* out, std::size_t frames) noexcept;

struct LiveSettings;

// The same frames in two halves, which may run on two threads one pass
// apart. The draw half (modulation gains, random draws, source values before
// the crest shaping) changes only the random generator, the pink rows, each
// channel's modulation gain and the frame counter; the shape half (crest
// shaping, scaling, filter, gates) changes only each channel's x and filter
// memory. Drawing frames and then shaping them gives exactly what
// RenderFramesFast gives.
//
// Whether `frames` frames from the current counter can be rendered in
// halves: not when both calls of a frame address one channel (a noise
// function outside the lists), nor next to the counter's largest value.
bool SourcesSplitFromFilters(const SignalEngine& engine, const FramePlan& plan,
                             std::size_t frames) noexcept;

// Per channel, arrays of a run of frames: the modulation gains (of a
// modulated channel; the others keep their gain) and the source values before
// the crest shaping, or for a pink channel the sums of its rows, which the
// shape half turns into values. Channels that do not run are untouched.
struct SourceValues {
    float* gain[kChannelCount];
    float* value[kChannelCount];
};

// The draw half of `frames` frames, advancing the counter by `frames`.
void DrawSourceValuesFast(SignalEngine& engine, RenderScratch& scratch, const FramePlan& plan,
                          const SourceValues& out, std::size_t frames) noexcept;

// The shape half of the same frames, into out as RenderFramesFast writes it.
void ShapeFilterAndInterleave(EngineState& state, const LiveSettings& live, RenderScratch& scratch,
                              const FramePlan& plan, const SourceValues& in, std::int16_t* out,
                              std::size_t frames) noexcept;

}  // namespace skarnel
