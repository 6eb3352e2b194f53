#include "engine/reference_renderer.h"
#include "export/wave_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "../engine/engine_test_support.h"

namespace skarnel {
namespace {

namespace fs = std::filesystem;
using testing::Prepare;
using testing::SetChannel;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::int16_t Sample(const std::vector<std::uint8_t>& b, std::size_t index) {
    return static_cast<std::int16_t>(U16(b, kWaveHeaderSize + 2 * index));
}

fs::path TempPath(const char* name) {
    return fs::path(SKARNEL_TEST_TMPDIR) / name;
}

TEST(WaveHeader, MonoEightKilohertzTenthOfASecond) {
    // The layout written out by hand: RIFF <1636> WAVE fmt <16> PCM 1ch 8000 16000 2 16 data
    // <1600>.
    const std::vector<std::uint8_t> expected = {
        'R', 'I', 'F', 'F', 0x64, 0x06, 0,   0,   'W', 'A',  'V',  'E',  'f', 'm',  't',
        ' ', 16,  0,   0,   0,    1,    0,   1,   0,   0x40, 0x1F, 0,    0,   0x80, 0x3E,
        0,   0,   2,   0,   16,   0,    'd', 'a', 't', 'a',  0x40, 0x06, 0,   0};
    const auto header = BuildWaveHeader(1, 8000, 800);
    EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), expected);
}

TEST(WaveWriter, MonoFileSizesAndSamplesMatchTheEngine) {
    UniformRandom random, reference;
    SignalEngine e(random), twin(reference);
    for (SignalEngine* x : {&e, &twin}) {
        x->state.sampleRate = 8000;
        SetChannel(*x, kLeft, kWhiteNoise, 4);
        x->state.left().gate = 0;  // mono ignores the gate
        Prepare(*x, {.duration = "0.1"});
    }
    const fs::path path = TempPath("mono.wav");
    const WaveWriteResult result = WriteWaveFile(e, path.string(), 0.1L);
    ASSERT_EQ(result.status, WaveWriteStatus::kCompleted) << result.message;
    const auto bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 1644u);
    EXPECT_EQ(U32(bytes, 4), 1636u);
    EXPECT_EQ(U32(bytes, 40), 1600u);
    const std::int16_t golden[] = {-32767, -10887, 129, -5, 0};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(Sample(bytes, i), golden[i]) << i;
    }
    for (std::size_t i = 0; i < 800; ++i) {
        std::int16_t frame[2];
        ReferenceRenderFrame(twin, false, false, kWhiteNoise, 10, frame);
        AdvanceFrameCounter(twin.state.sampleCounter);
        ASSERT_EQ(Sample(bytes, i), frame[0]) << i;
    }
    EXPECT_EQ(e.state.sampleCounter, 800);  // left at the end of the period
}

TEST(WaveWriter, StereoRunsBothChainsEvenWithAsLeft) {
    UniformRandom random;
    SignalEngine e(random);
    e.live.channelMode = kStereo;
    e.live.asLeft = true;  // playback would repeat the left sample; export does not
    SetChannel(e, kLeft, kWhiteNoise, 1);
    SetChannel(e, kRight, kWhiteNoise, 1);
    Prepare(e, {.duration = "5"});
    MemorySink sink;
    ASSERT_EQ(WriteWaveStream(e, sink, 5.0L).status, WaveWriteStatus::kCompleted);
    const auto& b = sink.bytes;
    ASSERT_EQ(b.size(), 44u + 882000u);
    EXPECT_EQ(U32(b, 4), 882036u);
    EXPECT_EQ(U16(b, 22), 2u);
    EXPECT_EQ(U32(b, 24), 44100u);
    EXPECT_EQ(U32(b, 28), 176400u);
    EXPECT_EQ(U16(b, 32), 4u);
    EXPECT_EQ(U32(b, 40), 882000u);
    int differing = 0;
    for (std::size_t f = 0; f < 1000; ++f) {
        differing += Sample(b, 2 * f) != Sample(b, 2 * f + 1);
    }
    EXPECT_GT(differing, 900);
}

TEST(WaveWriter, StereoAppliesTheGates) {
    UniformRandom random;
    SignalEngine e(random);
    e.live.channelMode = kStereo;
    SetChannel(e, kLeft, kPinkNoise, 4);
    SetChannel(e, kRight, kPinkNoise, 4);
    e.state.left().gate = 0;
    Prepare(e, {.duration = "0.1"});
    MemorySink sink;
    WriteWaveStream(e, sink, 0.1L);
    int rightNonZero = 0;
    for (std::size_t f = 0; f < 4410; ++f) {
        ASSERT_EQ(Sample(sink.bytes, 2 * f), 0) << f;
        rightNonZero += Sample(sink.bytes, 2 * f + 1) != 0;
    }
    EXPECT_GT(rightNonZero, 4000);
}

TEST(WaveWriter, ProgressEveryTenThousandFramesFromFrameZero) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e, {.duration = "1"});
    std::vector<std::pair<std::int32_t, int>> points;  // (frame counter, percent)
    WaveExportHooks hooks;
    hooks.progress = [&](int percent) { points.emplace_back(e.state.sampleCounter, percent); };
    MemorySink sink;
    WriteWaveStream(e, sink, 1.0L, hooks);
    const std::vector<std::pair<std::int32_t, int>> expected = {
        {0, 0}, {10000, 23}, {20000, 45}, {30000, 68}, {40000, 91}};
    EXPECT_EQ(points, expected);
}

TEST(WaveWriter, CancelDeletesThePartialFileAndClearsTheRequest) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e, {.duration = "2"});
    const fs::path path = TempPath("cancelled.wav");
    bool cancel = false;
    int progressCalls = 0;
    WaveExportHooks hooks;
    hooks.cancelRequested = &cancel;
    hooks.progress = [&](int) {
        if (++progressCalls == 2) {
            cancel = true;  // the user pressed Cancel while events were handled
        }
    };
    const WaveWriteResult result = WriteWaveFile(e, path.string(), 2.0L, hooks);
    EXPECT_EQ(result.status, WaveWriteStatus::kCancelled);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(progressCalls, 2);
    EXPECT_FALSE(fs::exists(path));

    // A cancelled render into a device leaves the device alone. Reached through
    // a link, so a faulty removal would take the link and never /dev/null.
    const fs::path device = TempPath("null-device.wav");
    fs::remove(device);
    fs::create_symlink("/dev/null", device);
    cancel = false;
    progressCalls = 0;
    EXPECT_EQ(WriteWaveFile(e, device.string(), 2.0L, hooks).status, WaveWriteStatus::kCancelled);
    EXPECT_TRUE(fs::is_symlink(device));
    fs::remove(device);
}

TEST(WaveWriter, UncreatableFileNamesTheFileAndTheReason) {
    SignalEngine e;
    const std::string path = TempPath("no-such-folder/out.wav").string();
    const WaveWriteResult result = WriteWaveFile(e, path, 1.0L);
    EXPECT_EQ(result.status, WaveWriteStatus::kCreateFailed);
    EXPECT_NE(result.message.find(path), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("No such file or directory"), std::string::npos)
        << result.message;
}

TEST(WaveWriter, WriteFailureIsReportedNotSwallowed) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e, {.duration = "1"});
    const WaveWriteResult result = WriteWaveFile(e, "/dev/full", 1.0L);
    EXPECT_EQ(result.status, WaveWriteStatus::kWriteFailed);
    EXPECT_EQ(result.message, "File Access Error, cannot write file.");
}

TEST(WaveWriter, RefusesAPeriodThatOverflowsTheSizeFieldsBeforeWriting) {
    SignalEngine e;
    e.live.channelMode = kStereo;
    e.state.sampleRate = 192000;
    const fs::path path = TempPath("too-long.wav");
    fs::remove(path);
    // 4 GiB of stereo 16-bit data is 1073741815 frames: about 5592 s at 192 kHz.
    const WaveWriteResult result = WriteWaveFile(e, path.string(), 5600.0L);
    EXPECT_EQ(result.status, WaveWriteStatus::kRefused);
    EXPECT_NE(result.message.find("5592 s"), std::string::npos) << result.message;
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(MaxWaveSeconds(2, 192000), 5592.0L);
    EXPECT_EQ(MaxWaveSeconds(1, 8000), 268435.0L);
}

}  // namespace
}  // namespace skarnel
