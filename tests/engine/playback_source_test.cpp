// The engine that plays on the render thread against the window's engine
// rendering the same blocks itself: a change the window makes between two
// blocks, published, gives the same samples as the change made in place,
// whatever the change restarts; and the handover never tears a value.
#include "engine/playback_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/crest_modulation.h"
#include "engine_test_support.h"

namespace skarnel {
namespace {

using testing::Prepare;
using testing::PrepareArgs;
using testing::SetChannel;

constexpr std::int32_t kBlockBytes = 4096;

// A stereo window playing pink 6:1 left, white 3:1 right through peaking
// filters, triangular modulation on the left.
void SetUpWindow(SignalEngine& e) {
    e.state.sampleRate = 48000;
    e.live.channelMode = kStereo;
    e.live.loop = true;
    SetChannel(e, kLeft, kPinkNoise, 4);
    SetChannel(e, kRight, kWhiteNoise, 2);
    e.live.filterType = {kFilterPeaking, kFilterPeaking};
    e.live.modulationOn[kLeft] = true;
    e.live.modFunction[kLeft] = kModTriangular;
    e.state.left().modPeriod = 0.05f;
    e.state.left().modDepth = 0.8f;
    PrepareArgs args;
    args.left = {"1000", "2", "-6"};
    args.right = {"200", "1", "6"};
    Prepare(e, args);
}

std::vector<std::uint8_t> Block(SignalEngine& e) {
    std::vector<std::uint8_t> block(kBlockBytes);
    e.FillBlock(block.data(), block.size());
    return block;
}

std::vector<std::uint8_t> Block(PlaybackSource& source) {
    std::vector<std::uint8_t> block(kBlockBytes);
    std::size_t signal = 0;
    EXPECT_TRUE(source.Fill(block.data(), kBlockBytes, signal));
    EXPECT_EQ(signal, block.size());  // Loop: every frame is the signal's
    return block;
}

// What a window does between blocks, applied to an engine.
using Change = void (*)(SignalEngine&);

TEST(PlaybackSource, ChangesBetweenBlocksPlayAsIfMadeInPlace) {
    const std::vector<std::pair<const char*, Change>> changes = {
        {"amplitude and gate",
         [](SignalEngine& e) {
             e.state.left().linearAmplitude = 0.25f;
             e.state.right().gate = 0;
         }},
        {"crest and modulation values",
         [](SignalEngine& e) {
             e.state.left().crestExponent = SelectCrestExponent(kPinkNoise, 6, 0.0f);
             e.state.left().modDepth = 0.3f;
             e.state.left().modPhase = 1.0f;
         }},
        {"live settings: noise function, mono",
         [](SignalEngine& e) {
             e.live.noiseFunction[kLeft] = kWhiteNoise;
             e.live.channelMode = kMono;
         }},
        {"a preparation (a new filter type) restarts the running state",
         [](SignalEngine& e) {
             e.live.filterType[kLeft] = kFilterHighPass;
             PrepareArgs args;
             args.left = {"500", "1", "0"};
             Prepare(e, args);
         }},
        {"switching modulation restarts its gain",
         [](SignalEngine& e) {
             e.live.modulationOn[kLeft] = false;
             e.state.left().modGain = 1.0f;
             ++e.state.left().modulationRestarts;
         }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        UniformRandom windowRandom(7), referenceRandom(7);
        SignalEngine window(windowRandom), reference(referenceRandom);
        SetUpWindow(window);
        SetUpWindow(reference);
        PlaybackSource source(windowRandom);
        source.Begin(window);
        for (int b = 0; b < 3; ++b) {
            ASSERT_EQ(Block(source), Block(reference)) << "block " << b;
        }
        change(window);
        change(reference);
        source.Publish(window);
        source.Publish(window);  // twice: a restart must not be taken twice
        for (int b = 3; b < 8; ++b) {
            ASSERT_EQ(Block(source), Block(reference)) << "block " << b;
        }
        EXPECT_EQ(source.engine().state.sampleCounter, reference.state.sampleCounter);
        EXPECT_EQ(windowRandom.seed(), referenceRandom.seed());
    }
}

// Without Loop the block that holds the period's end plays with its last
// frames as the signal; the next block does not play. The first blocks of
// a start keep the plain rule, but their signal frames still count.
TEST(PlaybackSource, ThePeriodsEndAndTheSignalFramesOfABlock) {
    UniformRandom random(1);
    SignalEngine window(random);
    window.state.sampleRate = 48000;
    window.live.loop = false;
    Prepare(window, {"0.05"});  // 2400 frames: 1.17 blocks of 2048 mono frames
    PlaybackSource source(random);
    source.Begin(window);
    std::vector<std::uint8_t> block(kBlockBytes);
    std::size_t signal = 0;
    EXPECT_TRUE(source.Fill(block.data(), kBlockBytes, signal));
    EXPECT_EQ(signal, 4096u);
    EXPECT_TRUE(source.Fill(block.data(), kBlockBytes, signal));
    EXPECT_EQ(signal, 2u * (2400 - 2048));
    EXPECT_FALSE(source.Fill(block.data(), kBlockBytes, signal));
    EXPECT_EQ(signal, 0u);

    source.Begin(window);  // the window's engine still starts at frame 0
    source.SetStarting(true);
    EXPECT_TRUE(source.Fill(block.data(), kBlockBytes, signal));
    EXPECT_FALSE(source.Fill(block.data(), kBlockBytes, signal));
    EXPECT_EQ(signal, 2u * (2400 - 2048));  // queued and heard all the same
}

// A reader taking values while a writer publishes as fast as it can sees
// every value whole and never an older one after a newer.
TEST(LatestValue, TheReaderGetsWholeValuesNewestLast) {
    struct Pair {
        std::uint64_t a = 0, b = 0;
    };
    LatestValue<Pair> value;
    constexpr std::uint64_t kCount = 200000;
    std::thread writer([&] {
        for (std::uint64_t i = 1; i <= kCount; ++i) {
            value.Back() = {i, ~i};
            value.Publish();
        }
    });
    std::uint64_t last = 0;
    bool whole = true, ordered = true;
    while (last < kCount) {
        if (value.TakeNewest()) {
            const Pair p = value.Front();
            whole = whole && p.b == ~p.a;
            ordered = ordered && p.a > last;
            last = p.a;
        }
    }
    writer.join();
    EXPECT_TRUE(whole);
    EXPECT_TRUE(ordered);
    EXPECT_FALSE(value.TakeNewest());  // nothing new after the last
}

}  // namespace
}  // namespace skarnel
