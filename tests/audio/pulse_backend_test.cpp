#include "audio/pulse_backend.h"

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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"

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

std::vector<DeviceNotification> TakeAll(NotificationChannel& channel) {
    std::vector<DeviceNotification> taken;
    while (const auto n = channel.Take()) {
        taken.push_back(*n);
    }
    return taken;
}

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
    EXPECT_EQ(backend.DeviceName(1), longName.substr(0, kMaxDeviceNameLength));

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

TEST_F(PulseTest, OpensTheChosenSinkOrTheDefaultThatItThenFollows) {
    PulseBackend backend;
    ASSERT_TRUE(Shell(
        "pactl load-module module-null-sink sink_name=t sink_properties=device.description=Other"));
    ASSERT_TRUE(WaitUntil([&] { return backend.DeviceCount() == 2; }));
    ASSERT_EQ(backend.DeviceName(1), "Other");
    NotificationChannel channel;

    {
        std::unique_ptr<WaveOutDevice> device;
        ASSERT_EQ(backend.Open(1, Pcm(2, 16), {"Chosen sink"}, {&channel, 1}, device), kDeviceOk);
        EXPECT_EQ(SinkOfTheStream(), SinkIndex("t"));
        const std::string inputs = SinkInputs();
        EXPECT_NE(inputs.find("media.name = \"Chosen sink\""), std::string::npos) << inputs;
        EXPECT_NE(inputs.find("application.name = \"Skarnel\""), std::string::npos);
        EXPECT_NE(inputs.find("application.icon_name = \"org.orvane.Skarnel\""), std::string::npos);
        EXPECT_NE(inputs.find("media.role = \"production\""), std::string::npos);
        EXPECT_EQ(device->Close(), kDeviceOk);
    }
    EXPECT_TRUE(WaitUntil([] { return SinkOfTheStream().empty(); }));

    {
        // The default sink, followed when the user picks another default.
        std::unique_ptr<WaveOutDevice> device;
        ASSERT_EQ(backend.Open(kDefaultWaveDevice, Pcm(1, 8, 22050), {}, {&channel, 2}, device),
                  kDeviceOk);
        EXPECT_EQ(SinkOfTheStream(), SinkIndex("s"));
        EXPECT_NE(SinkInputs().find("media.name = \"Skarnel\""), std::string::npos);
        ASSERT_TRUE(Shell("pactl set-default-sink t"));
        EXPECT_TRUE(WaitUntil([] { return SinkOfTheStream() == SinkIndex("t"); }, seconds(3)));
        EXPECT_EQ(device->Close(), kDeviceOk);
    }
    const auto events = TakeAll(channel);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].event, DeviceEvent::kOpened);
    EXPECT_EQ(events[1].event, DeviceEvent::kClosed);
    EXPECT_EQ(events[2].event, DeviceEvent::kOpened);
    EXPECT_EQ(events[3].event, DeviceEvent::kClosed);
    EXPECT_EQ(events[3].generation, 2u);
}

TEST_F(PulseTest, RefusesFormatsAndDevicesItCannotPlayAndExplainsItsCodes) {
    PulseBackend backend;
    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;
    WaveFormat inconsistent = Pcm(2, 16);
    inconsistent.blockAlign = 2;
    for (const WaveFormat& format :
         {Pcm(2, 32), Pcm(2, 12), Pcm(3, 16), Pcm(0, 16), Pcm(2, 16, 0), inconsistent}) {
        EXPECT_EQ(backend.Open(kDefaultWaveDevice, format, {}, {&channel, 1}, device),
                  kWaveBadFormat)
            << format.channels << " x " << format.bitsPerSample << " bits at "
            << format.samplesPerSec;
    }
    EXPECT_EQ(backend.Open(backend.DeviceCount(), Pcm(2, 16), {}, {&channel, 1}, device),
              kDeviceBadId);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(channel.Pending(), 0u);  // a failed open announces nothing
    EXPECT_EQ(SinkInputs(), "");

    // Every width it takes opens (24 bits as packed three-byte samples).
    for (std::uint16_t bits : {8, 16, 24}) {
        ASSERT_EQ(backend.Open(0, Pcm(2, bits, 44100), {}, {&channel, 1}, device), kDeviceOk)
            << bits;
        EXPECT_EQ(device->Close(), kDeviceOk);
        device.reset();
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

    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;
    const auto openStart = Clock::now();
    const DeviceResult refused =
        backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, {&channel, 1}, device);
    EXPECT_LT(Clock::now() - openStart, milliseconds(100));
    EXPECT_TRUE(PulseBackend::IsPulseCode(refused));
    EXPECT_EQ(backend.ErrorText(refused).rfind("The sound server connection failed: ", 0), 0u)
        << backend.ErrorText(refused);
    EXPECT_EQ(device, nullptr);

    std::atomic<int> calls{0};
    backend.WatchDevices([&] { ++calls; });
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(WaitUntil([&] { return backend.Connected() && calls > 0; }, seconds(5)));
    EXPECT_EQ(backend.DeviceName(0), "Test-Sink");
    ASSERT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 16), {}, {&channel, 2}, device), kDeviceOk);
    EXPECT_EQ(device->Close(), kDeviceOk);
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

// The server holds about the player's buffers once more (bufferBytes x
// bufferCount), not a fixed amount of its own.
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
        const std::string inputs = SinkInputs();
        const auto at = inputs.find("Buffer Latency: ");
        ASSERT_NE(at, std::string::npos) << inputs;
        const long usec = std::stol(inputs.substr(at + 16));
        // Refilled whenever a buffer's room is free: between one buffer
        // short of the target and the target.
        EXPECT_GE(usec, (buffers - 1) * 100000 - 20000);
        EXPECT_LE(usec, buffers * 100000 + 20000);
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

// ---------------------------------------------------------------- the device's queue

// A device opened on the default sink with `count` buffers of the sequence.
class OpenedDevice {
public:
    OpenedDevice(PulseBackend& backend, std::size_t count, std::uint32_t bytes,
                 const StreamOptions& options)
        : headers(count), bytes_(Sequence::First(count * bytes / 2)) {
        EXPECT_EQ(backend.Open(kDefaultWaveDevice, Pcm(2, 16), options, {&channel, 7}, device),
                  kDeviceOk);
        for (std::size_t i = 0; i < count; ++i) {
            headers[i].data = reinterpret_cast<std::uint8_t*>(bytes_.data()) + i * bytes;
            headers[i].bufferLength = bytes;
            if (device != nullptr) {
                EXPECT_EQ(device->PrepareHeader(headers[i]), kDeviceOk);
            }
        }
    }

    // The done notifications posted so far.
    std::vector<WaveHeader*> Dones() {
        std::vector<WaveHeader*> dones;
        for (const auto& n : TakeAll(channel)) {
            EXPECT_EQ(n.generation, 7u);
            if (n.event == DeviceEvent::kBufferDone) {
                dones.push_back(n.header);
            }
        }
        return dones;
    }

    // Collects done notifications into `dones` until there are `count`.
    bool AwaitDones(std::vector<WaveHeader*>& dones, std::size_t count,
                    Clock::duration patience = seconds(5)) {
        return WaitUntil(
            [&] {
                for (WaveHeader* h : Dones()) {
                    dones.push_back(h);
                }
                return dones.size() >= count;
            },
            patience);
    }

    std::vector<WaveHeader*> InOrder(std::size_t count) {
        std::vector<WaveHeader*> order;
        for (std::size_t i = 0; i < count; ++i) {
            order.push_back(&headers[i]);
        }
        return order;
    }

    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;
    std::vector<WaveHeader> headers;

private:
    std::vector<std::int16_t> bytes_;
};

// Eight buffers of 125 ms on a server buffer of two: most wait in the
// device's queue, so pausing, resuming and resetting show in it.
TEST_F(PulseTest, PauseHoldsTheQueueResetReturnsItAtOnceAndCloseNeedsItEmpty) {
    constexpr std::uint32_t kBytes = 24000;
    PulseBackend backend;
    MonitorRecording recording(server_.Dir() / "monitor.raw");
    ASSERT_TRUE(recording.Ready());
    OpenedDevice d(backend, 8, kBytes, {"queue", kBytes, 2});
    ASSERT_NE(d.device, nullptr);
    ASSERT_EQ(TakeAll(d.channel).size(), 1u);  // opened

    WaveHeader unprepared = d.headers[0];
    unprepared.flags = 0;
    EXPECT_EQ(d.device->Write(unprepared), kWaveUnprepared);

    // Paused before anything is written: nothing is handed over, nothing done.
    ASSERT_EQ(d.device->Pause(), kDeviceOk);
    for (auto& header : d.headers) {
        ASSERT_EQ(d.device->Write(header), kDeviceOk);
    }
    EXPECT_EQ(d.device->Write(d.headers[0]), kWaveStillPlaying);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_TRUE(d.Dones().empty());
    EXPECT_EQ(d.device->Close(), kWaveStillPlaying);
    EXPECT_EQ(d.device->UnprepareHeader(d.headers[7]), kWaveStillPlaying);

    // Playing, then paused again in the middle: nothing comes while paused.
    ASSERT_EQ(d.device->Restart(), kDeviceOk);
    std::vector<WaveHeader*> dones;
    ASSERT_TRUE(d.AwaitDones(dones, 3));
    ASSERT_EQ(d.device->Pause(), kDeviceOk);
    for (WaveHeader* h : d.Dones()) {
        dones.push_back(h);
    }
    ASSERT_LT(dones.size(), 7u) << "the server took the whole queue at once";
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_EQ(d.channel.Pending(), 0u);

    // Resumed, then reset: the rest comes back at once, before Reset returns.
    ASSERT_EQ(d.device->Restart(), kDeviceOk);
    ASSERT_TRUE(d.AwaitDones(dones, dones.size() + 1));
    const auto resetStart = Clock::now();
    ASSERT_EQ(d.device->Reset(), kDeviceOk);
    EXPECT_LT(Clock::now() - resetStart, milliseconds(50));
    for (WaveHeader* h : d.Dones()) {
        dones.push_back(h);
    }
    EXPECT_EQ(dones, d.InOrder(8));
    for (const auto& header : d.headers) {
        EXPECT_EQ(header.flags & kHeaderInQueue, 0u);
    }
    EXPECT_EQ(d.device->UnprepareHeader(d.headers[7]), kDeviceOk);

    // The reset left it playing, not paused; the close plays out the buffer
    // the server holds and waits no longer than that and a little more.
    ASSERT_EQ(d.device->Write(d.headers[0]), kDeviceOk);
    dones.clear();
    ASSERT_TRUE(d.AwaitDones(dones, 1));
    const auto closeStart = Clock::now();
    ASSERT_EQ(d.device->Close(), kDeviceOk);
    EXPECT_LT(Clock::now() - closeStart, milliseconds(2 * 125 + 400 + 100));
    const auto closed = TakeAll(d.channel);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].event, DeviceEvent::kClosed);
    EXPECT_EQ(d.device->Write(d.headers[1]), kDeviceInvalidHandle);
    EXPECT_EQ(d.device->Close(), kDeviceInvalidHandle);
    EXPECT_EQ(SinkInputs(), "");

    // The last buffer went out whole after the reset dropped what was
    // buffered: the recording ends with it.
    std::this_thread::sleep_for(milliseconds(200));
    std::vector<std::int16_t> recorded = recording.Stop();
    while (!recorded.empty() && recorded.back() == 0) {
        recorded.pop_back();
    }
    const std::vector<std::int16_t> last = Sequence::First(kBytes / 2);
    ASSERT_GE(recorded.size(), last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), recorded.end() - last.size()));
}

TEST_F(PulseTest, DestroyingAnUnclosedDeviceDropsItsQueueQuietlyAndAtOnce) {
    PulseBackend backend;
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        OpenedDevice d(backend, 8, 96000, {"dropped", 96000, 2});  // 4 s of sound
        ASSERT_NE(d.device, nullptr);
        if (paused) {
            ASSERT_EQ(d.device->Pause(), kDeviceOk);
        }
        for (auto& header : d.headers) {
            ASSERT_EQ(d.device->Write(header), kDeviceOk);
        }
        const auto start = Clock::now();
        d.device.reset();
        EXPECT_LT(Clock::now() - start, milliseconds(100));
        const std::size_t posted = d.channel.Pending();
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_EQ(d.channel.Pending(), posted);
        for (const auto& n : TakeAll(d.channel)) {
            EXPECT_NE(n.event, DeviceEvent::kClosed);
        }
        EXPECT_TRUE(WaitUntil([] { return SinkInputs().empty(); }, seconds(2)));
    }
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

// The server killed while playing: the device returns its buffers, the
// component ends playback and says why, the last list stays and opens fail
// at once; once a server is back, the back-end is connected again by itself
// and plays bit-exact.
TEST_F(PulseTest, AServerThatGoesAwayEndsPlaybackAndOneThatComesBackPlaysAgain) {
    PulseBackend backend;
    {
        SequencePlayer player(backend, std::nullopt);
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        player.PumpFor(seconds(1));
        ASSERT_TRUE(player.out.Running());

        server_.Kill();
        const auto killed = Clock::now();
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
    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;
    const auto openStart = Clock::now();
    const DeviceResult refused = backend.Open(0, Pcm(2, 16), {}, {&channel, 1}, device);
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

}  // namespace
}  // namespace skarnel
