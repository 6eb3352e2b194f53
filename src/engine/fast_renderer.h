#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/engine_state.h"

namespace skarnel {

class SignalEngine;

// Frames rendered per pass of the fast renderer: its working arrays hold one
// pass, and are part of the engine so that nothing is allocated while it runs.
inline constexpr std::size_t kRenderChunkFrames = 256;

struct RenderScratch {
    template <typename T>
    using PerChannel = std::array<std::array<T, kRenderChunkFrames>, kChannelCount>;

    PerChannel<float> gain;      // modulation gain per frame
    PerChannel<float> modValue;  // the modulation function's value per frame
    std::array<long double, kRenderChunkFrames> phase;
    std::array<int, kRenderChunkFrames> quadrant;   // of each reduced angle
    std::array<double, kRenderChunkFrames> angle;   // the reduced angles
    std::array<double, kRenderChunkFrames> approx;  // double approximations of a stage
    std::array<float, kRenderChunkFrames> sum;
    std::array<std::uint8_t, kRenderChunkFrames> flags;  // values left to the defined way
    PerChannel<float> value;                             // source value before the crest shaping
    PerChannel<float> shaped;                            // source value after it
    PerChannel<std::int32_t> sample;
    // The pink rows each call saw, row-major, so the sums run across calls.
    std::array<std::array<std::array<float, kRenderChunkFrames>, kPinkRowCount>, kChannelCount>
        pinkRows;
};

// Renders `frames` consecutive frames from the engine's sampleCounter on,
// advancing it once per frame as the reference renderer does (without the
// period's end or loop), into out[2 * i] (left or mono) and out[2 * i + 1]
// (right; 0 in mono). Bit for bit the reference renderer's result, with the
// engine and the random generator left in the same state.
void RenderFramesFast(SignalEngine& engine, RenderScratch& scratch, bool stereo,
                      bool rightRepeatsLeft, int leftSelector, int rightSelector, std::int16_t* out,
                      std::size_t frames) noexcept;

}  // namespace skarnel
