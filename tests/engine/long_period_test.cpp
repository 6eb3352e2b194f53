#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/reference_renderer.h"
#include "engine_test_support.h"

namespace skarnel {
namespace {

using testing::SetChannel;

constexpr std::int64_t kTwo31 = std::int64_t{1} << 31;
constexpr std::int64_t kTwo32 = std::int64_t{1} << 32;

// Renders `frames` mono frames of a long period from `counter` on, through
// the block renderer, and returns the samples.
std::vector<std::int16_t> RenderFrom(SignalEngine& e, std::int64_t counter, std::size_t frames) {
    e.state.periodSamples = 4 * kTwo32;
    e.state.sampleCounter = counter;
    std::vector<std::uint8_t> block(2 * frames);
    EXPECT_EQ(e.FillBlock(block.data(), block.size()), BlockStatus::kPlay);
    EXPECT_EQ(e.state.sampleCounter, counter + static_cast<std::int64_t>(frames));
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<std::int16_t>(block[2 * i] | (block[2 * i + 1] << 8));
    }
    return samples;
}

// The pink rows are redrawn on a schedule that repeats every 2048 frames, so
// from the same generator state and rows, frames from 2^31 - 2043 or 2^32 + 5
// on sound exactly like frames 5 on. A counter that stops (or wraps) at 2^31
// redraws a fixed set of rows at every frame from there on instead.
TEST(LongPeriod, PinkRowScheduleRunsOnPastTwoToThe31) {
    for (const std::int64_t start : {kTwo31 - 2048 + 5, kTwo32 + 5}) {
        UniformRandom firstRandom, laterRandom;
        SignalEngine first(firstRandom), later(laterRandom);
        for (SignalEngine* e : {&first, &later}) {
            SetChannel(*e, kLeft, kPinkNoise, 4);
            e->state.pinkRows.fill(0.5f);
        }
        const std::size_t frames = 3 * 2048;
        EXPECT_EQ(RenderFrom(later, start, frames), RenderFrom(first, 5, frames)) << start;
        EXPECT_EQ(later.state.pinkRows, first.state.pinkRows) << start;
    }
}

// A 1 Hz square modulation at full depth at 48 kHz silences every other
// half second. It goes on doing so across frame 2^31 (12.4 h), where a
// counter that stops would hold the gain at one value.
TEST(LongPeriod, ModulationKeepsItsRhythmAcrossTwoToThe31) {
    UniformRandom random;
    SignalEngine e(random);
    e.state.sampleRate = 48000;
    SetChannel(e, kLeft, kWhiteNoise, 0);  // "1.42:1": uniform, seldom 0
    e.live.modulationOn[kLeft] = true;
    e.live.modFunction[kLeft] = kModSquare;
    e.state.left().modPeriod = 1.0f;
    e.state.left().modDepth = 1.0f;

    // Two whole cycles on either side of 2^31, in half-second steps: the
    // middle quarter second of each step is silent or loud as the sine's
    // sign there says.
    const std::int64_t start = kTwo31 / 48000 * 48000 - 2 * 48000;
    const std::vector<std::int16_t> s = RenderFrom(e, start, 4 * 48000);
    for (int step = 0; step < 8; ++step) {
        const std::int64_t n = start + step * 24000 + 12000;
        const bool sineIsPositive = (n % 48000) < 24000;
        int loud = 0;
        for (std::int64_t i = n - 6000; i < n + 6000; ++i) {
            loud += s[static_cast<std::size_t>(i - start)] != 0 ? 1 : 0;
        }
        if (sineIsPositive) {
            EXPECT_EQ(loud, 0) << "step " << step;
        } else {
            EXPECT_GT(loud, 11000) << "step " << step;
        }
    }
}

}  // namespace
}  // namespace skarnel
