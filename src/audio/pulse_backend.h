#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/wave_out_backend.h"

namespace skarnel {

class PulseConnection;

// What went wrong with the sound server. Each kind has a code range of its
// own (kFirstBackendError + 0x200 + 0x100 x kind + libpulse error number), so
// ErrorText can say both what happened and libpulse's reason, and the codes
// stay clear of PortAudio's (kFirstBackendError..+100).
enum class PulseFailure : std::uint32_t {
    kStreamRefused,   // an open the server turned down
    kConnectFailed,   // no server has answered
    kConnectionLost,  // the server went away
    kStreamEnded,     // the server ended a playing stream (its sink was removed)
    kServerSilent,    // the server stopped answering while a stream played
};

// The sinks of a PulseAudio server, or of PipeWire's pipewire-pulse, through
// libpulse's asynchronous API on a threaded mainloop of the back-end's own.
//
// The device list is every sink by its description, in the server's sink
// order, kept current through sink and server events; WatchDevices' function
// is called on the mainloop thread when it changes and may read the list
// (DeviceCount, DeviceName) but must not open devices. kDefaultWaveDevice
// plays to the server's default sink and follows it when the user changes it.
//
// Each open is one playback stream (PulseStream). Its server-side buffer
// (tlength) takes the player's buffers together (StreamOptions bufferBytes x
// bufferCount) and the player writes no more than those, so nothing waits
// between the player and the ear beyond what its settings say. PlayedBytes is
// what the server reports as heard: libpulse's interpolated stream time,
// which counts a byte once it has left the sink (the sink's latency
// included), so a buffer is done when it has really played. The stream
// plays without PA_STREAM_ADJUST_LATENCY, opens corked and starts at Start.
// Each window's stream has an identity of its own (StreamOptions::identity):
// PulseAudio's stream restore keys on module-stream-restore.id, and
// WirePlumber on the first of media.role, application.id, ... that a stream
// has. So such a stream carries no media role (a role would be one key for
// every window, and a sink or volume set for one window in the mixer would
// reach the next window that plays) but an application.id that names the
// window. The servers' default policies cork or duck only streams of the
// roles music and video, so a stream without a role keeps its level as one
// of the role "production" did. A stream without an identity (a test's)
// keeps that role.
//
// When the server goes away, open streams report the loss (Failure) and refuse
// further writes, opens fail at once, the last sink list stays, and the
// back-end connects again on its own (twice a second) when a server is back.
class PulseBackend : public WaveOutBackend {
public:
    static constexpr const char* kApplicationName = "Skarnel";
    static constexpr const char* kIconName = "org.orvane.Skarnel";
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{1500};

    // Connects to the server (never starting one) and waits up to `timeout`
    // for it to answer and list its sinks.
    explicit PulseBackend(std::chrono::milliseconds timeout = kDefaultConnectTimeout);
    ~PulseBackend() override;
    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    // A server is connected: the program plays through this back-end only then.
    bool Connected() const noexcept;

    std::uint32_t DeviceCount() override;
    std::string DeviceName(std::uint32_t index) override;
    std::string DeviceId(std::uint32_t index) override;
    DeviceResult Open(std::uint32_t index, const WaveFormat& format, const StreamOptions& options,
                      std::shared_ptr<QueueWakeup> wakeup,
                      std::unique_ptr<HostStream>& stream) override;
    std::string ErrorText(std::uint32_t code) override;
    void WatchDevices(std::function<void()> changed) override;

    // The code for a failure with libpulse's error number (PA_ERR_*).
    static std::uint32_t CodeFor(PulseFailure kind, int paError) noexcept;
    // The code is one of this back-end's own.
    static bool IsPulseCode(std::uint32_t code) noexcept;

private:
    std::shared_ptr<PulseConnection> connection_;
};

}  // namespace skarnel
