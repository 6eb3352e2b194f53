#include "export/wave_writer.h"
#include "engine/reference_renderer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "../engine/engine_test_support.h"
#include "../support/as_unprivileged.h"

namespace skarnel {
namespace {

namespace fs = std::filesystem;
using testing::AsUnprivileged;
using testing::FolderContents;
using testing::InChild;
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

// A fresh folder named after the running test.
fs::path TestFolder() {
    const fs::path folder =
        TempPath("wave") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A result as text, so that one can come back from a child process.
std::string Outcome(const WaveWriteResult& result) {
    return std::to_string(static_cast<int>(result.status)) + " " + result.message;
}
std::string CreateFailed(const fs::path& path, const char* reason) {
    return Outcome({WaveWriteStatus::kCreateFailed,
                    "Cannot create file \"" + path.string() + "\". " + reason + "."});
}
const std::string kWriteFailed = Outcome({WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage});

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
        ReferenceRenderFrame(twin, {false, false, kWhiteNoise, 10}, frame);
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

// What the written hook sees is the data chunk as it went to the sink, in
// whole frames, header left out; stereo so a split frame would show.
TEST(WaveWriter, WrittenHookSeesTheDataChunkInWholeFrames) {
    UniformRandom random;
    SignalEngine e(random);
    e.live.channelMode = kStereo;
    SetChannel(e, kLeft, kWhiteNoise, 4);
    SetChannel(e, kRight, kPinkNoise, 2);
    Prepare(e, {.duration = "0.5"});
    std::vector<std::uint8_t> seen;
    bool wholeFrames = true;
    WaveExportHooks hooks;
    hooks.written = [&](const std::uint8_t* bytes, std::size_t size) {
        wholeFrames = wholeFrames && size % 4 == 0;
        seen.insert(seen.end(), bytes, bytes + size);
    };
    MemorySink sink;
    ASSERT_EQ(WriteWaveStream(e, sink, 0.5L, hooks).status, WaveWriteStatus::kCompleted);
    EXPECT_TRUE(wholeFrames);
    ASSERT_EQ(seen.size() + kWaveHeaderSize, sink.bytes.size());
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), sink.bytes.begin() + kWaveHeaderSize));
}

// Everything the chain keeps between frames, for comparing two engines.
void ExpectSameState(const SignalEngine& a, const SignalEngine& b, const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(a.state.sampleCounter, b.state.sampleCounter);
    EXPECT_EQ(const_cast<SignalEngine&>(a).random().seed(),
              const_cast<SignalEngine&>(b).random().seed());
    EXPECT_EQ(a.state.pinkRows, b.state.pinkRows);
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelEngineState& x = a.state.channels[c];
        const ChannelEngineState& y = b.state.channels[c];
        EXPECT_EQ(x.modGain, y.modGain) << c;
        EXPECT_EQ((std::array{x.x, x.x1, x.x2, x.y, x.y1, x.y2}),
                  (std::array{y.x, y.x1, y.x2, y.y, y.y1, y.y2}))
            << c;
    }
}

// Files are rendered with the sources a pass ahead on a second thread. The
// frames, and the engine at every progress point, at a cancel and at the
// end, must be exactly those of the frame-by-frame chain, for the heaviest
// stereo chain and for mono.
TEST(WaveWriter, FilesRenderedOnTwoThreadsEqualTheFrameByFrameChain) {
    for (const bool stereo : {true, false}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        UniformRandom random, reference;
        SignalEngine e(random), twin(reference);
        for (SignalEngine* x : {&e, &twin}) {
            x->live.channelMode = stereo ? kStereo : kMono;
            for (int c = 0; c < kChannelCount; ++c) {
                SetChannel(*x, c, c == kLeft ? kPinkNoise : kWhiteNoise, 6 - c);
                x->live.modulationOn[c] = true;
                x->live.modFunction[c] = c == kLeft ? kModTriangular : kModSquare;
                x->state.channels[c].modPeriod = 0.37f;
                x->live.filterType[c] = c == kLeft ? kFilterPeaking : kFilterBandPass;
            }
            Prepare(*x,
                    {.duration = "0.8", .left = {"1000", "3", "-10"}, .right = {"300", "2", "0"}});
        }
        const std::int64_t frames = 35280;  // 0.8 s at 44100 Hz: three progress points and a rest

        // The frame-by-frame chain, with its state at each progress point.
        std::vector<std::int16_t> expected;
        std::vector<std::unique_ptr<SignalEngine>> atPoints;
        std::vector<UniformRandom> pointRandoms(4);
        for (std::int64_t i = 0; i < frames; ++i) {
            std::int16_t frame[2];
            ReferenceRenderFrame(twin, {stereo, false, kPinkNoise, kRightSourceOffset}, frame);
            expected.insert(expected.end(), frame, frame + (stereo ? 2 : 1));
            if (i % kWaveProgressInterval == 0) {
                pointRandoms[atPoints.size()] = twin.random();
                atPoints.push_back(std::make_unique<SignalEngine>(pointRandoms[atPoints.size()]));
                atPoints.back()->state = twin.state;
            }
            AdvanceFrameCounter(twin.state.sampleCounter);
        }

        std::size_t point = 0;
        WaveExportHooks hooks;
        hooks.progress = [&](int) {
            ASSERT_LT(point, atPoints.size());
            ExpectSameState(e, *atPoints[point], "at a progress point");
            ++point;
        };
        MemorySink sink;
        ASSERT_EQ(WritePcmFrames(e, sink, frames, hooks).status, WaveWriteStatus::kCompleted);
        EXPECT_EQ(point, atPoints.size());
        ASSERT_EQ(sink.bytes.size(), 2 * expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(static_cast<std::int16_t>(sink.bytes[2 * i] | (sink.bytes[2 * i + 1] << 8)),
                      expected[i])
                << i;
        }
        ExpectSameState(e, twin, "at the end");

        // Cancelled at the third progress point (frame 20000): the engine is
        // as after that frame, which is not yet counted.
        Prepare(e, {.duration = "0.8", .left = {"1000", "3", "-10"}, .right = {"300", "2", "0"}});
        bool cancel = false;
        int calls = 0;
        hooks.cancelRequested = &cancel;
        hooks.progress = [&](int) { cancel = ++calls == 3; };
        UniformRandom startRandom = e.random();
        SignalEngine again(startRandom);
        again.state = e.state;
        again.live = e.live;
        for (std::int64_t i = 0; i <= 2 * kWaveProgressInterval; ++i) {
            std::int16_t frame[2];
            ReferenceRenderFrame(again, {stereo, false, kPinkNoise, kRightSourceOffset}, frame);
            if (i < 2 * kWaveProgressInterval) {
                AdvanceFrameCounter(again.state.sampleCounter);
            }
        }
        MemorySink partial;
        EXPECT_EQ(WritePcmFrames(e, partial, frames, hooks).status, WaveWriteStatus::kCancelled);
        EXPECT_EQ(partial.bytes.size(), (2 * kWaveProgressInterval + 1) * (stereo ? 4u : 2u));
        ExpectSameState(e, again, "after a cancel");
    }
}

// A sink that checks every byte it is given against the frame-by-frame
// chain as the bytes arrive, so a long render needs no copy of the file.
class ReferenceCheckingSink : public ByteSink {
public:
    explicit ReferenceCheckingSink(SignalEngine& reference) : reference_(reference) {}

    bool Write(const std::uint8_t* data, std::size_t size) override {
        for (std::size_t at = 0; at < size && mismatchAt_ < 0; at += 4) {
            std::int16_t frame[2];
            ReferenceRenderFrame(reference_,
                                 {true, false, kPinkNoise, kRightSourceOffset + kPinkNoise}, frame);
            AdvanceFrameCounter(reference_.state.sampleCounter);
            for (int c = 0; c < 2; ++c) {
                const auto got =
                    static_cast<std::int16_t>(data[at + 2 * c] | (data[at + 2 * c + 1] << 8));
                if (got != frame[c]) {
                    mismatchAt_ = frames_;
                }
            }
            ++frames_;
        }
        return true;
    }
    bool Flush() override { return true; }

    std::int64_t frames() const { return frames_; }
    std::int64_t mismatchAt() const { return mismatchAt_; }

private:
    SignalEngine& reference_;
    std::int64_t frames_ = 0;
    std::int64_t mismatchAt_ = -1;
};

// Ten minutes of the heaviest chain at 48 kHz stereo (pink 10:1, peaking
// filter, triangular modulation on both channels), rendered on two threads,
// against the frame-by-frame chain: 57.6 million samples. About a minute, so
// it runs with SKARNEL_LONG_TESTS=1 (as CI does).
TEST(WaveWriter, TenMinutesOfTheHeaviestChainEqualTheFrameByFrameChain) {
    const char* longTests = std::getenv("SKARNEL_LONG_TESTS");
    if (longTests == nullptr || std::string(longTests) != "1") {
        GTEST_SKIP() << "set SKARNEL_LONG_TESTS=1 to compare ten minutes";
    }
    UniformRandom random, reference;
    SignalEngine e(random), twin(reference);
    for (SignalEngine* x : {&e, &twin}) {
        x->state.sampleRate = 48000;
        x->live.channelMode = kStereo;
        for (int c = 0; c < kChannelCount; ++c) {
            SetChannel(*x, c, kPinkNoise, 6);
            x->live.modulationOn[c] = true;
            x->live.modFunction[c] = kModTriangular;
            x->state.channels[c].modPeriod = 2.0f;
            x->live.filterType[c] = kFilterPeaking;
        }
        Prepare(*x,
                {.duration = "600", .left = {"1000", "3", "-10"}, .right = {"1000", "3", "-10"}});
    }
    ReferenceCheckingSink sink(twin);
    ASSERT_EQ(WritePcmFrames(e, sink, 600 * 48000).status, WaveWriteStatus::kCompleted);
    EXPECT_EQ(sink.frames(), 600 * 48000);
    EXPECT_EQ(sink.mismatchAt(), -1) << "first differing frame";
    ExpectSameState(e, twin, "at the end");
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

TEST(WaveWriter, AnExistingFileIsReplacedWholeOrLeftAsItWas) {
    UniformRandom random;
    SignalEngine e(random);
    e.state.sampleRate = 8000;
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e, {.duration = "2"});
    const fs::path folder = TestFolder();
    const fs::path file = folder / "take.wav";
    const fs::path link = folder / "link.wav";
    WriteFile(file, std::string(5000, 'o'));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("take.wav", link);
    const auto before = FolderContents(folder);

    bool cancel = false;
    WaveExportHooks hooks;
    hooks.cancelRequested = &cancel;
    hooks.progress = [&](int percent) { cancel = percent > 0; };  // at the second point
    EXPECT_EQ(WriteWaveFile(e, link.string(), 2.0L, hooks).status, WaveWriteStatus::kCancelled);
    EXPECT_EQ(FolderContents(folder), before);

    const WaveWriteResult done = WriteWaveFile(e, link.string(), 2.0L);
    ASSERT_EQ(done.status, WaveWriteStatus::kCompleted) << done.message;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::file_size(file), 44u + 2u * 16000u);
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FolderContents(folder).size(), 2u);  // nothing left beside them
}

TEST(WaveWriter, FailuresAreReportedAndLeaveExistingFilesAsTheyWere) {
    UniformRandom random;
    SignalEngine e(random);
    SetChannel(e, kLeft, kWhiteNoise, 4);
    Prepare(e, {.duration = "1"});  // 88244 bytes
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(Outcome(WriteWaveFile(e, "/dev/full", 1.0L)), kWriteFailed);
    }
    const fs::path folder = TestFolder();
    const fs::path taken = folder / "taken.wav";  // a folder in the file's place
    fs::create_directory(taken);
    WriteFile(taken / "inside", "i");
    // The disk fills up while a good file is being replaced.
    const fs::path good = folder / "good.wav";
    WriteFile(good, std::string(100000, 'g'));
    // A folder that cannot be written, and a write-protected file in one that can.
    const fs::path locked = folder / "locked";
    fs::create_directory(locked);
    WriteFile(locked / "old.wav", "old");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    const fs::path open = folder / "open";
    fs::create_directory(open);
    WriteFile(open / "protected.wav", "protected");
    fs::permissions(open / "protected.wav", fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(open, fs::perms::all);
    const auto before = FolderContents(folder);

    EXPECT_EQ(Outcome(WriteWaveFile(e, taken.string(), 1.0L)),
              CreateFailed(taken, "Is a directory"));
    EXPECT_EQ(InChild([&] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  rlimit limit{};
                  ::getrlimit(RLIMIT_FSIZE, &limit);
                  limit.rlim_cur = 40000;
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  return Outcome(WriteWaveFile(e, good.string(), 1.0L));
              }),
              kWriteFailed);
    const std::optional<std::string> denied = AsUnprivileged([&] {
        return Outcome(WriteWaveFile(e, (locked / "new.wav").string(), 1.0L)) + "\n" +
               Outcome(WriteWaveFile(e, (locked / "old.wav").string(), 1.0L)) + "\n" +
               Outcome(WriteWaveFile(e, (open / "protected.wav").string(), 1.0L));
    });
    const auto after = FolderContents(folder);
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(after, before);
    if (!denied) {
        GTEST_SKIP() << "root cannot give up its rights here";
    }
    EXPECT_EQ(*denied, CreateFailed(locked / "new.wav", "Permission denied") + "\n" +
                           CreateFailed(locked / "old.wav", "Permission denied") + "\n" +
                           CreateFailed(open / "protected.wav", "Permission denied"));
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
