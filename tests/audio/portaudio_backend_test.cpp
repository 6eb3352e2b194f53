#include "audio/portaudio_backend.h"
#include "stream_contract.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <portaudio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/portaudio_session.h"
#include "audio/portaudio_stream.h"
#include "private_alsa_config.h"

// These tests play through PortAudio's ALSA host API into an ALSA
// configuration of their own (ALSA_CONFIG_PATH) whose default device is
// ALSA's file plug-in over the null device: every byte written lands in a
// capture file, and nothing paces the stream. The machine's sound setup (a
// desktop's PipeWire, PulseAudio or JACK plug-ins) is not read. ALSA reads its
// configuration once per process, so it is written before the first back-end
// exists; the file plug-in empties the capture at every open, so each test
// reads only what its own playback wrote.

namespace skarnel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(10);

class CaptureHome : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/skarnel-portaudio-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        // The test's own default: a file over the null device.
        testing::UsePrivateAlsaConfig(
            home_ / "alsa.conf",
            "pcm.!default { type file; slave.pcm \"null\"; format \"raw\"; file { @func "
            "getenv vars [ SKARNEL_TEST_CAPTURE ] default \"" +
                CapturePath().string() + "\" } }");
        setenv("HOME", home_.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(home_, ignored);
    }
    static fs::path CapturePath() { return home_ / "cap.raw"; }

private:
    static inline fs::path home_;
};

const auto* const kCaptureHome = ::testing::AddGlobalTestEnvironment(new CaptureHome);

std::vector<std::uint8_t> Captured() {
    std::ifstream in(CaptureHome::CapturePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

WaveFormat Pcm(std::uint16_t channels, std::uint16_t bits, std::uint32_t rate = 44100) {
    WaveFormat f;
    f.channels = channels;
    f.bitsPerSample = bits;
    f.samplesPerSec = rate;
    f.blockAlign = static_cast<std::uint16_t>(channels * (bits / 8));
    f.avgBytesPerSec = f.blockAlign * rate;
    return f;
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration patience = kPatience) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Deterministic bytes that differ from their neighbours, so a lost, repeated
// or shifted byte shows.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

constexpr StreamOptions kQuarterMegabyteBuffers{"test", 256 * 1024, 4};

// A stream opened on the default output, and the bytes it is to play, which
// it is handed as a player would: as much as it takes at a time.
class OpenStream {
public:
    OpenStream(PortAudioBackend& backend, std::vector<std::uint8_t> bytes,
               const StreamOptions& options = kQuarterMegabyteBuffers,
               const WaveFormat& format = Pcm(2, 16))
        : bytes(std::move(bytes)) {
        EXPECT_EQ(backend.Open(kDefaultWaveDevice, format, options, wakeup, stream), kDeviceOk);
    }

    // Writes what the stream takes now of the bytes not yet written.
    void Feed() {
        const std::size_t n = std::min(stream->Writable(), bytes.size() - written);
        if (n > 0) {
            ASSERT_EQ(stream->Write(bytes.data() + written, n), kDeviceOk);
            written += n;
        }
    }

    // Feeds until every byte is written and played.
    bool PlayToTheEnd(Clock::duration patience = kPatience) {
        return WaitUntil(
            [&] {
                Feed();
                return written == bytes.size() && stream->PlayedBytes() == written;
            },
            patience);
    }

    std::vector<std::uint8_t> bytes;
    std::size_t written = 0;
    std::shared_ptr<QueueWakeup> wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;
};

// ---------------------------------------------------------------- start-up and device list

TEST(PortAudioBackend, StartsOpensAndClosesWithoutWritingToStandardError) {
    std::fflush(stderr);
    const int saved = dup(2);
    ASSERT_GE(saved, 0);
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    dup2(fileno(sink), 2);
    {
        PortAudioBackend backend;
        backend.DeviceCount();
        std::unique_ptr<HostStream> stream;
        if (backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, std::make_shared<QueueWakeup>(),
                         stream) == kDeviceOk) {
            const std::vector<std::uint8_t> bytes = Pattern(4096, 1);
            stream->Write(bytes.data(), bytes.size());
            stream->Start();
            WaitUntil([&] { return stream->PlayedBytes() == bytes.size(); });
            stream.reset();
        }
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string printed(4096, '\0');
    std::rewind(sink);
    printed.resize(std::fread(printed.data(), 1, printed.size(), sink));
    std::fclose(sink);
    EXPECT_EQ(printed, "");
}

// The contract every back-end keeps through the one queue, on ALSA's file
// device, which takes samples as fast as they come (no real-time check).
TEST(PortAudioBackend, KeepsTheStreamContract) {
    PortAudioBackend backend;
    testing::CheckStreamContract({backend, kDefaultWaveDevice, 48000, false});
}

TEST(PortAudioBackend, ListsTheConfiguredDefaultAsAnOutputDevice) {
    PortAudioBackend backend;
    const std::uint32_t count = backend.DeviceCount();
    ASSERT_GE(count, 1u);
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
        names.push_back(backend.DeviceName(i));
        EXPECT_LE(names.back().size(), kMaxDeviceNameLength);
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "default"), names.end());
    EXPECT_EQ(backend.DeviceName(count), "");
}

// ---------------------------------------------------------------- open failures and messages

TEST(PortAudioBackend, OpenRefusesUnknownDevicesAndSampleWidths) {
    PortAudioBackend backend;
    const auto wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;

    const DeviceResult outOfRange =
        backend.Open(backend.DeviceCount(), Pcm(2, 16), {}, wakeup, stream);
    EXPECT_EQ(outOfRange, kDeviceBadId);
    EXPECT_NE(backend.ErrorText(outOfRange), "");

    EXPECT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 32), {}, wakeup, stream), kWaveBadFormat);
    EXPECT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 12), {}, wakeup, stream), kWaveBadFormat);
    WaveFormat inconsistent = Pcm(2, 16);
    inconsistent.blockAlign = 2;
    EXPECT_EQ(backend.Open(kDefaultWaveDevice, inconsistent, {}, wakeup, stream), kWaveBadFormat);

    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(wakeup.use_count(), 1);  // a failed open keeps nothing
}

TEST(PortAudioBackend, ErrorTextExplainsOwnAndPortAudioCodes) {
    PortAudioBackend backend;
    EXPECT_EQ(backend.ErrorText(kWaveStillPlaying), StandardErrorText(kWaveStillPlaying));
    EXPECT_EQ(backend.ErrorText(PortAudioBackend::CodeForPaError(paInvalidSampleRate)),
              "Invalid sample rate");
    EXPECT_EQ(backend.ErrorText(PortAudioBackend::CodeForPaError(paDeviceUnavailable)),
              Pa_GetErrorText(paDeviceUnavailable));
    // Distinct PortAudio errors must not collapse onto one code.
    EXPECT_NE(PortAudioBackend::CodeForPaError(paInvalidSampleRate),
              PortAudioBackend::CodeForPaError(paInvalidChannelCount));
    EXPECT_GE(PortAudioBackend::CodeForPaError(paNotInitialized), kFirstBackendError);
    for (std::uint32_t unknown : {3u, 0x0FFFu, kFirstBackendError + 99, 0x7FFFFFFFu}) {
        EXPECT_EQ(backend.ErrorText(unknown),
                  "Unknown audio device error " + std::to_string(unknown));
    }
}

// ---------------------------------------------------------------- the stream

// All of the player's buffers at once and not a byte more, even where they
// last longer than two seconds (11025 Hz mono, 4 x 16384 bytes: 2.97 s);
// nothing plays before Start, and then every byte once, in order.
TEST(PortAudioStream, TakesThePlayersBuffersWholeAndPlaysNothingBeforeStart) {
    PortAudioBackend backend;
    const WaveFormat format = Pcm(1, 16, 11025);
    OpenStream s(backend, Pattern(4 * 16384, 3), {"test", 16384, 4}, format);
    ASSERT_NE(s.stream, nullptr);
    HostStream& stream = *s.stream;
    ASSERT_EQ(stream.Writable(), s.bytes.size());

    EXPECT_EQ(stream.Write(s.bytes.data(), 1), kDeviceInvalidParameter);  // half a frame
    EXPECT_EQ(stream.Write(nullptr, 2), kDeviceInvalidParameter);
    const std::vector<std::uint8_t> tooMuch(s.bytes.size() + 2);
    EXPECT_EQ(stream.Write(tooMuch.data(), tooMuch.size()), kDeviceInvalidParameter);
    ASSERT_EQ(stream.Write(s.bytes.data(), s.bytes.size()), kDeviceOk);
    s.written = s.bytes.size();
    EXPECT_EQ(stream.Writable(), 0u);
    EXPECT_EQ(stream.Write(s.bytes.data(), 2), kDeviceInvalidParameter);

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(stream.PlayedBytes(), 0u);
    EXPECT_TRUE(Captured().empty());

    ASSERT_EQ(stream.Start(), kDeviceOk);
    std::uint64_t last = 0;
    ASSERT_TRUE(WaitUntil([&] {
        const std::uint64_t played = stream.PlayedBytes();
        EXPECT_GE(played, last);
        EXPECT_LE(played, s.written);
        last = played;
        return played == s.written;
    }));
    EXPECT_EQ(stream.Writable(), s.bytes.size());
    EXPECT_EQ(stream.Failure(), kDeviceOk);
    s.stream.reset();
    EXPECT_EQ(Captured(), s.bytes);
}

TEST(PortAudioStream, PauseHaltsInPlaceAndResumeContinues) {
    PortAudioBackend backend;
    OpenStream s(backend, Pattern(4 * 1024 * 1024, 4));
    ASSERT_NE(s.stream, nullptr);
    HostStream& stream = *s.stream;

    // Paused from the start: nothing plays, although the sink never holds up.
    ASSERT_EQ(stream.SetPaused(true), kDeviceOk);
    s.Feed();
    ASSERT_EQ(stream.Start(), kDeviceOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(stream.PlayedBytes(), 0u);
    EXPECT_TRUE(Captured().empty());

    // Paused again once some has played: nothing more plays or reaches the
    // sink while it lasts.
    ASSERT_EQ(stream.SetPaused(false), kDeviceOk);
    ASSERT_TRUE(WaitUntil([&] {
        s.Feed();
        return stream.PlayedBytes() > 0;
    }));
    ASSERT_EQ(stream.SetPaused(true), kDeviceOk);
    const std::uint64_t pausedAt = stream.PlayedBytes();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::size_t capturedAtPause = Captured().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(stream.PlayedBytes(), pausedAt);
    EXPECT_EQ(Captured().size(), capturedAtPause);
    EXPECT_LT(capturedAtPause, s.bytes.size());

    ASSERT_EQ(stream.SetPaused(false), kDeviceOk);
    ASSERT_TRUE(s.PlayToTheEnd());
    s.stream.reset();
    // Resuming continued where the pause left off.
    EXPECT_EQ(Captured(), s.bytes);
}

TEST(PortAudioStream, FlushDropsEverythingAtOnceAndLeavesTheStreamPlaying) {
    PortAudioBackend backend;
    OpenStream s(backend, Pattern(4 * 1024 * 1024, 5));
    ASSERT_NE(s.stream, nullptr);
    HostStream& stream = *s.stream;

    ASSERT_EQ(stream.SetPaused(true), kDeviceOk);
    s.Feed();
    ASSERT_EQ(stream.Start(), kDeviceOk);
    ASSERT_GT(s.written, 0u);
    EXPECT_EQ(stream.PlayedBytes(), 0u);
    const auto start = Clock::now();
    ASSERT_EQ(stream.Flush(), kDeviceOk);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
    // What was dropped counts as played, at once.
    EXPECT_EQ(stream.PlayedBytes(), s.written);
    EXPECT_TRUE(WaitUntil([&] { return stream.Writable() == 4 * 256 * 1024; }));

    // The flush left the stream playing, not paused.
    const std::vector<std::uint8_t> after = Pattern(8192, 6);
    ASSERT_EQ(stream.Write(after.data(), after.size()), kDeviceOk);
    const std::uint64_t total = s.written + after.size();
    EXPECT_TRUE(WaitUntil([&] { return stream.PlayedBytes() == total; }));
    s.stream.reset();
    EXPECT_EQ(Captured(), after);
}

TEST(PortAudioStream, FlushDuringPlaybackDropsTheRestAndPlaysWhatFollowsAfresh) {
    PortAudioBackend backend;
    // Where the writer stands when the flush comes is up to the scheduler;
    // several rounds make it likely that one lands in the middle of a write.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        OpenStream s(backend, Pattern(4 * 1024 * 1024, static_cast<std::uint32_t>(round)));
        ASSERT_NE(s.stream, nullptr);
        HostStream& stream = *s.stream;
        s.Feed();
        ASSERT_EQ(stream.Start(), kDeviceOk);
        ASSERT_TRUE(WaitUntil([&] {
            s.Feed();
            return stream.PlayedBytes() > 0;
        }));
        ASSERT_EQ(stream.Flush(), kDeviceOk);
        EXPECT_EQ(stream.PlayedBytes(), s.written);

        // The next bytes play from their first on the restarted stream.
        const std::vector<std::uint8_t> after = Pattern(64 * 1024, 100);
        std::size_t afterWritten = 0;
        ASSERT_TRUE(WaitUntil([&] {
            const std::size_t n = std::min(stream.Writable(), after.size() - afterWritten);
            EXPECT_EQ(stream.Write(after.data() + afterWritten, n), kDeviceOk);
            afterWritten += n;
            return afterWritten == after.size() && stream.PlayedBytes() == s.written + after.size();
        }));
        s.stream.reset();
        const std::vector<std::uint8_t> captured = Captured();
        ASSERT_GE(captured.size(), after.size());
        EXPECT_TRUE(std::equal(after.begin(), after.end(), captured.end() - after.size()));
    }
}

// Destruction ends the stream and its thread before it returns when the host
// lets it: nothing of the stream holds the player's wake-up afterwards.
TEST(PortAudioStream, DestructionEndsThePlayingOrPausedStreamPromptly) {
    PortAudioBackend backend;
    for (bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        OpenStream s(backend, Pattern(4 * 1024 * 1024, 7));
        ASSERT_NE(s.stream, nullptr);
        s.Feed();
        ASSERT_EQ(s.stream->Start(), kDeviceOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (paused) {
            ASSERT_EQ(s.stream->SetPaused(true), kDeviceOk);
        }
        const auto start = Clock::now();
        s.stream.reset();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_EQ(s.wakeup.use_count(), 1);
    }
}

// A host that stops taking samples: the capture is a pipe nobody reads, so
// the writer is held up inside Pa_WriteStream once the pipe is full. Flush
// still returns at once and destruction in bounded time; the writer closes
// the stream when the host lets it go.
TEST(PortAudioStream, AHostThatStopsTakingSamplesCannotHangFlushOrDestruction) {
    const fs::path fifo = CaptureHome::CapturePath().parent_path() / "stuck.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    setenv("SKARNEL_TEST_CAPTURE", fifo.c_str(), 1);
    PortAudioBackend backend;
    // 128 KB, twice what the pipe holds; destruction waits 1 s beyond their
    // 0.74 s and the host's (at most half of that).
    OpenStream s(backend, Pattern(4 * 1024 * 1024, 8), {"test", 32 * 1024, 4});
    unsetenv("SKARNEL_TEST_CAPTURE");
    ASSERT_NE(s.stream, nullptr);
    HostStream& stream = *s.stream;
    s.Feed();
    ASSERT_EQ(stream.Start(), kDeviceOk);
    const auto feedUntil = Clock::now() + std::chrono::milliseconds(300);
    while (Clock::now() < feedUntil) {
        s.Feed();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LT(stream.PlayedBytes(), s.written);  // held up
    EXPECT_EQ(stream.Writable(), 0u);

    const auto start = Clock::now();
    ASSERT_EQ(stream.Flush(), kDeviceOk);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(stream.PlayedBytes(), s.written);
    s.stream.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_GT(s.wakeup.use_count(), 1);  // the writer still holds the stream's state

    // Reading the pipe lets the writer go; it closes the stream (the pipe
    // then reads as ended) and lets go of what it held.
    std::array<char, 65536> sink{};
    EXPECT_TRUE(WaitUntil([&] { return read(reader, sink.data(), sink.size()) == 0; }));
    close(reader);
    EXPECT_TRUE(WaitUntil([&] { return s.wakeup.use_count() == 1; }));
}

// ---------------------------------------------------------------- a host call that returns late

// A host whose write (blocking stream) or is-active call (callback stream)
// blocks until the test releases it, then fails. The gate is the test's and
// the host's: the host belongs to the stream and may outlive it.
struct HostGate {
    void Enter() {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool Await(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kPatience, done);
    }
    void Note(bool closing = false) {
        std::lock_guard<std::mutex> lock(mutex);
        callsAfterClose += closed ? 1 : 0;
        closes += closing ? 1 : 0;
        closed = closed || closing;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    bool closed = false;
    int closes = 0;
    int callsAfterClose = 0;
};

class StuckHost final : public PortAudioHost {
public:
    StuckHost(std::shared_ptr<HostGate> gate, PortAudioFeed feed)
        : gate_(std::move(gate)), feed_(feed) {}

    PaError StartStream() override { return Noted(paNoError); }
    PaError AbortStream() override { return Noted(paNoError); }
    PaError CloseStream() override {
        gate_->Note(true);
        return paNoError;
    }
    PaError IsStreamActive() override {
        gate_->Note();
        if (feed_ != PortAudioFeed::kCallback) {
            return 1;
        }
        gate_->Enter();
        return paInternalError;
    }
    PaError WriteStream(const void*, unsigned long) override {
        gate_->Note();
        gate_->Enter();
        return paUnanticipatedHostError;
    }
    signed long GetStreamWriteAvailable() override { return Noted(4096); }

private:
    template <typename T>
    T Noted(T result) {
        gate_->Note();
        return result;
    }

    const std::shared_ptr<HostGate> gate_;
    const PortAudioFeed feed_;
};

// Opens streams on a StuckHost, for a player.
class StuckHostBackend final : public WaveOutBackend {
public:
    StuckHostBackend(std::shared_ptr<HostGate> gate, PortAudioFeed feed)
        : gate_(std::move(gate)), feed_(feed) {}

    std::uint32_t DeviceCount() override { return 1; }
    std::string DeviceName(std::uint32_t) override { return "stuck"; }
    DeviceResult Open(std::uint32_t, const WaveFormat& format, const StreamOptions& options,
                      std::shared_ptr<QueueWakeup> wakeup,
                      std::unique_ptr<HostStream>& stream) override {
        wakeup_ = wakeup;
        const PaError opened =
            OpenPortAudioStreamOn(std::make_unique<StuckHost>(gate_, feed_), 0.05, session_, feed_,
                                  format, options, std::move(wakeup), stream);
        return opened == paNoError
                   ? kDeviceOk
                   : static_cast<DeviceResult>(PortAudioBackend::CodeForPaError(opened));
    }
    std::string ErrorText(std::uint32_t code) override { return std::to_string(code); }

    // Let go before the late call returns: the stream must hold its own.
    void ForgetSession() { session_.reset(); }
    // The wake-up of the last open, without keeping it alive.
    const std::weak_ptr<QueueWakeup>& Wakeup() const { return wakeup_; }

private:
    const std::shared_ptr<HostGate> gate_;
    const PortAudioFeed feed_;
    std::shared_ptr<PortAudioSession> session_ = std::make_shared<PortAudioSession>();
    std::weak_ptr<QueueWakeup> wakeup_;
};

class PortAudioStuckHost : public ::testing::TestWithParam<PortAudioFeed> {};

// The stream is destroyed while its thread is stuck in the host; when the
// call returns with an error, the thread reports it through the wake-up and
// the share it holds, closes the host and lets go. Under AddressSanitizer a
// touch of the destroyed stream fails the test.
TEST_P(PortAudioStuckHost, ACallReturningAfterTheStreamIsGoneTouchesOnlyWhatTheStreamShares) {
    const auto gate = std::make_shared<HostGate>();
    StuckHostBackend backend(gate, GetParam());
    auto wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;
    const WaveFormat format = Pcm(2, 16);
    ASSERT_EQ(backend.Open(0, format, {"stuck", 4096, 4}, wakeup, stream), kDeviceOk);
    const std::vector<std::uint8_t> bytes = Pattern(4096, 9);
    ASSERT_EQ(stream->Write(bytes.data(), bytes.size()), kDeviceOk);
    ASSERT_EQ(stream->Start(), kDeviceOk);
    ASSERT_TRUE(gate->Await([&] { return gate->entered; }));

    // Patience: 1 s beyond the stream's 16 KB (93 ms) and the host's 50 ms.
    const auto start = Clock::now();
    stream.reset();
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1000));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_FALSE(gate->closed);
    EXPECT_GT(wakeup.use_count(), 1);
    backend.ForgetSession();

    wakeup->Wait(std::chrono::nanoseconds(0));  // takes any earlier wake
    gate->Release();
    const auto released = Clock::now();
    wakeup->Wait(kPatience);
    EXPECT_LT(Clock::now() - released, std::chrono::seconds(5)) << "the failure woke nobody";
    ASSERT_TRUE(gate->Await([&] { return gate->closed; }));
    EXPECT_TRUE(WaitUntil([&] { return wakeup.use_count() == 1; }));
    EXPECT_EQ(gate->closes, 1);
    EXPECT_EQ(gate->callsAfterClose, 0);
}

// The same through the player: the stream's owner and its wake-up's other
// holder are gone when the call returns.
TEST_P(PortAudioStuckHost, ThePlayerMayGoWhileAHostCallIsStuck) {
    const auto gate = std::make_shared<HostGate>();
    StuckHostBackend backend(gate, GetParam());
    auto out = std::make_unique<AudioOutput>(backend);
    out->SetFrameRate(44100);
    out->SetStereo(true);
    out->SetQuantization(16);
    out->SetBufferSize(4096);
    out->SetNumBuffers(4);
    out->OnFillBuffer = [](std::uint8_t* buffer, std::int32_t& size) {
        std::fill(buffer, buffer + size, std::uint8_t{0x11});
        return true;
    };
    ASSERT_TRUE(out->BeginPlayback()) << out->LastError();
    ASSERT_TRUE(gate->Await([&] { return gate->entered; }));
    out->ProcessNotifications();
    EXPECT_EQ(out->DoneCount(), 0);  // nothing has played

    const auto start = Clock::now();
    out.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_FALSE(gate->closed);
    // Its wake-up outlives the player, for the stream's thread to post to
    // (inside the C library, where AddressSanitizer would not see a post to
    // freed memory).
    EXPECT_FALSE(backend.Wakeup().expired());
    backend.ForgetSession();

    gate->Release();
    ASSERT_TRUE(gate->Await([&] { return gate->closed; }));
    EXPECT_EQ(gate->closes, 1);
    EXPECT_EQ(gate->callsAfterClose, 0);
    EXPECT_TRUE(WaitUntil([&] { return backend.Wakeup().expired(); }));
}

INSTANTIATE_TEST_SUITE_P(Feeds, PortAudioStuckHost,
                         ::testing::Values(PortAudioFeed::kBlockingWrites,
                                           PortAudioFeed::kCallback),
                         [](const auto& info) {
                             return std::string(info.param == PortAudioFeed::kCallback
                                                    ? "CallbackIsActive"
                                                    : "BlockingWrite");
                         });

// ---------------------------------------------------------------- through the component

struct PlaybackCase {
    std::uint16_t bits;
    bool stereo;
};

void PrintTo(const PlaybackCase& c, std::ostream* out) {
    *out << c.bits << "-bit " << (c.stereo ? "stereo" : "mono");
}

class PortAudioPlayback : public ::testing::TestWithParam<PlaybackCase> {};

// The device's bytes for the 16-bit samples the fill handler produced.
std::vector<std::uint8_t> InDeviceWidth(const std::vector<std::int16_t>& samples,
                                        std::uint16_t bits) {
    std::vector<std::uint8_t> bytes;
    for (std::int16_t s : samples) {
        const auto lo = static_cast<std::uint8_t>(s & 0xFF);
        const auto hi = static_cast<std::uint8_t>((s >> 8) & 0xFF);
        if (bits == 8) {
            bytes.push_back(static_cast<std::uint8_t>((s >> 8) + 128));
        } else if (bits == 16) {
            bytes.insert(bytes.end(), {lo, hi});
        } else {
            bytes.insert(bytes.end(), {0, lo, hi});
        }
    }
    return bytes;
}

TEST_P(PortAudioPlayback, CaptureHoldsExactlyTheBlocksTheHandlerProduced) {
    constexpr int kBlocks = 40;
    PortAudioBackend backend;
    AudioOutput out(backend);
    out.SetFrameRate(44100);
    out.SetStereo(GetParam().stereo);
    out.SetQuantization(GetParam().bits);
    out.SetBufferSize(4096);
    out.SetNumBuffers(4);

    std::vector<std::int16_t> produced;
    std::uint32_t counter = 0;
    int blocks = 0;
    out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& size) {
        if (blocks == kBlocks) {
            return false;
        }
        ++blocks;
        for (std::int32_t i = 0; i + 1 < size; i += 2) {
            // An odd step walks through all 16-bit values, negative ones included.
            const auto s =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(counter++ * 40503u + 12345u));
            buffer[i] = static_cast<std::uint8_t>(s & 0xFF);
            buffer[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
            produced.push_back(s);
        }
        return true;
    };
    bool started = false;
    bool stopped = false;
    out.OnStart = [&] { started = true; };
    out.OnStop = [&] { stopped = true; };

    ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
    ASSERT_TRUE(WaitUntil([&] {
        out.ProcessNotifications();
        return stopped;
    })) << "no stop after "
        << blocks << " blocks, " << out.DoneCount() << " done";

    EXPECT_TRUE(started);
    EXPECT_EQ(blocks, kBlocks);
    EXPECT_EQ(out.DoneCount(), kBlocks);
    EXPECT_FALSE(out.DeviceOpen());
    const std::vector<std::uint8_t> expected = InDeviceWidth(produced, GetParam().bits);
    const std::vector<std::uint8_t> captured = Captured();
    ASSERT_EQ(captured.size(), expected.size());
    // The vectors are too long to print; report where they part.
    const auto [at, ignored] = std::mismatch(captured.begin(), captured.end(), expected.begin());
    EXPECT_EQ(at - captured.begin(), std::ssize(captured)) << "(index of the first difference)";
}

INSTANTIATE_TEST_SUITE_P(Widths, PortAudioPlayback,
                         ::testing::Values(PlaybackCase{16, true}, PlaybackCase{8, true},
                                           PlaybackCase{24, true}, PlaybackCase{8, false}),
                         [](const auto& info) {
                             return std::to_string(info.param.bits) + "Bit" +
                                    (info.param.stereo ? "Stereo" : "Mono");
                         });

}  // namespace
}  // namespace skarnel
