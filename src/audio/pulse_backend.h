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
// Each open device is one playback stream whose server-side buffer (tlength)
// holds the player's buffers together (StreamOptions bufferBytes x
// bufferCount): larger settings really ride out longer stalls. The stream
// plays without PA_STREAM_ADJUST_LATENCY, which would spend part of that on
// the sink's own latency instead, and starts once its buffer is full (the
// default prebuffering). A buffer counts as done when the server has taken
// all of it; Close then waits, bounded, for the server to play out the rest.
// Streams carry the role "production": their level must not change, and the
// servers' default policies duck or cork music and video streams (for a call,
// for instance) but leave production streams alone.
//
// When the server goes away, open devices return their buffers and refuse
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
    DeviceResult Open(std::uint32_t index, const WaveFormat& format, const StreamOptions& options,
                      const NotificationTarget& target,
                      std::unique_ptr<WaveOutDevice>& device) override;
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
