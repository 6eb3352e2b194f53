#pragma once

// A JACK server of the test's own, and a JACK client that records what
// reaches it, for tests of the PortAudio back-end on JACK. jackd's dummy
// driver runs in real time without a sound card.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <portaudio.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "private_alsa_config.h"

namespace skarnel::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr std::uint32_t kRate = 48000;
// An ALSA device that plays through ALSA's JACK plug-in into the recorder.
inline constexpr const char* kAlsaOnJack = "skarnel_alsa_on_jack";

inline std::optional<fs::path> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

inline bool WaitUntil(const std::function<bool()>& done, Clock::duration patience) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A JACK client with two input ports that records what reaches them,
// interleaved, into memory set aside before it starts.
class JackRecorder {
public:
    explicit JackRecorder(std::size_t maxFrames) : samples_(2 * maxFrames) {
        client_ = jack_client_open("skarnel_recorder", JackNoStartServer, nullptr);
        if (client_ == nullptr) {
            return;
        }
        ports_[0] =
            jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        ports_[1] =
            jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackRecorder::Process, this);
        ready_ = ports_[0] != nullptr && ports_[1] != nullptr && jack_activate(client_) == 0;
    }
    ~JackRecorder() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }
    JackRecorder(const JackRecorder&) = delete;
    JackRecorder& operator=(const JackRecorder&) = delete;

    bool Ready() const { return ready_; }

    // Connects the ports that feed the server's playback ports (PortAudio's
    // stream) to the recorder. False when there are none.
    bool ConnectToPlaybackSources() {
        int connected = 0;
        for (int channel = 0; channel < 2; ++channel) {
            const std::string playback = "system:playback_" + std::to_string(channel + 1);
            jack_port_t* port = jack_port_by_name(client_, playback.c_str());
            const char** sources =
                port != nullptr ? jack_port_get_all_connections(client_, port) : nullptr;
            if (sources == nullptr) {
                continue;
            }
            for (const char** source = sources; *source != nullptr; ++source) {
                if (jack_connect(client_, *source, jack_port_name(ports_[channel])) == 0) {
                    ++connected;
                }
            }
            jack_free(sources);
        }
        return connected == 2;
    }

    void Start() { recording_.store(true); }
    std::size_t Frames() const { return frames_.load(); }
    void Stop() { recording_.store(false); }
    bool Full() const { return 2 * frames_.load() == samples_.size(); }

    // The recorded frames, interleaved; call after Stop.
    std::vector<float> Samples() const {
        return {samples_.begin(), samples_.begin() + 2 * frames_.load()};
    }

private:
    // JACK's real-time thread: copies into the memory set aside, no more.
    static int Process(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<JackRecorder*>(arg);
        if (!self.recording_.load()) {
            return 0;
        }
        const std::size_t at = self.frames_.load(std::memory_order_relaxed);
        const std::size_t n = std::min<std::size_t>(frames, self.samples_.size() / 2 - at);
        const auto* left = static_cast<const float*>(jack_port_get_buffer(self.ports_[0], frames));
        const auto* right = static_cast<const float*>(jack_port_get_buffer(self.ports_[1], frames));
        for (std::size_t i = 0; i < n; ++i) {
            self.samples_[2 * (at + i)] = left[i];
            self.samples_[2 * (at + i) + 1] = right[i];
        }
        self.frames_.store(at + n, std::memory_order_release);
        return 0;
    }

    std::vector<float> samples_;
    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[2] = {nullptr, nullptr};
    bool ready_ = false;
    std::atomic<bool> recording_{false};
    std::atomic<std::size_t> frames_{0};
};

// A fixture that starts a private jackd with the dummy driver at 48 kHz for
// each test (or skips the test when there is no jackd), with a private HOME,
// XDG_RUNTIME_DIR and ALSA configuration, and ends it again. A test process
// that dies takes its server with it.
class PrivateJackServer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::optional<fs::path> jackd = FindProgram("jackd");
        if (!jackd) {
            GTEST_SKIP() << "jackd is not installed (Debian package jackd2); the JACK tests "
                            "need a JACK server to play into";
        }
        char pattern[] = "/tmp/skarnel-jack-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        fs::create_directories(home_ / "run");
        fs::permissions(home_ / "run", fs::perms::owner_all, fs::perm_options::replace);
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home_ / "run").c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        ASSERT_TRUE(ClaimServerName()) << "all JACK server names for tests are in use";
        const std::string& server = serverName_;
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        // ALSA's default goes nowhere. The ALSA device kAlsaOnJack plays
        // through ALSA's JACK plug-in straight into the recorder's ports: an
        // ALSA device paced in real time, for the blocking writes.
        UsePrivateAlsaConfig(
            home_ / "alsa.conf",
            std::string("pcm.!default { type null }\npcm.") + kAlsaOnJack +
                " { type plug; slave.pcm { type jack; name skarnel_alsa; playback_ports "
                "{ 0 skarnel_recorder:in_1 1 skarnel_recorder:in_2 } } }");
        StartServer();
    }

    // Starts jackd (dummy driver) under the claimed name and waits until it
    // takes clients; again after StopServer, as a user restarts it.
    void StartServer() {
        const std::optional<fs::path> jackd = FindProgram("jackd");
        ASSERT_TRUE(jackd.has_value());
        const std::string& server = serverName_;
        const std::string log = (home_ / "jackd.log").string();
        const std::string program = jackd->string();
        std::vector<std::string> args = {
            program, "-n", server, "-d", "dummy", "-r", std::to_string(kRate)};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        server_ = fork();
        ASSERT_GE(server_, 0);
        if (server_ == 0) {
            // The server ends with the test process, however that ends, and
            // unregisters: a killed server's entry in JACK's registry of
            // servers (eight at most) would stay.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) {
                _exit(127);
            }
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        // libjack reports every refused connection of the probes below.
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        const bool up = WaitUntil(
            [&] {
                if (waitpid(server_, nullptr, WNOHANG) == server_) {
                    server_ = -1;
                    return true;  // ended: reported below
                }
                jack_client_t* probe =
                    jack_client_open("skarnel_probe", JackNoStartServer, nullptr);
                if (probe == nullptr) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    return false;
                }
                jack_client_close(probe);
                return true;
            },
            std::chrono::seconds(20));
        ASSERT_TRUE(up && server_ > 0) << "jackd did not come up; its output:\n" << ServerLog();
    }

    void TearDown() override {
        StopServer();
        RemoveServerLeftovers();
        if (nameLock_ >= 0) {
            close(nameLock_);
        }
        if (!home_.empty()) {
            std::error_code ignored;
            fs::remove_all(home_, ignored);
        }
    }

    // Shuts the server down (it tells its clients); one that does not end
    // within 5 s is killed.
    void StopServer() {
        if (server_ <= 0) {
            return;
        }
        kill(server_, SIGTERM);
        if (!WaitUntil([&] { return waitpid(server_, nullptr, WNOHANG) == server_; },
                       std::chrono::seconds(5))) {
            kill(server_, SIGKILL);
            waitpid(server_, nullptr, 0);
        }
        server_ = -1;
    }

    // Takes the first of a few fixed server names that no other test holds
    // (a lock file each, released when the test ends however it ends). A
    // fixed name lets the next server of that name reclaim the registry entry
    // of one that was killed; a new name for every run would fill JACK's
    // registry, which then refuses every further server.
    bool ClaimServerName() {
        for (int n = 0; n < 4; ++n) {
            const std::string lock = "/tmp/skarnel-jack-test-" + std::to_string(n) + ".lock";
            const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
                nameLock_ = fd;
                serverName_ = "skarnel-test-" + std::to_string(n);
                return true;
            }
            if (fd >= 0) {
                close(fd);
            }
        }
        return false;
    }

    // A server that was killed, and clients that never closed, leave their
    // sockets and semaphores in /dev/shm; those of this test's server go.
    void RemoveServerLeftovers() const {
        if (serverName_.empty()) {
            return;
        }
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/dev/shm", error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("jack_" + serverName_ + "_") ||
                (name.starts_with("jack_sem.") &&
                 name.find("_" + serverName_ + "_") != std::string::npos)) {
                fs::remove(entry.path(), error);
            }
        }
    }

    std::string ServerLog() const {
        std::ifstream in(home_ / "jackd.log");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The back-end's index of PortAudio's first output device of the host
    // API and, if given, the name (its outputs in PortAudio's order). Call
    // while a back-end keeps PortAudio initialised.
    static std::optional<std::uint32_t> DeviceIndex(PaHostApiTypeId hostApi,
                                                    const std::string& name = "") {
        std::uint32_t outputs = 0;
        for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info == nullptr || info->maxOutputChannels <= 0) {
                continue;
            }
            const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
            if (api != nullptr && api->type == hostApi && (name.empty() || name == info->name)) {
                return outputs;
            }
            ++outputs;
        }
        return std::nullopt;
    }
    static std::optional<std::uint32_t> JackDeviceIndex() { return DeviceIndex(paJACK); }

    // A component on `device`: 48 kHz, 16-bit stereo.
    static void SetUpOutput(AudioOutput& out, std::uint32_t device, std::int32_t bufferBytes,
                            std::int32_t buffers) {
        out.SetWaveDevice(device);
        out.SetFrameRate(kRate);
        out.SetStereo(true);
        out.SetQuantization(16);
        out.SetBufferSize(bufferBytes);
        out.SetNumBuffers(buffers);
    }

    fs::path home_;
    std::string serverName_;
    int nameLock_ = -1;
    pid_t server_ = -1;
};

// Deterministic 16-bit samples, none of them zero, so that silence in a
// recording is never mistaken for a sample and the reverse.
class SampleSequence {
public:
    std::int16_t Next() {
        state_ = state_ * 1103515245u + 12345u;
        return static_cast<std::int16_t>((state_ >> 16) | 1);
    }

private:
    std::uint32_t state_ = 20240601u;
};

// A fill handler that plays `frames` stereo frames of the sequence, then
// ends; `produced` counts the frames handed over.
inline FillBufferHandler PlaySequence(std::size_t frames, std::size_t& produced) {
    auto sequence = std::make_shared<SampleSequence>();
    return [sequence, frames, &produced](std::uint8_t* buffer, std::int32_t& size) {
        if (produced == frames) {
            return false;
        }
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(size) / 4, frames - produced);
        for (std::size_t i = 0; i < 2 * n; ++i) {
            const auto sample = static_cast<std::uint16_t>(sequence->Next());
            buffer[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
            buffer[2 * i + 1] = static_cast<std::uint8_t>(sample >> 8);
        }
        size = static_cast<std::int32_t>(4 * n);
        produced += n;
        return true;
    };
}

// Plays until the component stops on its own, calling ProcessNotifications
// as an owner thread would.
inline bool PlayToTheEnd(AudioOutput& out, bool& stopped, Clock::duration patience) {
    return WaitUntil(
        [&] {
            out.ProcessNotifications();
            return stopped;
        },
        patience);
}

}  // namespace skarnel::testing
