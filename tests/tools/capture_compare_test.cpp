// skarnel-capture-compare's comparison: recordings built from a known signal
// with the faults a sound server shows (silence before the signal, frames
// dropped, silence in their place, a stream cut short, a flipped sample) must
// each be told apart and counted exactly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "capture_compare/capture_compare.h"

namespace skarnel::capture {
namespace {

constexpr std::size_t kFrameBytes = 4;  // 16-bit stereo

// `frames` frames of noise-like data with no all-zero frame.
Bytes Signal(std::size_t frames) {
    Bytes out;
    std::uint32_t seed = 12345;
    for (std::size_t f = 0; f < frames * kFrameBytes; ++f) {
        seed = seed * 134775813u + 1u;
        out.push_back(static_cast<std::uint8_t>(seed >> 24 | 1u));
    }
    return out;
}

Bytes Silence(std::size_t frames) {
    return Bytes(frames * kFrameBytes, 0);
}

Bytes Slice(const Bytes& b, std::size_t fromFrame, std::size_t toFrame) {
    return {b.begin() + static_cast<std::ptrdiff_t>(fromFrame * kFrameBytes),
            b.begin() + static_cast<std::ptrdiff_t>(toFrame * kFrameBytes)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

class CaptureCompareTest : public ::testing::Test {
protected:
    const Bytes render = Signal(20000);
    CompareOptions options;
};

TEST_F(CaptureCompareTest, WholeSignalAfterLeadingSilenceIsBitExact) {
    // A trailing partial frame is what a recorder killed mid-write leaves.
    Bytes recording = Join({Silence(700), render, Silence(300)});
    recording.push_back(7);
    const CompareResult r = Compare(recording, render, options);
    ASSERT_TRUE(r.found) << r.problem;
    EXPECT_TRUE(r.BitExact()) << Describe(r, 48000);
    EXPECT_EQ(r.recordingOffset, 700u);
    EXPECT_EQ(r.leadingSilentFrames, 700u);
    EXPECT_EQ(r.comparedFrames, 20000u);
    EXPECT_EQ(r.matchedFrames, 20000u);
    EXPECT_NE(Describe(r, 48000).find("bit-exact"), std::string::npos);
}

TEST_F(CaptureCompareTest, EachKindOfBreakIsCountedApart) {
    // Frames 1000..1255 dropped without a trace.
    {
        const Bytes rec = Join({Slice(render, 0, 1000), Slice(render, 1256, 20000)});
        const CompareResult r = Compare(rec, render, options);
        ASSERT_EQ(r.breaks.size(), 1u) << Describe(r, 48000);
        const Break& b = r.breaks[0];
        EXPECT_EQ(b.renderFrame, 1000u);
        EXPECT_EQ(b.droppedFrames, 256u);
        EXPECT_EQ(b.insertedFrames, 0u);
        EXPECT_TRUE(b.resumed);
        EXPECT_EQ(r.LostFrames(), 256u);
        EXPECT_NE(Describe(r, 48000).find("256 frames (1 x 256"), std::string::npos);
    }
    // An underrun: 1024 frames lost and 1500 frames of silence played instead,
    // then a second, smaller loss.
    {
        const Bytes rec = Join({Slice(render, 0, 3000), Silence(1500), Slice(render, 4024, 9000),
                                Slice(render, 9512, 20000)});
        const CompareResult r = Compare(rec, render, options);
        ASSERT_EQ(r.breaks.size(), 2u) << Describe(r, 48000);
        EXPECT_EQ(r.breaks[0].renderFrame, 3000u);
        EXPECT_EQ(r.breaks[0].droppedFrames, 1024u);
        EXPECT_EQ(r.breaks[0].insertedFrames, 1500u);
        EXPECT_EQ(r.breaks[0].silentInserted, 1500u);
        EXPECT_EQ(r.breaks[1].renderFrame, 9000u);
        EXPECT_EQ(r.breaks[1].recordingFrame, 3000u + 1500u + 4976u);
        EXPECT_EQ(r.breaks[1].droppedFrames, 512u);
        EXPECT_EQ(r.LostFrames(), 1536u);
        EXPECT_EQ(r.InsertedFrames(), 1500u);
        EXPECT_EQ(r.matchedFrames, 20000u - 1536u);
        EXPECT_NE(Describe(r, 48000).find("1024 frames (4 x 256, 21.333 ms)"), std::string::npos);
    }
    // Silence put in without losing any sample: a gap, nothing dropped.
    {
        const Bytes rec = Join({Slice(render, 0, 5000), Silence(64), Slice(render, 5000, 20000)});
        const CompareResult r = Compare(rec, render, options);
        ASSERT_EQ(r.breaks.size(), 1u);
        EXPECT_EQ(r.breaks[0].droppedFrames, 0u);
        EXPECT_EQ(r.breaks[0].insertedFrames, 64u);
        EXPECT_FALSE(r.BitExact());
    }
    // One wrong byte: one frame replaced, not silence.
    {
        Bytes rec = render;
        rec[12345 * kFrameBytes + 1] ^= 0x40;
        const CompareResult r = Compare(rec, render, options);
        ASSERT_EQ(r.breaks.size(), 1u);
        EXPECT_EQ(r.breaks[0].renderFrame, 12345u);
        EXPECT_EQ(r.breaks[0].droppedFrames, 1u);
        EXPECT_EQ(r.breaks[0].insertedFrames, 1u);
        EXPECT_EQ(r.breaks[0].silentInserted, 0u);
    }
}

TEST_F(CaptureCompareTest, ASignalCutShortIsALossUnlessTheRecorderStoppedFirst) {
    // The stream stopped 768 frames early and the recorder caught silence.
    const Bytes stopped = Join({Silence(10), Slice(render, 0, 19232), Silence(4000)});
    CompareResult r = Compare(stopped, render, options);
    ASSERT_EQ(r.breaks.size(), 1u) << Describe(r, 48000);
    EXPECT_FALSE(r.breaks[0].resumed);
    EXPECT_EQ(r.breaks[0].droppedFrames, 768u);
    EXPECT_EQ(r.breaks[0].silentInserted, 4000u);
    EXPECT_EQ(r.InsertedFrames(), 0u);
    EXPECT_NE(Describe(r, 48000).find("never resumes"), std::string::npos);

    // The recording ends while the signal still plays.
    const Bytes early = Slice(render, 0, 15000);
    r = Compare(early, render, options);
    ASSERT_EQ(r.breaks.size(), 1u);
    EXPECT_EQ(r.breaks[0].droppedFrames, 5000u);
    options.recordingMayEndFirst = true;
    r = Compare(early, render, options);
    EXPECT_TRUE(r.BitExact()) << Describe(r, 48000);
    EXPECT_EQ(r.comparedFrames, 15000u);

    // Only the played length counts: frames past it may be anything.
    options.recordingMayEndFirst = false;
    options.playedFrames = 15000;
    r = Compare(Join({early, Signal(3)}), render, options);
    EXPECT_TRUE(r.BitExact()) << Describe(r, 48000);
}

TEST_F(CaptureCompareTest, ASignalStartingLateIsALossOrALaterPlayback) {
    const Bytes rec = Join({Silence(2000), Slice(render, 7001, 12000)});
    options.recordingMayEndFirst = true;
    // Played from the start: the first 7001 frames never arrived.
    CompareResult r = Compare(rec, render, options);
    ASSERT_TRUE(r.found) << r.problem;
    ASSERT_EQ(r.breaks.size(), 1u) << Describe(r, 48000);
    EXPECT_EQ(r.breaks[0].renderFrame, 0u);
    EXPECT_EQ(r.breaks[0].recordingFrame, 2000u);
    EXPECT_EQ(r.breaks[0].droppedFrames, 7001u);
    EXPECT_EQ(r.matchedFrames, 4999u);

    // A later playback of the same process: the noise goes on from there.
    options.anchor = Anchor::kAnywhere;
    r = Compare(rec, render, options);
    ASSERT_TRUE(r.found) << r.problem;
    EXPECT_TRUE(r.BitExact()) << Describe(r, 48000);
    EXPECT_EQ(r.renderOffset, 7001u);
    EXPECT_EQ(r.recordingOffset, 2000u);
    EXPECT_EQ(r.matchedFrames, 4999u);

    r = Compare(Silence(5000), render, options);
    EXPECT_FALSE(r.found);
    EXPECT_NE(r.problem.find("no signal"), std::string::npos);
    r = Compare(Join({Silence(5), Signal(300)}), Slice(render, 1000, 2000), options);
    EXPECT_FALSE(r.found);
    EXPECT_NE(r.problem.find("nowhere in the render"), std::string::npos);
}

// A little-endian RIFF/WAVE file with an extra odd-sized chunk before "data".
Bytes Wave(std::uint16_t blockAlign, std::uint32_t rate, const Bytes& samples) {
    Bytes out;
    const auto tag = [&out](const char* t) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<std::uint8_t>(t[i]));
        }
    };
    const auto le = [&out](std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    };
    tag("RIFF");
    le(0, 4);
    tag("WAVE");
    tag("fmt ");
    le(16, 4);
    le(1, 2);
    le(blockAlign / 2, 2);
    le(rate, 4);
    le(rate * blockAlign, 4);
    le(blockAlign, 2);
    le(16, 2);
    tag("LIST");
    le(3, 4);
    out.insert(out.end(), {1, 2, 3, 0});  // padded to even
    tag("data");
    le(static_cast<std::uint32_t>(samples.size()), 4);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

TEST(CaptureWaveTest, ReadsFormatAndDataPastOtherChunksAndRejectsOthers) {
    const Bytes samples = Signal(10);
    std::string error;
    const std::optional<WaveData> wave = ParseWave(Wave(4, 48000, samples), error);
    ASSERT_TRUE(wave) << error;
    EXPECT_EQ(wave->frameBytes, 4u);
    EXPECT_EQ(wave->sampleRate, 48000u);
    EXPECT_EQ(wave->samples, samples);

    // A recorder stopped before it wrote the sizes.
    Bytes unsized = Wave(4, 48000, samples);
    std::fill(unsized.end() - static_cast<std::ptrdiff_t>(samples.size()) - 4,
              unsized.end() - static_cast<std::ptrdiff_t>(samples.size()), 0);
    const std::optional<WaveData> open = ParseWave(unsized, error);
    ASSERT_TRUE(open) << error;
    EXPECT_EQ(open->samples, samples);

    EXPECT_FALSE(ParseWave(samples, error));
    EXPECT_EQ(error, "not a RIFF/WAVE file");
    Bytes noData = Wave(2, 11025, {});
    noData.resize(noData.size() - 8);
    EXPECT_FALSE(ParseWave(noData, error));
    EXPECT_EQ(error, "no data chunk");
}

}  // namespace
}  // namespace skarnel::capture
