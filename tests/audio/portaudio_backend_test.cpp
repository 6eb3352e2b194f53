#include "audio/portaudio_backend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <portaudio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
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

std::vector<DeviceNotification> TakeAll(NotificationChannel& channel) {
    std::vector<DeviceNotification> taken;
    while (const auto n = channel.Take()) {
        taken.push_back(*n);
    }
    return taken;
}

// Deterministic bytes that differ from their neighbours, so a lost, repeated
// or shifted byte shows.
void FillPattern(std::vector<std::uint8_t>& bytes, std::uint32_t seed) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    }
}

// A device opened on the default output, with its buffers and notifications.
class OpenDevice {
public:
    OpenDevice(PortAudioBackend& backend, int buffers, std::size_t bytes)
        : headers(buffers), buffers_(buffers) {
        EXPECT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, {&channel, 7}, device),
                  kDeviceOk);
        for (int i = 0; i < buffers; ++i) {
            buffers_[i].resize(bytes);
            FillPattern(buffers_[i], static_cast<std::uint32_t>(i));
            headers[i].data = buffers_[i].data();
            headers[i].bufferLength = static_cast<std::uint32_t>(bytes);
            if (device != nullptr) {
                EXPECT_EQ(device->PrepareHeader(headers[i]), kDeviceOk);
            }
        }
    }

    const std::vector<std::uint8_t>& Bytes(int index) const { return buffers_[index]; }

    std::vector<std::uint8_t> AllBytes() const {
        std::vector<std::uint8_t> all;
        for (const auto& b : buffers_) {
            all.insert(all.end(), b.begin(), b.end());
        }
        return all;
    }

    // Takes notifications until `count` done ones have come (or time runs out).
    std::vector<WaveHeader*> Dones(std::size_t count) {
        std::vector<WaveHeader*> dones;
        WaitUntil([&] {
            for (const auto& n : TakeAll(channel)) {
                EXPECT_EQ(n.generation, 7u);
                if (n.event == DeviceEvent::kBufferDone) {
                    dones.push_back(n.header);
                }
            }
            return dones.size() >= count;
        });
        return dones;
    }

    std::vector<WaveHeader*> HeaderOrder(std::initializer_list<int> indices) {
        std::vector<WaveHeader*> order;
        for (int i : indices) {
            order.push_back(&headers[i]);
        }
        return order;
    }

    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;
    std::vector<WaveHeader> headers;

private:
    std::vector<std::vector<std::uint8_t>> buffers_;
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
        NotificationChannel channel;
        std::unique_ptr<WaveOutDevice> device;
        if (backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, {&channel, 1}, device) == kDeviceOk) {
            device->Close();
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
    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;

    const DeviceResult outOfRange =
        backend.Open(backend.DeviceCount(), Pcm(2, 16), {}, {&channel, 1}, device);
    EXPECT_EQ(outOfRange, kDeviceBadId);
    EXPECT_NE(backend.ErrorText(outOfRange), "");

    EXPECT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 32), {}, {&channel, 1}, device),
              kWaveBadFormat);
    EXPECT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 12), {}, {&channel, 1}, device),
              kWaveBadFormat);
    WaveFormat inconsistent = Pcm(2, 16);
    inconsistent.blockAlign = 2;
    EXPECT_EQ(backend.Open(kDefaultWaveDevice, inconsistent, {}, {&channel, 1}, device),
              kWaveBadFormat);

    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(channel.Pending(), 0u);  // a failed open announces nothing
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

// ---------------------------------------------------------------- queue control

TEST(PortAudioDevice, CloseAndUnprepareAreRefusedWhileABufferIsHeld) {
    PortAudioBackend backend;
    OpenDevice d(backend, 1, 4096);
    ASSERT_NE(d.device, nullptr);
    WaveHeader& header = d.headers[0];

    WaveHeader unprepared{};
    unprepared.data = header.data;
    unprepared.bufferLength = 4096;
    EXPECT_EQ(d.device->Write(unprepared), kWaveUnprepared);

    ASSERT_EQ(d.device->Pause(), kDeviceOk);
    ASSERT_EQ(d.device->Write(header), kDeviceOk);
    EXPECT_EQ(d.device->Write(header), kWaveStillPlaying);  // already queued
    EXPECT_EQ(d.device->Close(), kWaveStillPlaying);
    EXPECT_EQ(d.device->UnprepareHeader(header), kWaveStillPlaying);
    EXPECT_NE(header.flags & kHeaderPrepared, 0u);

    ASSERT_EQ(d.device->Reset(), kDeviceOk);
    EXPECT_EQ(d.device->UnprepareHeader(header), kDeviceOk);
    EXPECT_EQ(header.flags & kHeaderPrepared, 0u);
    EXPECT_EQ(d.device->Close(), kDeviceOk);
    const auto events = TakeAll(d.channel);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, DeviceEvent::kOpened);
    EXPECT_EQ(events[1].event, DeviceEvent::kBufferDone);
    EXPECT_EQ(events[2].event, DeviceEvent::kClosed);
    EXPECT_EQ(d.device->Write(header), kDeviceInvalidHandle);  // closed for good
}

TEST(PortAudioDevice, PauseHaltsInPlaceAndRestartResumes) {
    PortAudioBackend backend;
    OpenDevice d(backend, 4, 256 * 1024);
    ASSERT_NE(d.device, nullptr);

    // Paused before anything is written: nothing may come back.
    ASSERT_EQ(d.device->Pause(), kDeviceOk);
    for (auto& header : d.headers) {
        ASSERT_EQ(d.device->Write(header), kDeviceOk);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(d.Dones(0).empty());

    // Paused again once the first buffer is back: whatever came before the
    // pause, nothing comes while it lasts, although the sink never holds up.
    ASSERT_EQ(d.device->Restart(), kDeviceOk);
    std::vector<WaveHeader*> dones = d.Dones(1);
    ASSERT_EQ(d.device->Pause(), kDeviceOk);
    for (const auto& n : TakeAll(d.channel)) {
        dones.push_back(n.header);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(d.channel.Pending(), 0u);

    ASSERT_EQ(d.device->Restart(), kDeviceOk);
    for (WaveHeader* h : d.Dones(4 - dones.size())) {
        dones.push_back(h);
    }
    EXPECT_EQ(dones, d.HeaderOrder({0, 1, 2, 3}));
    for (const auto& header : d.headers) {
        EXPECT_EQ(header.flags & kHeaderInQueue, 0u);
    }
    ASSERT_EQ(d.device->Close(), kDeviceOk);
    // Resuming continued where the pause left each buffer.
    EXPECT_EQ(Captured(), d.AllBytes());
}

TEST(PortAudioDevice, ResetReturnsEveryQueuedBufferAtOnceInQueueOrder) {
    PortAudioBackend backend;
    OpenDevice d(backend, 5, 4096);
    ASSERT_NE(d.device, nullptr);
    ASSERT_EQ(TakeAll(d.channel).size(), 1u);  // opened

    ASSERT_EQ(d.device->Pause(), kDeviceOk);
    for (int i : {2, 0, 3, 1}) {
        ASSERT_EQ(d.device->Write(d.headers[i]), kDeviceOk);
    }
    ASSERT_EQ(d.device->Reset(), kDeviceOk);
    // Already posted when Reset returns, without waiting.
    std::vector<WaveHeader*> returned;
    for (const auto& n : TakeAll(d.channel)) {
        EXPECT_EQ(n.event, DeviceEvent::kBufferDone);
        returned.push_back(n.header);
    }
    EXPECT_EQ(returned, d.HeaderOrder({2, 0, 3, 1}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d.headers[i].flags & kHeaderInQueue, 0u);
    }

    // The reset left the device playing, not paused.
    ASSERT_EQ(d.device->Write(d.headers[4]), kDeviceOk);
    EXPECT_EQ(d.Dones(1), d.HeaderOrder({4}));
    EXPECT_EQ(d.device->Close(), kDeviceOk);
}

TEST(PortAudioDevice, ResetDuringPlaybackHandsBackTheRestAndStartsTheNextBufferAfresh) {
    PortAudioBackend backend;
    // Where the writer stands when the reset comes is up to the scheduler;
    // several rounds make it likely that one lands inside a buffer.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        OpenDevice d(backend, 5, 512 * 1024);
        ASSERT_NE(d.device, nullptr);
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(d.device->Write(d.headers[i]), kDeviceOk);
        }
        // Once the first buffer is back the writer is busy with the next.
        std::vector<WaveHeader*> dones = d.Dones(1);
        ASSERT_EQ(d.device->Reset(), kDeviceOk);
        for (const auto& n : TakeAll(d.channel)) {
            dones.push_back(n.header);
        }
        // The writer's dones and the reset's give each buffer once, in order.
        EXPECT_EQ(dones, d.HeaderOrder({0, 1, 2, 3}));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(d.channel.Pending(), 0u);

        // The next buffer plays from its first byte on the restarted stream.
        ASSERT_EQ(d.device->Write(d.headers[4]), kDeviceOk);
        EXPECT_EQ(d.Dones(1), d.HeaderOrder({4}));
        ASSERT_EQ(d.device->Close(), kDeviceOk);
        const std::vector<std::uint8_t> captured = Captured();
        const std::vector<std::uint8_t>& last = d.Bytes(4);
        ASSERT_GE(captured.size(), last.size());
        EXPECT_TRUE(std::equal(last.begin(), last.end(), captured.end() - last.size()));
    }
}

TEST(PortAudioDevice, DestroyingAnUnclosedDeviceStopsItQuietly) {
    PortAudioBackend backend;
    for (bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        OpenDevice d(backend, 4, 256 * 1024);
        ASSERT_NE(d.device, nullptr);
        if (paused) {
            ASSERT_EQ(d.device->Pause(), kDeviceOk);
        }
        for (auto& header : d.headers) {
            ASSERT_EQ(d.device->Write(header), kDeviceOk);
        }
        if (paused) {
            EXPECT_EQ(d.device->Close(), kWaveStillPlaying);
        }
        d.device.reset();
        const std::size_t posted = d.channel.Pending();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(d.channel.Pending(), posted);
        for (const auto& n : TakeAll(d.channel)) {
            EXPECT_NE(n.event, DeviceEvent::kClosed);
        }
    }
}

// A host that stops taking samples: the capture is a pipe nobody reads, so
// the writer is held up inside Pa_WriteStream once the pipe is full. Reset
// still returns every buffer at once and Close returns in bounded time; the
// writer closes the stream when the host lets it go.
TEST(PortAudioDevice, AHostThatStopsTakingSamplesCannotHangResetOrClose) {
    const fs::path fifo = CaptureHome::CapturePath().parent_path() / "stuck.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    setenv("SKARNEL_TEST_CAPTURE", fifo.c_str(), 1);
    PortAudioBackend backend;
    OpenDevice d(backend, 4, 256 * 1024);  // far more than the pipe holds
    unsetenv("SKARNEL_TEST_CAPTURE");
    ASSERT_NE(d.device, nullptr);
    for (auto& header : d.headers) {
        ASSERT_EQ(d.device->Write(header), kDeviceOk);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(d.Dones(0).empty());  // held up in the first buffer

    const auto start = Clock::now();
    ASSERT_EQ(d.device->Reset(), kDeviceOk);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    std::vector<WaveHeader*> returned;
    for (const auto& n : TakeAll(d.channel)) {
        returned.push_back(n.header);
    }
    EXPECT_EQ(returned, d.HeaderOrder({0, 1, 2, 3}));
    ASSERT_EQ(d.device->Close(), kDeviceOk);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    const auto closed = TakeAll(d.channel);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].event, DeviceEvent::kClosed);
    d.device.reset();

    // Reading the pipe lets the writer go; it closes the stream (the pipe
    // then reads as ended) and posts nothing more.
    std::array<char, 65536> sink{};
    EXPECT_TRUE(WaitUntil([&] { return read(reader, sink.data(), sink.size()) == 0; }));
    close(reader);
    EXPECT_EQ(d.channel.Pending(), 0u);
}

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
