// Samples past full scale leave the block renderer clipped to the nearest end
// of the 16-bit range, never wrapped, with each build of its array stages;
// every other sample, the filter memory and the random draws are those of
// the unclipped computation; the clip count is the number of samples that
// differ from it. (The file render's path: skarnel-render's tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "engine/channel_values.h"
#include "engine/reference_renderer.h"
#include "engine/vector_stages.h"
#include "engine_test_support.h"

namespace skarnel::testing {
namespace {

constexpr std::int32_t kRate = 48000;
constexpr int kCrest142 = 0;  // "1.42:1"

// A set-up the window can play: per channel a noise, crest choice and
// filter at 0 dBFS.
struct Signal {
    int mode = kMono;
    bool asLeft = false;
    int noise[2] = {kWhiteNoise, kWhiteNoise};
    int filter[2] = {kFilterHighPass, kFilterNone};
    FilterTexts texts[2] = {{"1000", "1", "0"}, {"1000", "1", "0"}};
    int crest[2] = {kCrest142, kCrest142};
    bool rightOn = true;
};

void Configure(SignalEngine& e, const Signal& s) {
    e.state.sampleRate = kRate;
    e.live.channelMode = s.mode;
    e.live.asLeft = s.asLeft;
    e.live.loop = true;
    for (int c = 0; c < kChannelCount; ++c) {
        SetChannel(e, c, s.noise[c], s.crest[c]);
        e.live.filterType[c] = s.filter[c];
    }
    e.state.right().gate = s.rightOn ? 1 : 0;
    Prepare(e, {.duration = "10", .left = s.texts[0], .right = s.texts[1]});
}

// What the renderer narrows: each frame's samples before narrowing, computed
// one at a time by the reference, the right one repeating the left with
// "= Left", interleaved (0 on the right in mono).
std::vector<std::int64_t> Unnarrowed(SignalEngine& e, std::size_t frames) {
    const bool stereo = e.live.channelMode == kStereo;
    std::vector<std::int64_t> out;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int64_t left =
            std::int64_t{ReferenceRenderSample(e, e.live.noiseFunction[kLeft])} *
            (stereo ? e.state.left().gate : 1);
        out.push_back(left);
        if (!stereo) {
            out.push_back(0);
        } else if (e.live.asLeft) {
            out.push_back(left);
        } else {
            out.push_back(std::int64_t{ReferenceRenderSample(
                              e, e.live.noiseFunction[kRight] + kRightSourceOffset)} *
                          e.state.right().gate);
        }
        AdvanceFrameCounter(e.state.sampleCounter);
    }
    return out;
}

struct Clips {
    std::uint64_t count[2] = {0, 0};
};

// Every sample is the unnarrowed value clipped to the range; returns how
// many were clipped per channel.
Clips ExpectClippedOnly(const std::vector<std::int16_t>& got,
                        const std::vector<std::int64_t>& unnarrowed, const char* path) {
    Clips clips;
    EXPECT_EQ(got.size(), unnarrowed.size()) << path;
    for (std::size_t i = 0; i < std::min(got.size(), unnarrowed.size()); ++i) {
        const std::int64_t want = std::clamp<std::int64_t>(unnarrowed[i], -32768, 32767);
        clips.count[i % 2] += static_cast<std::uint64_t>(want != unnarrowed[i]);
        if (got[i] != want) {
            ADD_FAILURE() << path << ": sample " << i << " is " << got[i] << ", unclipped "
                          << unnarrowed[i];
            break;
        }
    }
    return clips;
}

std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes, bool stereo) {
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
        if (!stereo) {
            out.push_back(0);
        }
    }
    return out;
}

// The channels' filter memory and the generator as the unclipped
// computation leaves them.
void ExpectSameRunningState(const SignalEngine& a, const SignalEngine& b, const UniformRandom& ra,
                            const UniformRandom& rb) {
    EXPECT_EQ(ra.seed(), rb.seed());
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelEngineState& x = a.state.channels[c];
        const ChannelEngineState& y = b.state.channels[c];
        EXPECT_EQ(std::tie(x.x, x.x1, x.x2, x.y, x.y1, x.y2),
                  std::tie(y.x, y.x1, y.x2, y.y, y.y1, y.y2))
            << "channel " << c;
    }
}

const Signal kCases[] = {
    // The high pass of the report: white 1.42:1, 1 kHz, mono.
    {},
    // Stereo: white through a 1 kHz notch, pink through a 100 Hz high pass.
    {.mode = kStereo,
     .noise = {kWhiteNoise, kPinkNoise},
     .filter = {kFilterNotch, kFilterHighPass},
     .texts = {{"1000", "1", "0"}, {"100", "1", "0"}}},
    // "= Left": the right channel plays the left one's clipped samples.
    {.mode = kStereo, .asLeft = true},
    // The right channel unticked: silent, nothing clipped there.
    {.mode = kStereo, .filter = {kFilterHighPass, kFilterHighPass}, .rightOn = false},
};

class SaturationBuild : public ::testing::TestWithParam<VectorPath> {
protected:
    void SetUp() override {
        if (!UseVectorPath(GetParam())) {
            GTEST_SKIP() << "this processor does not run this build";
        }
    }
    void TearDown() override { UseVectorPath(chosen_); }

private:
    VectorPath chosen_ = ActiveVectorStages().path;
};

INSTANTIATE_TEST_SUITE_P(EveryBuild, SaturationBuild,
                         ::testing::Values(VectorPath::kDefault, VectorPath::kAvx2,
                                           VectorPath::kAvx512));

// Device blocks, as playback makes them.
TEST_P(SaturationBuild, BlocksClipWhatOverflowsAndKeepTheRest) {
    constexpr std::size_t kFrames = 3 * kRate;
    for (std::size_t n = 0; n < std::size(kCases); ++n) {
        const Signal& setup = kCases[n];
        UniformRandom random, referenceRandom;
        auto engine = std::make_unique<SignalEngine>(random);
        auto reference = std::make_unique<SignalEngine>(referenceRandom);
        Configure(*engine, setup);
        Configure(*reference, setup);
        const bool stereo = setup.mode == kStereo;
        const std::size_t frameBytes = stereo ? 4 : 2;
        std::vector<std::uint8_t> bytes(kFrames * frameBytes);
        for (std::size_t at = 0; at < bytes.size(); at += 16384) {
            engine->FillBlock(bytes.data() + at, std::min<std::size_t>(16384, bytes.size() - at));
        }
        const std::vector<std::int64_t> unnarrowed = Unnarrowed(*reference, kFrames);
        const Clips clips = ExpectClippedOnly(Samples(bytes, stereo), unnarrowed, "blocks");
        EXPECT_GT(clips.count[kLeft], kFrames / 200) << "case " << n;
        EXPECT_EQ(engine->state.clippedSamples[kLeft], clips.count[kLeft]) << "case " << n;
        EXPECT_EQ(engine->state.clippedSamples[kRight], clips.count[kRight]) << "case " << n;
        if (setup.asLeft) {
            EXPECT_EQ(clips.count[kRight], clips.count[kLeft]);
        }
        if (!stereo || !setup.rightOn) {
            EXPECT_EQ(clips.count[kRight], 0u);
        }
        ExpectSameRunningState(*engine, *reference, random, referenceRandom);
    }
}

// Within range nothing is clipped or counted: the default white 6:1 without
// a filter.
TEST(Saturation, ASignalWithinRangeCountsNoClip) {
    Signal setup;
    setup.crest[kLeft] = 4;  // "6:1"
    setup.filter[kLeft] = kFilterNone;
    UniformRandom random, referenceRandom;
    SignalEngine engine(random), reference(referenceRandom);
    Configure(engine, setup);
    Configure(reference, setup);
    const std::vector<std::int16_t> got = RenderStream(engine, kRate, 16384);
    const std::vector<std::int64_t> unnarrowed = Unnarrowed(reference, kRate);
    for (std::size_t i = 0; i < unnarrowed.size(); i += 2) {
        ASSERT_EQ(got[i / 2], unnarrowed[i]) << i / 2;
    }
    EXPECT_EQ(engine.state.clippedSamples[kLeft], 0u);
    EXPECT_EQ(engine.state.clippedSamples[kRight], 0u);
}

}  // namespace
}  // namespace skarnel::testing
