#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/channel_values.h"
#include "engine/reference_renderer.h"
#include "engine_test_support.h"

namespace skarnel {
namespace {

using testing::Prepare;
using testing::RenderStream;
using testing::SetChannel;

// The first rendering of a process: mono white "6:1" at 0 dBFS, no filter,
// no modulation.
TEST(BlockRenderer, FirstSamplesOfAProcess) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e);
    const std::vector<std::int16_t> s = RenderStream(e, 5, 10);
    EXPECT_EQ(s, (std::vector<std::int16_t>{-32767, -10887, 129, -5, 0}));
    EXPECT_EQ(e.state.sampleCounter, 5);
}

// Stereo pink with every stage switched on, the heaviest chain.
void SetUpBusyStereo(SignalEngine& e) {
    e.state.sampleRate = 44100;
    e.live.channelMode = kStereo;
    e.live.loop = true;
    for (int c = 0; c < kChannelCount; ++c) {
        SetChannel(e, c, c == kLeft ? kPinkNoise : kWhiteNoise, 6 - c);
        e.live.modulationOn[c] = true;
        e.live.modFunction[c] = c == kLeft ? kModTriangular : kModSine;
        e.state.channels[c].modPeriod = 0.01f;  // short, so blocks cut through cycles
        e.state.channels[c].modDepth = 0.5f;
        e.state.channels[c].linearAmplitude = LinearAmplitude(-3.0L);
    }
    e.live.filterType = {kFilterPeaking, kFilterLowPass};
    Prepare(e, {.duration = "0.1", .left = {"1000", "3", "-10"}, .right = {"3000", "0.7", "0"}});
}

TEST(BlockRenderer, BlocksAreSeamlessWhateverTheirSize) {
    // 0.1 s at 44100 Hz with Loop on: the streams also cross a loop of the period.
    const std::size_t frames = 3 * 4410 + 77;
    std::vector<std::int16_t> reference;
    for (std::size_t blockBytes : {4096u, 8192u, 64536u, 4u, 4u * 333u, 4u * 4409u}) {
        UniformRandom random;
        SignalEngine e(random);
        SetUpBusyStereo(e);
        const std::vector<std::int16_t> stream = RenderStream(e, frames, blockBytes);
        if (reference.empty()) {
            reference = stream;
            continue;
        }
        ASSERT_EQ(stream, reference) << "block of " << blockBytes << " bytes";
    }
    // A stream that is all zeros would pass the comparison trivially.
    EXPECT_GT(std::count_if(reference.begin(), reference.end(), [](int v) { return v != 0; }),
              20000);
}

TEST(BlockRenderer, LoopRestartsThePeriodWithinABlock) {
    UniformRandom randomA, randomB;
    SignalEngine looped(randomA), restarted(randomB);
    for (SignalEngine* e : {&looped, &restarted}) {
        e->state.sampleRate = 8000;
        SetChannel(*e, kLeft, kPinkNoise, 4);  // pink: the row schedule follows the counter
        e->live.modulationOn[kLeft] = true;
        e->live.modFunction[kLeft] = kModSquare;
        e->state.left().modPeriod = 0.03f;
        Prepare(*e, {.duration = "0.1"});  // 800 frames
    }
    looped.live.loop = true;
    std::vector<std::uint8_t> block(2 * 1000);
    EXPECT_EQ(looped.FillBlock(block.data(), block.size()), BlockStatus::kPlay);
    EXPECT_EQ(looped.state.sampleCounter, 200);

    // The same frames, with the counter put back to 0 by hand after frame 799.
    std::vector<std::uint8_t> first(2 * 800), second(2 * 200);
    restarted.live.loop = true;
    restarted.FillBlock(first.data(), first.size());
    EXPECT_EQ(restarted.state.sampleCounter, 0);
    restarted.FillBlock(second.data(), second.size());
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(block, first);
}

// Two engines with generators of their own, both with mono white noise on
// the left and prepared: one renders the way under test, the other the way
// it must agree with.
class BlockRendererEdge : public ::testing::Test {
protected:
    BlockRendererEdge() {
        Both([](SignalEngine& e) {
            SetChannel(e, kLeft, kWhiteNoise, 4);
            Prepare(e);
        });
    }

    template <typename Change>
    void Both(Change change) {
        change(tested);
        change(expected);
    }

    UniformRandom testedRandom, expectedRandom;
    SignalEngine tested{testedRandom}, expected{expectedRandom};
};

// A period as long as the frame counter reaches: the counter stops at its
// limit, which is then the period's end, so Loop restarts it after that one
// frame, as it does at any other period's end.
TEST_F(BlockRendererEdge, LoopRestartsAPeriodEndingAtTheCounterLimitAfterOneFrame) {
    Both([](SignalEngine& e) {
        e.state.periodSamples = INT64_MAX;
        e.state.sampleCounter = INT64_MAX;
        e.live.loop = true;
    });
    std::vector<std::uint8_t> bytes(2 * 300);
    EXPECT_EQ(tested.FillBlock(bytes.data(), bytes.size()), BlockStatus::kPlay);
    EXPECT_EQ(tested.state.sampleCounter, 299);

    // The frame at the limit, then the period from its start.
    std::vector<std::int16_t> frames(2 * 300);
    expected.RenderFrames({false, false, kWhiteNoise, kRightSourceOffset}, frames.data(), 1);
    expected.state.sampleCounter = 0;
    expected.RenderFrames({false, false, kWhiteNoise, kRightSourceOffset}, frames.data() + 2, 299);
    for (std::size_t i = 0; i < 300; ++i) {
        ASSERT_EQ(static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)), frames[2 * i])
            << i;
    }
    EXPECT_EQ(testedRandom.seed(), expectedRandom.seed());
}

// Without a sample rate the modulation's phase cannot be formed, and the
// gain stays as it was, as with a period of 0.
TEST_F(BlockRendererEdge, ModulationWithoutASampleRateKeepsTheGainAsDefined) {
    Both([](SignalEngine& e) {
        e.state.sampleRate = 0;
        e.state.left().modGain = 0.5f;
        e.live.modulationOn[kLeft] = true;
        e.live.modFunction[kLeft] = kModSine;
    });
    std::vector<std::int16_t> got(2 * 300), want(2 * 300);
    tested.RenderFrames({false, false, kWhiteNoise, kRightSourceOffset}, got.data(), 300);
    ReferenceRenderFrames(expected, {false, false, kWhiteNoise, kRightSourceOffset}, want.data(),
                          300);
    EXPECT_EQ(got, want);
    EXPECT_EQ(tested.state.left().modGain, 0.5f);
}

TEST(BlockRenderer, EndOfPeriodWithoutLoop) {
    UniformRandom random;
    SignalEngine e(random);
    e.live.channelMode = kStereo;
    SetChannel(e, kLeft, kWhiteNoise, 0);
    SetChannel(e, kRight, kWhiteNoise, 0);
    Prepare(e, {.duration = "5"});
    ASSERT_EQ(e.state.periodSamples, 220500);
    std::vector<std::uint8_t> block(4096);   // 1024 stereo frames
    const int blocksBefore = 220499 / 1024;  // 215 whole blocks before frame 220499's block
    for (int b = 0; b < blocksBefore; ++b) {
        ASSERT_EQ(e.FillBlock(block.data(), block.size()), BlockStatus::kPlay) << b;
    }
    ASSERT_EQ(e.FillBlock(block.data(), block.size()), BlockStatus::kEnded);
    const std::size_t lastFrame = 220499 - blocksBefore * 1024;
    EXPECT_TRUE(std::any_of(block.begin(), block.begin() + 4 * lastFrame + 4,
                            [](auto v) { return v != 0; }));
    EXPECT_TRUE(std::all_of(block.begin() + 4 * (lastFrame + 1), block.end(),
                            [](auto v) { return v == 0; }));
    // Later calls write silence and keep reporting the end.
    std::fill(block.begin(), block.end(), 0xAB);
    EXPECT_EQ(e.FillBlock(block.data(), block.size()), BlockStatus::kEnded);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](auto v) { return v == 0; }));
    // Loop switched on by then: the result follows Loop as read at the end.
    e.live.loop = true;
    EXPECT_EQ(e.FillBlock(block.data(), block.size()), BlockStatus::kPlay);
}

TEST(BlockRenderer, GatesApplyInStereoOnly) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 2);
    SetChannel(e, kRight, kPinkNoise, 2);
    e.state.left().gate = 0;
    e.live.channelMode = kStereo;
    Prepare(e);
    const auto stereo = RenderStream(e, 500, 4096);
    for (std::size_t i = 0; i < stereo.size(); i += 2) {
        ASSERT_EQ(stereo[i], 0) << "frame " << i / 2;
    }
    EXPECT_GT(std::count_if(stereo.begin(), stereo.end(), [](int v) { return v != 0; }), 400);

    e.live.channelMode = kMono;
    e.state.left().gate = 0;
    e.state.right().gate = 0;
    Prepare(e);
    const auto mono = RenderStream(e, 500, 4096);
    EXPECT_GT(std::count_if(mono.begin(), mono.end(), [](int v) { return v != 0; }), 400);
}

TEST(BlockRenderer, AsLeftRepeatsTheLeftSampleAndDrawsNothingForTheRight) {
    UniformRandom random, reference;
    SignalEngine e(random), leftOnly(reference);
    for (SignalEngine* x : {&e, &leftOnly}) {
        SetChannel(*x, kLeft, kPinkNoise, 5);
        x->live.filterType[kLeft] = kFilterPeaking;
        Prepare(*x, {.left = {"200", "5", "12"}});
    }
    e.live.channelMode = kStereo;
    e.live.asLeft = true;
    SetChannel(e, kRight, kWhiteNoise, 0);  // ignored while "= Left" is on
    e.state.right().gate = 0;
    const auto stereo = RenderStream(e, 3000, 8192);
    const auto mono = RenderStream(leftOnly, 3000, 8192);
    for (std::size_t f = 0; f < 3000; ++f) {
        ASSERT_EQ(stereo[2 * f], stereo[2 * f + 1]) << f;
        ASSERT_EQ(stereo[2 * f], mono[f]) << f;
    }
    EXPECT_EQ(random.seed(), reference.seed());
}

TEST(BlockRenderer, SilentChannelDrawsNothingButItsFilterRingsOut) {
    UniformRandom random;
    SignalEngine e(random);
    e.live.noiseFunction[kLeft] = -1;  // no item selected
    e.live.filterType[kLeft] = kFilterBandPass;
    Prepare(e, {.left = {"1000", "50", "0"}});
    e.state.left().y1 = 20000;  // energy left in the filter
    const auto s = RenderStream(e, 200, 4096);
    EXPECT_EQ(random.seed(), 0u);
    EXPECT_NE(s[0], 0);
    EXPECT_NE(s[100], 0);
    e.live.filterType[kLeft] = kFilterNone;
    EXPECT_EQ(RenderStream(e, 10, 4096), std::vector<std::int16_t>(10, 0));
}

// This asserted wrapped samples before (the low 16 bits of y, of the other
// sign just past full scale); every out-of-range sample is now clipped.
TEST(BlockRenderer, LoudFilterClipsToTheNearestEndAndCountsIt) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 0);
    e.live.filterType[kLeft] = kFilterPeaking;
    Prepare(e, {.left = {"1000", "0.5", "40"}});
    std::uint64_t outOfRange = 0;
    for (int i = 0; i < 20000; ++i) {
        std::uint8_t frame[2];
        e.FillBlock(frame, sizeof frame);
        // The filter keeps its own unclipped output.
        const std::int32_t y = e.state.left().y;
        const auto sample = static_cast<std::int16_t>(frame[0] | (frame[1] << 8));
        ASSERT_EQ(sample, std::clamp<std::int32_t>(y, -32768, 32767)) << i;
        outOfRange += static_cast<std::uint64_t>(y > 32767 || y < -32768);
    }
    EXPECT_GT(outOfRange, 1000U);
    EXPECT_EQ(e.state.clippedSamples[kLeft], outOfRange);
    EXPECT_EQ(e.state.clippedSamples[kRight], 0U);
}

TEST(BlockRenderer, ReentryStopsWithoutTouchingTheBuffer) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e);
    bool busyDuringCallback = false;
    int calls = 0;
    e.onReentry = [&] {
        ++calls;
        busyDuringCallback = e.state.busy;
    };
    e.state.busy = true;  // a fill still running further up the stack
    std::vector<std::uint8_t> block(64, 0xCD);
    EXPECT_EQ(e.FillBlock(block.data(), block.size()), BlockStatus::kReentered);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(busyDuringCallback);
    EXPECT_FALSE(e.state.busy);
    EXPECT_EQ(block, std::vector<std::uint8_t>(64, 0xCD));
    EXPECT_EQ(e.state.sampleCounter, 0);
    EXPECT_EQ(random.seed(), 0u);
}

TEST(BlockRenderer, RendersWholeFramesOnlyAndNeverWritesBeyondSize) {
    UniformRandom random;
    SignalEngine e(random);
    e.live.channelMode = kStereo;
    SetChannel(e, kLeft, kWhiteNoise, 4);
    SetChannel(e, kRight, kWhiteNoise, 4);
    Prepare(e);
    // 4095 bytes: 1023 frames and 3 bytes that are no frame; a guard after them.
    std::vector<std::uint8_t> buffer(4095 + 16, 0xEE);
    e.FillBlock(buffer.data(), 4095);
    EXPECT_EQ(e.state.sampleCounter, 1023);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 4092, buffer.begin() + 4095),
              std::vector<std::uint8_t>(3, 0));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 4095, buffer.end()),
              std::vector<std::uint8_t>(16, 0xEE));
    EXPECT_EQ(e.FillBlock(nullptr, 0), BlockStatus::kPlay);
    EXPECT_EQ(e.state.sampleCounter, 1023);
}

}  // namespace
}  // namespace skarnel
