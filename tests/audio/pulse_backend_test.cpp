#include "audio/pulse_backend.h"
#include "audio/device_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/queue_wakeup.h"
#include "stream_contract.h"

extern char** environ;

// These tests run a PulseAudio server of their own: a private runtime folder
// and home (so no desktop server is ever reached), one null sink "s"
// described as "Test-Sink" at 48 kHz, and clients that never start a server
// by themselves. Sound played through the back-end is read back from the
// sink's monitor with parec. ctest runs every test in a process of its own,
// each with its own server.

namespace skarnel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kFrameBytes = 4;  // 16-bit stereo

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((fs::path(dir) / program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration patience = seconds(10)) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

// Runs a shell command; its standard output, or nothing when it failed.
std::optional<std::string> Shell(const std::string& command) {
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string output;
    std::array<char, 4096> chunk{};
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        output.append(chunk.data(), got);
    }
    const int status = pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

// A process started directly (no shell), its standard output in `out` and
// its standard error in `log`. Killed and reaped when it goes.
class Child {
public:
    Child(const std::vector<std::string>& args, const fs::path& out, const fs::path& log) {
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), kFlags, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), kFlags, 0600);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { Stop(SIGKILL); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Running() const { return pid_ > 0; }

    void Stop(int signal) {
        if (pid_ > 0) {
            kill(pid_, signal);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

// The private server. The environment points every client of this process
// (the back-end, pactl, parec) at it. Its sink never rewinds: a rewind when a
// stream starts re-renders audio the monitor has already passed on, and the
// recording would lack the stream's first milliseconds.
class PulseServer {
public:
    PulseServer() {
        char pattern[] = "/tmp/skarnel-pulse-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            dir_ = pattern;
        }
        std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("HOME", dir_.c_str(), 1);
        setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
        for (const char* name : {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_COOKIE", "DISPLAY",
                                 "XDG_CONFIG_HOME", "DBUS_SESSION_BUS_ADDRESS"}) {
            unsetenv(name);
        }
    }
    ~PulseServer() {
        Kill();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Starts the server and waits until it answers with its sink loaded.
    bool Start() {
        server_ = std::make_unique<Child>(
            std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "-L", "module-native-protocol-unix", "-L",
                                     "module-null-sink sink_name=s rate=48000 norewinds=1 "
                                     "sink_properties=device.description=Test-Sink"},
            "/dev/null", dir_ / "server.log");
        return server_->Running() && WaitUntil([] {
                   return Trimmed(Shell("pactl get-default-sink").value_or("")) == "s";
               });
    }

    void Kill() { server_.reset(); }

    const fs::path& Dir() const { return dir_; }

private:
    fs::path dir_;
    std::unique_ptr<Child> server_;
};

// The sink monitor recorded as raw 16-bit stereo at 48 kHz. The short
// latency keeps the null sink close to real time, as a sound card is.
class MonitorRecording {
public:
    explicit MonitorRecording(const fs::path& file)
        : file_(file),
          parec_({"parec", "-d", "s.monitor", "--raw", "--format=s16le", "--rate=48000",
                  "--channels=2", "--latency-msec=20"},
                 file, fs::path(file).replace_extension(".log")) {}

    // The recorder's stream exists: what plays from now on is recorded.
    bool Ready() {
        return WaitUntil(
            [] { return !Trimmed(Shell("pactl list short source-outputs").value_or("")).empty(); });
    }

    // Bytes recorded so far: parec writes what it gets at once.
    std::uint64_t BytesSoFar() const {
        std::error_code ignored;
        const std::uintmax_t size = fs::file_size(file_, ignored);
        return size == static_cast<std::uintmax_t>(-1) ? 0 : size;
    }
    const fs::path& File() const { return file_; }

    std::vector<std::int16_t> Stop() {
        parec_.Stop(SIGINT);
        std::ifstream in(file_, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        std::vector<std::int16_t> samples(bytes.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] =
                static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                          static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
        }
        return samples;
    }

private:
    fs::path file_;
    Child parec_;
};

// A deterministic sequence of samples no stretch of which repeats soon, so
// a dropped, repeated or shifted frame shows.
class Sequence {
public:
    std::int16_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<std::int16_t>(state_ >> 16);
    }
    static std::vector<std::int16_t> First(std::size_t samples) {
        Sequence sequence;
        std::vector<std::int16_t> out(samples);
        for (auto& s : out) {
            s = sequence.Next();
        }
        return out;
    }

private:
    std::uint32_t state_ = 0x5eed;
};

// Where `expected` starts in `recorded` (at a frame boundary), by its first
// 64 samples; -1 when it is not there.
std::ptrdiff_t Locate(const std::vector<std::int16_t>& recorded,
                      const std::vector<std::int16_t>& expected) {
    constexpr std::size_t kKey = 64;
    for (std::size_t at = 0; at + kKey <= recorded.size(); at += 2) {
        if (std::equal(expected.begin(), expected.begin() + kKey, recorded.begin() + at)) {
            return static_cast<std::ptrdiff_t>(at);
        }
    }
    return -1;
}

// Index of the first sample where the recording departs from `expected`
// after `start`, or expected.size() when all of it is there.
std::size_t FirstDifference(const std::vector<std::int16_t>& recorded, std::size_t start,
                            const std::vector<std::int16_t>& expected) {
    const std::size_t available = std::min(expected.size(), recorded.size() - start);
    const auto [at, ignored] =
        std::mismatch(expected.begin(), expected.begin() + available, recorded.begin() + start);
    return static_cast<std::size_t>(at - expected.begin());
}

// The component playing the sequence at 48 kHz 16-bit stereo, for `frames`
// frames (or without end).
class SequencePlayer {
public:
    SequencePlayer(PulseBackend& backend, std::optional<std::size_t> frames,
                   std::int32_t bufferBytes = 16384, std::int32_t buffers = 4)
        : out(backend), limit_(frames) {
        out.SetFrameRate(kRate);
        out.SetStereo(true);
        out.SetQuantization(16);
        out.SetBufferSize(bufferBytes);
        out.SetNumBuffers(buffers);
        out.SetStreamName("Skarnel sequence test");
        out.OnFillBuffer = [this](std::uint8_t* buffer, std::int32_t& size) {
            std::int32_t written = 0;
            while (written + static_cast<std::int32_t>(kFrameBytes) <= size &&
                   (!limit_ || played_ < *limit_)) {
                for (int channel = 0; channel < 2; ++channel) {
                    const std::int16_t s = sequence_.Next();
                    buffer[written++] = static_cast<std::uint8_t>(s & 0xFF);
                    buffer[written++] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
                }
                ++played_;
            }
            size = written;
            return written > 0;
        };
        out.OnStart = [this] { started = true; };
        out.OnStop = [this] { stopped = true; };
    }

    // Processes notifications until `done` or the time is up.
    bool PumpUntil(const std::function<bool()>& done, Clock::duration patience) {
        return WaitUntil(
            [&] {
                out.ProcessNotifications();
                return done();
            },
            patience);
    }
    void PumpFor(Clock::duration time) {
        PumpUntil([] { return false; }, time);
    }

    AudioOutput out;
    bool started = false;
    bool stopped = false;

private:
    Sequence sequence_;
    std::optional<std::size_t> limit_;
    std::size_t played_ = 0;
};

WaveFormat Pcm(std::uint16_t channels, std::uint16_t bits, std::uint32_t rate = kRate) {
    WaveFormat f;
    f.channels = channels;
    f.bitsPerSample = bits;
    f.samplesPerSec = rate;
    f.blockAlign = static_cast<std::uint16_t>(channels * (bits / 8));
    f.avgBytesPerSec = f.blockAlign * rate;
    return f;
}

// True when nothing wakes `wakeup` for `quiet` (pending wakes taken first).
bool StaysQuiet(QueueWakeup& wakeup, Clock::duration quiet) {
    wakeup.Wait(std::chrono::nanoseconds(0));
    const auto start = Clock::now();
    wakeup.Wait(quiet);
    return Clock::now() - start >= quiet - milliseconds(5);
}

// A stream opened on the default sink for 16-bit stereo at 48 kHz, and the
// sequence to write to it.
class OpenedStream {
public:
    OpenedStream(PulseBackend& backend, const StreamOptions& options, std::size_t frames)
        : wakeup(std::make_shared<QueueWakeup>()), samples_(Sequence::First(2 * frames)) {
        opened = backend.Open(kDefaultWaveDevice, Pcm(2, 16), options, wakeup, stream);
    }

    // Writes as much of the sequence as the stream takes now; the bytes
    // written by this call.
    std::size_t WriteWhatFits() {
        const std::size_t total = samples_.size() * 2;
        const std::size_t bytes = std::min(stream->Writable(), total - written);
        if (bytes > 0) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(samples_.data()) + written;
            EXPECT_EQ(stream->Write(data, bytes), kDeviceOk);
            written += bytes;
        }
        return bytes;
    }
    bool AllWritten() const { return written == samples_.size() * 2; }

    std::shared_ptr<QueueWakeup> wakeup;
    std::unique_ptr<HostStream> stream;
    DeviceResult opened = kDeviceError;
    std::size_t written = 0;

private:
    std::vector<std::int16_t> samples_;
};

std::string SinkInputs() {
    return Shell("pactl list sink-inputs").value_or("");
}

// The server's index of the sink named `name`, from `pactl list short sinks`.
std::string SinkIndex(const std::string& name) {
    std::istringstream lines(Shell("pactl list short sinks").value_or(""));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index;
        std::string sinkName;
        fields >> index >> sinkName;
        if (sinkName == name) {
            return index;
        }
    }
    return "";
}

// The sink index of the only sink input, from `pactl list short sink-inputs`.
std::string SinkOfTheStream() {
    std::istringstream fields(Shell("pactl list short sink-inputs").value_or(""));
    std::string input;
    std::string sink;
    fields >> input >> sink;
    return sink;
}

class PulseTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"pulseaudio", "pactl", "parec"}) {
            if (!OnPath(program)) {
                GTEST_SKIP() << program
                             << " is not installed (packages pulseaudio and pulseaudio-utils); "
                                "the sound-server back-end is tested against a private server";
            }
        }
        if (startServer_) {
            ASSERT_TRUE(server_.Start()) << "the private PulseAudio server did not come up; see "
                                         << (server_.Dir() / "server.log");
        }
    }

    bool startServer_ = true;
    PulseServer server_;
};

class PulseWithoutServer : public PulseTest {
protected:
    PulseWithoutServer() { startServer_ = false; }
};

// ---------------------------------------------------------------- the device list

TEST_F(PulseTest, ListsSinksByDescriptionAndFollowsLoadsAndUnloads) {
    PulseBackend backend;
    ASSERT_TRUE(backend.Connected());
    ASSERT_EQ(backend.DeviceCount(), 1u);
    EXPECT_EQ(backend.DeviceName(0), "Test-Sink");
    EXPECT_EQ(backend.DeviceName(1), "");

    std::atomic<int> calls{0};
    backend.WatchDevices([&] {
        // The list may be read from inside the call.
        if (backend.DeviceCount() > 0) {
            ++calls;
        }
    });
    const std::string longName = "A-Second-Sink-With-A-Description-Longer-Than-Any-List-Shows";
    const std::optional<std::string> module =
        Shell("pactl load-module module-null-sink sink_name=t sink_properties=device.description=" +
              longName);
    ASSERT_TRUE(module);
    ASSERT_TRUE(WaitUntil([&] { return calls > 0 && backend.DeviceCount() == 2; }));
    EXPECT_EQ(backend.DeviceName(0), "Test-Sink");  // the server's order: the older sink first
    EXPECT_EQ(backend.DeviceName(1), longName);     // whole; the list cuts it for showing
    EXPECT_EQ(backend.DeviceId(0), "s");            // the sinks' names tell them apart
    EXPECT_EQ(backend.DeviceId(1), "t");
    EXPECT_EQ(OutputDeviceList(backend).back().shown,
              longName.substr(0, kMaxDeviceNameLength) + "\u2026");

    const int beforeUnload = calls;
    ASSERT_TRUE(Shell("pactl unload-module " + Trimmed(*module)));
    ASSERT_TRUE(WaitUntil([&] { return calls > beforeUnload && backend.DeviceCount() == 1; }));
    EXPECT_EQ(backend.DeviceName(0), "Test-Sink");

    // Sink changes that leave the names alone (a volume) announce nothing.
    const int settled = calls;
    ASSERT_TRUE(Shell("pactl set-sink-volume s 50%"));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(calls, settled);

    // Unwatched: the list still follows, the function is not called.
    backend.WatchDevices(nullptr);
    ASSERT_TRUE(Shell("pactl load-module module-null-sink sink_name=u"));
    ASSERT_TRUE(WaitUntil([&] { return backend.DeviceCount() == 2; }));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(calls, settled);
}

// ---------------------------------------------------------------- opening

// A window's stream carries its identity for the servers' stream restore,
// and what the mixer does to it (its volume, its mute, its sink's mute)
// comes back through the server's events.
TEST_F(PulseTest, AWindowsStreamHasItsOwnIdentityAndHearsTheMixer) {
    PulseBackend backend;
    const auto wakeup = std::make_shared<QueueWakeup>();
    StreamOptions options{"Generator 3", 8192, 4};
    options.identity = "generator-3";
    std::unique_ptr<HostStream> stream;
    ASSERT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 16), options, wakeup, stream), kDeviceOk);
    const std::string inputs = SinkInputs();
    EXPECT_NE(inputs.find("module-stream-restore.id = \"org.orvane.Skarnel.generator-3\""),
              std::string::npos)
        << inputs;
    EXPECT_NE(inputs.find("application.id = \"org.orvane.Skarnel.generator-3\""),
              std::string::npos);
    EXPECT_EQ(inputs.find("media.role"), std::string::npos) << "a role is one key for all";

    std::mutex mutex;
    std::vector<MixerLevel> heard;
    stream->WatchMixer([&](const MixerLevel& level) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(level);
    });
    const auto last = [&]() -> std::optional<MixerLevel> {
        std::lock_guard<std::mutex> lock(mutex);
        return heard.empty() ? std::nullopt : std::optional<MixerLevel>(heard.back());
    };
    const auto hears = [&](const MixerLevel& level) {
        return WaitUntil([&] { return last() == level; }, seconds(1));
    };
    EXPECT_TRUE(hears(MixerLevel{}));  // known at once: as made
    const std::string input = [] {
        std::istringstream fields(Shell("pactl list short sink-inputs").value_or(""));
        std::string index;
        fields >> index;
        return index;
    }();
    ASSERT_TRUE(Shell("pactl set-sink-input-volume " + input + " 50%"));
    EXPECT_TRUE(
        WaitUntil([&] { return last() && std::abs(last()->gainDb + 18.06) < 0.01; }, seconds(1)));
    ASSERT_TRUE(Shell("pactl set-sink-input-mute " + input + " 1"));
    EXPECT_TRUE(WaitUntil([&] { return last() && last()->muted; }, seconds(1)));
    ASSERT_TRUE(Shell("pactl set-sink-input-mute " + input + " 0"));
    ASSERT_TRUE(Shell("pactl set-sink-input-volume " + input + " 100%"));
    EXPECT_TRUE(hears(MixerLevel{}));
    ASSERT_TRUE(Shell("pactl set-sink-mute s 1"));  // the device itself
    EXPECT_TRUE(hears(MixerLevel{0.0, true}));
    ASSERT_TRUE(Shell("pactl set-sink-mute s 0"));
    EXPECT_TRUE(hears(MixerLevel{}));
    stream.reset();  // no call after it is gone
    const std::size_t calls = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return heard.size();
    }();
    ASSERT_TRUE(Shell("pactl set-sink-mute s 1"));
    std::this_thread::sleep_for(milliseconds(300));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(heard.size(), calls);
}

TEST_F(PulseTest, OpensTheChosenSinkOrTheDefaultThatItThenFollows) {
    PulseBackend backend;
    ASSERT_TRUE(Shell(
        "pactl load-module module-null-sink sink_name=t sink_properties=device.description=Other"));
    ASSERT_TRUE(WaitUntil([&] { return backend.DeviceCount() == 2; }));
    ASSERT_EQ(backend.DeviceName(1), "Other");
    const auto wakeup = std::make_shared<QueueWakeup>();

    {
        std::unique_ptr<HostStream> stream;
        ASSERT_EQ(backend.Open(1, Pcm(2, 16), {"Chosen sink"}, wakeup, stream), kDeviceOk);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(SinkOfTheStream(), SinkIndex("t"));
        const std::string inputs = SinkInputs();
        EXPECT_NE(inputs.find("media.name = \"Chosen sink\""), std::string::npos) << inputs;
        EXPECT_NE(inputs.find("application.name = \"Skarnel\""), std::string::npos);
        EXPECT_NE(inputs.find("application.icon_name = \"org.orvane.Skarnel\""), std::string::npos);
        EXPECT_NE(inputs.find("media.role = \"production\""), std::string::npos);
        // Opened stopped; Start lets it play.
        EXPECT_NE(inputs.find("Corked: yes"), std::string::npos) << inputs;
        EXPECT_EQ(stream->Failure(), kDeviceOk);
        ASSERT_EQ(stream->Start(), kDeviceOk);
        EXPECT_TRUE(WaitUntil([] { return SinkInputs().find("Corked: no") != std::string::npos; },
                              seconds(2)));
    }
    // Destroying the stream closes it on the server.
    EXPECT_TRUE(WaitUntil([] { return SinkOfTheStream().empty(); }));

    {
        // The default sink, followed when the user picks another default.
        std::unique_ptr<HostStream> stream;
        ASSERT_EQ(backend.Open(kDefaultWaveDevice, Pcm(1, 8, 22050), {}, wakeup, stream),
                  kDeviceOk);
        EXPECT_EQ(SinkOfTheStream(), SinkIndex("s"));
        EXPECT_NE(SinkInputs().find("media.name = \"Skarnel\""), std::string::npos);
        ASSERT_TRUE(Shell("pactl set-default-sink t"));
        EXPECT_TRUE(WaitUntil([] { return SinkOfTheStream() == SinkIndex("t"); }, seconds(3)));
        EXPECT_EQ(stream->Failure(), kDeviceOk);
    }
    EXPECT_TRUE(WaitUntil([] { return SinkOfTheStream().empty(); }));
}

TEST_F(PulseTest, RefusesFormatsAndDevicesItCannotPlayAndExplainsItsCodes) {
    PulseBackend backend;
    const auto wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;
    WaveFormat inconsistent = Pcm(2, 16);
    inconsistent.blockAlign = 2;
    for (const WaveFormat& format :
         {Pcm(2, 32), Pcm(2, 12), Pcm(3, 16), Pcm(0, 16), Pcm(2, 16, 0), inconsistent}) {
        EXPECT_EQ(backend.Open(kDefaultWaveDevice, format, {}, wakeup, stream), kWaveBadFormat)
            << format.channels << " x " << format.bitsPerSample << " bits at "
            << format.samplesPerSec;
    }
    EXPECT_EQ(backend.Open(backend.DeviceCount(), Pcm(2, 16), {}, wakeup, stream), kDeviceBadId);
    // A failed open leaves nothing behind: no stream, nothing on the server,
    // nothing that wakes the player.
    EXPECT_EQ(stream, nullptr);
    EXPECT_TRUE(StaysQuiet(*wakeup, milliseconds(100)));
    EXPECT_EQ(SinkInputs(), "");

    // Every width it takes opens (24 bits as packed three-byte samples), and
    // the server's buffer takes all of the player's buffers at once.
    for (std::uint16_t bits : {8, 16, 24}) {
        const std::uint32_t bytes = 1470 * 2 * (bits / 8);  // 33 ms at 44.1 kHz
        ASSERT_EQ(backend.Open(0, Pcm(2, bits, 44100), {"", bytes, 3}, wakeup, stream), kDeviceOk)
            << bits;
        EXPECT_EQ(stream->Writable(), 3 * bytes) << bits;
        stream.reset();
    }

    // Own codes sit clear of PortAudio's (kFirstBackendError..+100) and of
    // the standard ones, and say what happened before libpulse's reason.
    const std::uint32_t lost = PulseBackend::CodeFor(PulseFailure::kConnectionLost, 11);
    EXPECT_TRUE(PulseBackend::IsPulseCode(lost));
    EXPECT_EQ(backend.ErrorText(lost),
              "The sound server connection was lost: Connection terminated");
    EXPECT_NE(PulseBackend::CodeFor(PulseFailure::kConnectFailed, 11), lost);
    EXPECT_NE(PulseBackend::CodeFor(PulseFailure::kConnectionLost, 6), lost);
    for (std::uint32_t other :
         {0u, 33u, std::uint32_t{kFirstBackendError}, kFirstBackendError + 99u}) {
        EXPECT_FALSE(PulseBackend::IsPulseCode(other)) << other;
    }
    EXPECT_EQ(backend.ErrorText(kWaveStillPlaying), StandardErrorText(kWaveStillPlaying));
    EXPECT_EQ(backend.ErrorText(kFirstBackendError + 5),
              "Unknown audio device error " + std::to_string(kFirstBackendError + 5));
}

TEST_F(PulseWithoutServer, IsNotConnectedFailsOpensAtOnceAndConnectsWhenAServerComes) {
    const auto start = Clock::now();
    PulseBackend backend(milliseconds(1500));
    EXPECT_LT(Clock::now() - start, milliseconds(1700));
    EXPECT_FALSE(backend.Connected());
    EXPECT_EQ(backend.DeviceCount(), 0u);

    const auto wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;
    const auto openStart = Clock::now();
    const DeviceResult refused = backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, wakeup, stream);
    EXPECT_LT(Clock::now() - openStart, milliseconds(100));
    EXPECT_TRUE(PulseBackend::IsPulseCode(refused));
    EXPECT_EQ(backend.ErrorText(refused).rfind("The sound server connection failed: ", 0), 0u)
        << backend.ErrorText(refused);
    EXPECT_EQ(stream, nullptr);

    std::atomic<int> calls{0};
    backend.WatchDevices([&] { ++calls; });
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(WaitUntil([&] { return backend.Connected() && calls > 0; }, seconds(5)));
    EXPECT_EQ(backend.DeviceName(0), "Test-Sink");
    ASSERT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, wakeup, stream), kDeviceOk);
    EXPECT_EQ(stream->Failure(), kDeviceOk);
    stream.reset();
    backend.WatchDevices(nullptr);
}

// ---------------------------------------------------------------- playing

// Seven seconds of the sequence through the component arrive in the sink
// unchanged: located by its start, with no frame lost, repeated or altered,
// the last buffer played out by the close, and nothing after it.
TEST_F(PulseTest, ThePlayedSequenceArrivesBitExact) {
    constexpr std::size_t kFrames = 7 * kRate;
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());

    SequencePlayer player(backend, kFrames);
    ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
    ASSERT_TRUE(player.PumpUntil([&] { return player.started; }, seconds(2)));
    player.PumpFor(milliseconds(500));
    EXPECT_NE(SinkInputs().find("media.name = \"Skarnel sequence test\""), std::string::npos);
    ASSERT_TRUE(player.PumpUntil(
        [&] { return player.out.DoneCount() > 0 && !player.out.Running() && player.stopped; },
        seconds(15)));
    EXPECT_EQ(player.out.PlaybackFault(), "");
    std::this_thread::sleep_for(milliseconds(300));
    const std::vector<std::int16_t> recorded = recording.Stop();

    const std::vector<std::int16_t> expected = Sequence::First(2 * kFrames);
    const std::ptrdiff_t start = Locate(recorded, expected);
    ASSERT_GE(start, 0) << "the sequence's start is not in the " << recorded.size() / 2
                        << " recorded frames";
    EXPECT_EQ(FirstDifference(recorded, static_cast<std::size_t>(start), expected), expected.size())
        << "(sample index of the first difference; " << (recorded.size() - start) / 2
        << " frames recorded from the start)";
    // After the sequence only the sink's silence.
    EXPECT_TRUE(
        std::all_of(recorded.begin() + start + std::min(expected.size(), recorded.size() - start),
                    recorded.end(), [](std::int16_t s) { return s == 0; }));
}

// A sound shorter than one buffer, less than the server waits for before
// it starts a stream on its own, still plays, whole, and ends.
TEST_F(PulseTest, ASoundShorterThanABufferPlaysWholeAndEnds) {
    constexpr std::size_t kFrames = 1000;  // 21 ms
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    SequencePlayer player(backend, kFrames);
    ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
    ASSERT_TRUE(player.PumpUntil([&] { return player.stopped; }, seconds(2)));
    EXPECT_EQ(player.out.PlaybackFault(), "");
    std::this_thread::sleep_for(milliseconds(200));
    const std::vector<std::int16_t> recorded = recording.Stop();
    const std::vector<std::int16_t> expected = Sequence::First(2 * kFrames);
    const std::ptrdiff_t start = Locate(recorded, expected);
    ASSERT_GE(start, 0);
    EXPECT_EQ(FirstDifference(recorded, static_cast<std::size_t>(start), expected),
              expected.size());
}

// Between the player and the ear the server holds the player's buffers
// (bufferBytes x bufferCount), its sink's latency included, and no more.
TEST_F(PulseTest, TheServerBufferFollowsTheBufferSettingsAndAStopDropsIt) {
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    for (const std::int32_t buffers : {2, 4}) {
        SCOPED_TRACE(std::to_string(buffers) + " buffers");
        constexpr std::int32_t kBytes = 19200;  // 100 ms
        SequencePlayer player(backend, std::nullopt, kBytes, buffers);
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        player.PumpFor(milliseconds(800));
        // The player refills on this thread: it keeps pumping while pactl
        // looks, several times, as the server's fill moves with each refill.
        long most = 0;
        for (int look = 0; look < 4; ++look) {
            auto asking = std::async(std::launch::async, SinkInputs);
            player.PumpUntil(
                [&] { return asking.wait_for(seconds(0)) == std::future_status::ready; },
                seconds(5));
            const std::string inputs = asking.get();
            const auto buffered = inputs.find("Buffer Latency: ");
            const auto sink = inputs.find("Sink Latency: ");
            ASSERT_NE(buffered, std::string::npos) << inputs;
            ASSERT_NE(sink, std::string::npos) << inputs;
            const long usec =
                std::stol(inputs.substr(buffered + 16)) + std::stol(inputs.substr(sink + 14));
            EXPECT_LE(usec, buffers * 100000 + 20000) << inputs;
            most = std::max(most, usec);
            player.PumpFor(milliseconds(50));
        }
        // Refilled whenever a buffer has played: up to all of the player's
        // buffers, and no more (above).
        EXPECT_GE(most, (buffers - 1) * 100000 - 20000);
        // An immediate stop drops what the server holds (here at least
        // 300 ms) instead of playing it out.
        const auto stopStart = Clock::now();
        player.out.StopImmediately();
        if (buffers == 4) {
            EXPECT_LT(Clock::now() - stopStart, milliseconds(150));
        }
        ASSERT_TRUE(player.PumpUntil([&] { return player.stopped; }, seconds(2)));
    }
    recording.Stop();
}

// ---------------------------------------------------------------- the stream

// Eight buffers of 125 ms through a server buffer of two: the stream takes
// two at a time, so pausing, resuming and flushing show in its position.
TEST_F(PulseTest, PauseHoldsThePositionFlushDropsAtOnceAndTheServerTakesOnlyItsBuffer) {
    constexpr std::uint32_t kBytes = 24000;
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    OpenedStream s(backend, {"queue", kBytes, 2}, 8 * kBytes / kFrameBytes);
    ASSERT_EQ(s.opened, kDeviceOk);
    HostStream& stream = *s.stream;

    // Whole frames only, from real memory.
    const std::array<std::uint8_t, kFrameBytes> frame{};
    EXPECT_EQ(stream.Write(frame.data(), kFrameBytes - 1), kDeviceInvalidParameter);
    EXPECT_EQ(stream.Write(nullptr, kFrameBytes), kDeviceInvalidParameter);

    // Paused before the start: the server takes two buffers and no more
    // (beyond the null sink's smallest latency, half a millisecond, which it
    // adds when two buffers leave it none), and nothing plays.
    ASSERT_EQ(stream.SetPaused(true), kDeviceOk);
    s.WriteWhatFits();
    EXPECT_GE(s.written, 2 * kBytes);
    EXPECT_LE(s.written, 2 * kBytes + kRate * kFrameBytes / 1000);
    ASSERT_EQ(stream.Start(), kDeviceOk);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(stream.PlayedBytes(), 0u);
    EXPECT_EQ(stream.Writable(), 0u);

    // Playing, then paused in the middle: the position stands still.
    ASSERT_EQ(stream.SetPaused(false), kDeviceOk);
    ASSERT_TRUE(WaitUntil([&] {
        s.WriteWhatFits();
        return stream.PlayedBytes() >= 3 * kBytes;
    }));
    ASSERT_EQ(stream.SetPaused(true), kDeviceOk);
    const std::uint64_t atPause = stream.PlayedBytes();
    ASSERT_LT(atPause, s.written) << "the stream counted what it holds as played";
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_EQ(stream.PlayedBytes(), atPause);

    // Resumed, then flushed: what the server held counts as played at once,
    // before Flush returns.
    ASSERT_EQ(stream.SetPaused(false), kDeviceOk);
    ASSERT_TRUE(WaitUntil([&] {
        s.WriteWhatFits();
        return stream.PlayedBytes() > atPause;
    }));
    s.WriteWhatFits();
    ASSERT_LT(stream.PlayedBytes(), s.written);
    const auto flushStart = Clock::now();
    ASSERT_EQ(stream.Flush(), kDeviceOk);
    EXPECT_LT(Clock::now() - flushStart, milliseconds(50));
    EXPECT_EQ(stream.PlayedBytes(), s.written);

    // The flush left it playing, not paused: half a buffer, less than the
    // server would wait for before it starts on its own, plays at once, and
    // counts as played once it has, not sooner.
    constexpr std::uint32_t kHalf = kBytes / 2;  // 62.5 ms
    ASSERT_TRUE(WaitUntil([&] { return stream.Writable() >= kHalf; }, seconds(1)));
    const std::vector<std::int16_t> last = Sequence::First(kHalf / 2);
    const auto writeTime = Clock::now();
    ASSERT_EQ(stream.Write(reinterpret_cast<const std::uint8_t*>(last.data()), kHalf), kDeviceOk);
    const std::uint64_t end = s.written + kHalf;
    EXPECT_LT(stream.PlayedBytes(), end);
    ASSERT_TRUE(WaitUntil([&] { return stream.PlayedBytes() == end; }, seconds(2)));
    EXPECT_GT(Clock::now() - writeTime, milliseconds(50));
    EXPECT_LT(Clock::now() - writeTime, milliseconds(63 + 400));
    EXPECT_EQ(stream.Failure(), kDeviceOk);

    const auto closeStart = Clock::now();
    s.stream.reset();
    EXPECT_LT(Clock::now() - closeStart, milliseconds(50));
    EXPECT_TRUE(WaitUntil([] { return SinkInputs().empty(); }, seconds(2)));

    // The last buffer went out whole after the flush dropped what was
    // buffered: the recording ends with it.
    std::this_thread::sleep_for(milliseconds(200));
    std::vector<std::int16_t> recorded = recording.Stop();
    while (!recorded.empty() && recorded.back() == 0) {
        recorded.pop_back();
    }
    ASSERT_GE(recorded.size(), last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), recorded.end() - last.size()));
}

TEST_F(PulseTest, DestroyingAStreamDropsWhatItHoldsQuietlyAndAtOnce) {
    PulseBackend backend;
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        OpenedStream s(backend, {"dropped", 96000, 2}, 4 * kRate);  // 4 s, 1 s at a time
        ASSERT_EQ(s.opened, kDeviceOk);
        if (paused) {
            ASSERT_EQ(s.stream->SetPaused(true), kDeviceOk);
        }
        s.WriteWhatFits();
        ASSERT_EQ(s.stream->Start(), kDeviceOk);
        std::this_thread::sleep_for(milliseconds(200));
        s.WriteWhatFits();
        ASSERT_GE(s.written, 2u * 96000u);
        const auto start = Clock::now();
        s.stream.reset();
        EXPECT_LT(Clock::now() - start, milliseconds(100));
        // Nothing of it runs on: no callback wakes the player any more.
        EXPECT_TRUE(StaysQuiet(*s.wakeup, milliseconds(300)));
        EXPECT_TRUE(WaitUntil([] { return SinkInputs().empty(); }, seconds(2)));
    }
}

// What the stream reports as played is what the sink has played: never
// ahead of its monitor by more than the recorder's own delay, not far
// behind it, and all of it once the last bytes have played.
TEST_F(PulseTest, PlayedBytesFollowTheSinkAndReachTheEndOnceItHasPlayed) {
    constexpr std::uint32_t kBytes = 19200;  // 100 ms
    constexpr std::size_t kFrames = 3 * kRate;
    constexpr std::uint64_t kBytesPerMs = kRate * kFrameBytes / 1000;
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    OpenedStream s(backend, {"played", kBytes, 4}, kFrames);
    ASSERT_EQ(s.opened, kDeviceOk);
    s.WriteWhatFits();
    ASSERT_EQ(s.written, 4 * kBytes);
    ASSERT_EQ(s.stream->Start(), kDeviceOk);

    struct Look {
        std::uint64_t played;
        std::uint64_t recorded;  // the monitor's bytes when played was read, or later
        std::uint64_t written;
    };
    std::vector<Look> looks;
    Clock::time_point lastWrite = Clock::now();
    // Written as it plays, as the player does: the server's room is what it played.
    const bool reachedEnd = WaitUntil(
        [&] {
            if (s.WriteWhatFits() > 0) {
                lastWrite = Clock::now();
            }
            const std::uint64_t played = s.stream->PlayedBytes();
            looks.push_back({played, recording.BytesSoFar(), s.written});
            return s.AllWritten() && played == s.written;
        },
        seconds(10));
    const auto endTime = Clock::now();
    ASSERT_TRUE(reachedEnd) << "played " << looks.back().played << " of " << s.written;
    // The last write had at most the server's buffer before it.
    EXPECT_LT(endTime - lastWrite, milliseconds(400 + 300));
    std::this_thread::sleep_for(milliseconds(200));
    const std::vector<std::int16_t> recorded = recording.Stop();

    const std::vector<std::int16_t> expected = Sequence::First(2 * kFrames);
    const std::ptrdiff_t start = Locate(recorded, expected);
    ASSERT_GE(start, 0);
    EXPECT_EQ(FirstDifference(recorded, static_cast<std::size_t>(start), expected),
              expected.size());
    const auto startByte = static_cast<std::uint64_t>(start) * 2;
    constexpr std::uint64_t kAhead = 60 * kBytesPerMs;    // the recorder's delay
    constexpr std::uint64_t kBehind = 250 * kBytesPerMs;  // the sink's latency and more
    std::int64_t mostAhead = std::numeric_limits<std::int64_t>::min();
    std::int64_t mostBehind = std::numeric_limits<std::int64_t>::min();
    std::uint64_t previous = 0;
    for (const Look& look : looks) {
        EXPECT_GE(look.played, previous);
        EXPECT_LE(look.played, look.written);
        previous = look.played;
        const std::uint64_t heard = look.recorded > startByte ? look.recorded - startByte : 0;
        const auto ahead =
            static_cast<std::int64_t>(look.played) - static_cast<std::int64_t>(heard);
        mostAhead = std::max(mostAhead, ahead);
        // Only while the sink plays it: the recorder keeps recording after the end.
        if (heard < s.written) {
            mostBehind = std::max(mostBehind, -ahead);
        }
    }
    EXPECT_LE(mostAhead, static_cast<std::int64_t>(kAhead))
        << "bytes counted as played before the monitor had them";
    EXPECT_LE(mostBehind, static_cast<std::int64_t>(kBehind))
        << "bytes the monitor had long before they counted as played";
}

// ---------------------------------------------------------------- through the component

// Paused for a while in the middle, the sequence still arrives whole and in
// order: the pause holds it where it was.
TEST_F(PulseTest, APauseInTheMiddleLosesNothing) {
    constexpr std::size_t kFrames = 3 * kRate;
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    SequencePlayer player(backend, kFrames);
    ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
    player.PumpFor(seconds(1));
    player.out.SetPaused(true);
    const int donePaused = player.out.DoneCount();
    player.PumpFor(milliseconds(500));
    EXPECT_EQ(player.out.DoneCount(), donePaused);
    player.out.SetPaused(false);
    ASSERT_TRUE(player.PumpUntil([&] { return player.stopped; }, seconds(10)));
    std::this_thread::sleep_for(milliseconds(300));
    std::vector<std::int16_t> recorded = recording.Stop();

    // The pause shows as silence; without it, exactly the sequence.
    const std::vector<std::int16_t> expected = Sequence::First(2 * kFrames);
    const std::ptrdiff_t start = Locate(recorded, expected);
    ASSERT_GE(start, 0);
    std::vector<std::int16_t> sounding;
    std::vector<std::int16_t> expectedSounding;
    for (std::size_t i = static_cast<std::size_t>(start); i + 1 < recorded.size(); i += 2) {
        if (recorded[i] != 0 || recorded[i + 1] != 0) {
            sounding.insert(sounding.end(), {recorded[i], recorded[i + 1]});
        }
    }
    for (std::size_t i = 0; i + 1 < expected.size(); i += 2) {
        if (expected[i] != 0 || expected[i + 1] != 0) {
            expectedSounding.insert(expectedSounding.end(), {expected[i], expected[i + 1]});
        }
    }
    EXPECT_EQ(sounding.size(), expectedSounding.size());
    EXPECT_EQ(FirstDifference(sounding, 0, expectedSounding), expectedSounding.size());
    // And the pause was one: a stretch of silence of about its length.
    std::size_t longestSilence = 0;
    std::size_t silence = 0;
    for (std::size_t i = static_cast<std::size_t>(start); i + 1 < recorded.size(); i += 2) {
        silence = recorded[i] == 0 && recorded[i + 1] == 0 ? silence + 1 : 0;
        if (i < recorded.size() - 2 * kRate / 10) {  // not the silence after the end
            longestSilence = std::max(longestSilence, silence);
        }
    }
    EXPECT_GT(longestSilence, kRate * 4 / 10);
}

// A change made while playing is heard within the player's buffers: with
// 4 x 100 ms, a block made at t reaches the sink's monitor by t + 0.4 s and
// the recorder's delay. Nothing between the player and the sink holds more.
TEST_F(PulseTest, AChangeIsHeardWithinTheLengthOfThePlayersBuffers) {
    constexpr std::int16_t kBefore = 1000;
    constexpr std::int16_t kAfter = 8000;
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    AudioOutput out(backend);
    out.SetFrameRate(kRate);
    out.SetStereo(true);
    out.SetQuantization(16);
    out.SetBufferSize(19200);
    out.SetNumBuffers(4);
    bool stopped = false;
    out.OnStop = [&] { stopped = true; };
    const Clock::time_point changeAt = Clock::now() + milliseconds(1500);
    // Set on the component's render thread, read here.
    std::atomic<Clock::rep> changedAt{0};
    out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& size) {
        Clock::rep changed = changedAt.load();
        if (changed == 0 && Clock::now() >= changeAt) {
            changed = Clock::now().time_since_epoch().count();
            changedAt.store(changed);
        }
        const std::int16_t level = changed != 0 ? kAfter : kBefore;
        for (std::int32_t i = 0; i + 1 < size; i += 2) {
            buffer[i] = static_cast<std::uint8_t>(level & 0xFF);
            buffer[i + 1] = static_cast<std::uint8_t>(level >> 8);
        }
        return true;
    };
    ASSERT_TRUE(out.BeginPlayback()) << out.LastError();

    // Watches the recording as it grows for the first sample of the new level.
    std::ifstream monitor(recording.File(), std::ios::binary);
    std::optional<Clock::time_point> heardAt;
    const bool heard = WaitUntil(
        [&] {
            out.ProcessNotifications();
            std::array<char, 2> sample{};
            monitor.clear();
            while (!heardAt && monitor.read(sample.data(), 2)) {
                const auto value =
                    static_cast<std::int16_t>(static_cast<std::uint8_t>(sample[0]) |
                                              static_cast<std::uint8_t>(sample[1]) << 8);
                if (value == kAfter) {
                    heardAt = Clock::now();
                }
            }
            if (monitor.gcount() == 1) {
                monitor.seekg(-1, std::ios::cur);  // half a sample: read it whole next time
            }
            return heardAt.has_value();
        },
        seconds(5));
    ASSERT_TRUE(heard) << "the new level never reached the monitor";
    const Clock::time_point made{Clock::duration(changedAt.load())};
    ASSERT_NE(made, Clock::time_point{});
    EXPECT_LE(*heardAt - made, milliseconds(400 + 150))
        << std::chrono::duration_cast<milliseconds>(*heardAt - made).count() << " ms";
    EXPECT_EQ(out.PlaybackFault(), "");
    out.StopImmediately();
    EXPECT_TRUE(WaitUntil([&] {
        out.ProcessNotifications();
        return stopped;
    }));
    recording.Stop();
}

// The server killed while playing: the stream reports the loss, the
// component ends playback and says why, the last list stays and opens fail
// at once; once a server is back, the back-end is connected again by itself
// and plays bit-exact.
TEST_F(PulseTest, AServerThatGoesAwayEndsPlaybackAndOneThatComesBackPlaysAgain) {
    PulseBackend backend;
    {
        SequencePlayer player(backend, std::nullopt);
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        // And a stream of its own beside it, to see what a stream says.
        OpenedStream s(backend, {"beside", 19200, 2}, 10 * kRate);
        ASSERT_EQ(s.opened, kDeviceOk);
        s.WriteWhatFits();
        ASSERT_EQ(s.stream->Start(), kDeviceOk);
        player.PumpFor(seconds(1));
        ASSERT_TRUE(player.out.Running());
        s.wakeup->Wait(std::chrono::nanoseconds(0));

        server_.Kill();
        const auto killed = Clock::now();
        // The stream wakes its player at once and says why from then on.
        s.wakeup->Wait(seconds(2));
        EXPECT_LT(Clock::now() - killed, seconds(1));
        const DeviceResult lost = s.stream->Failure();
        EXPECT_EQ(backend.ErrorText(lost).rfind("The sound server connection was lost: ", 0), 0u)
            << backend.ErrorText(lost);
        const std::array<std::uint8_t, kFrameBytes> frame{};
        EXPECT_EQ(s.stream->Write(frame.data(), frame.size()), lost);
        EXPECT_EQ(s.stream->Writable(), 0u);

        ASSERT_TRUE(player.PumpUntil([&] { return player.stopped && !player.out.DeviceHeld(); },
                                     seconds(2)))
            << "still playing 2 s after the server went away";
        EXPECT_LT(Clock::now() - killed, seconds(2));
        EXPECT_EQ(player.out.PlaybackFault().rfind("The sound server connection was lost: ", 0), 0u)
            << player.out.PlaybackFault();
    }
    EXPECT_FALSE(backend.Connected());
    ASSERT_EQ(backend.DeviceCount(), 1u);
    EXPECT_EQ(backend.DeviceName(0), "Test-Sink");
    std::unique_ptr<HostStream> stream;
    const auto openStart = Clock::now();
    const DeviceResult refused =
        backend.Open(0, Pcm(2, 16), {}, std::make_shared<QueueWakeup>(), stream);
    EXPECT_LT(Clock::now() - openStart, milliseconds(100));
    EXPECT_EQ(backend.ErrorText(refused).rfind("The sound server connection was lost: ", 0), 0u)
        << backend.ErrorText(refused);

    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(WaitUntil([&] { return backend.Connected(); }, seconds(5)));
    constexpr std::size_t kFrames = 2 * kRate;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    SequencePlayer player(backend, kFrames);
    ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
    ASSERT_TRUE(player.PumpUntil([&] { return player.stopped; }, seconds(10)));
    EXPECT_EQ(player.out.PlaybackFault(), "");
    std::this_thread::sleep_for(milliseconds(300));
    const std::vector<std::int16_t> recorded = recording.Stop();
    const std::vector<std::int16_t> expected = Sequence::First(2 * kFrames);
    const std::ptrdiff_t start = Locate(recorded, expected);
    ASSERT_GE(start, 0);
    EXPECT_EQ(FirstDifference(recorded, static_cast<std::size_t>(start), expected),
              expected.size());
}

// The contract every back-end keeps through the one queue, on the server's
// null sink (which plays in real time).
TEST_F(PulseTest, KeepsTheStreamContract) {
    PulseBackend backend;
    testing::CheckStreamContract({backend});
}

}  // namespace
}  // namespace skarnel
