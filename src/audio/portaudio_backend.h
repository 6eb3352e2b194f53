#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/wave_out_backend.h"

namespace skarnel {

class PortAudioSession;

// The output devices of PortAudio (on Linux its ALSA and JACK host APIs).
//
// An open stream keeps a ring of bytes between the player and PortAudio.
// Ring and host buffer together hold what the player's buffers hold
// (StreamOptions: bufferBytes x bufferCount): Writable never lets more than
// that lie unplayed. The host's buffer is asked for half of it, at most
// 0.5 s. How the ring reaches the host depends on the host API:
//  - JACK (and any host but ALSA): PortAudio's real-time callback copies from
//    the ring, lock-free, and plays silence for what the ring lacks; each such
//    gap between samples is counted (UnderrunCount). What earlier callbacks
//    took counts as played. Pause plays silence without taking from the ring.
//    PortAudio's blocking path on JACK corrupts the heap, its callback path
//    does not.
//  - ALSA: the stream's thread writes the ring with blocking writes, so the
//    host receives exactly the bytes written and nothing else: ALSA devices
//    may be files or pipes (its file plug-in) where a silence PortAudio's
//    callback path inserts (a buffer of it at every start, more whenever the
//    ring runs dry on a device that takes samples faster than real time)
//    would be recorded. What was written less what the host still holds
//    counts as played.
// Destroying a stream waits for its thread at most the ring's and the host's
// duration plus 1 s: a host that stops taking samples cannot hang the player.
// A host that stops the stream or fails a write (a JACK server that went
// away, a device unplugged) ends it: Failure and Write then return a code
// ErrorText explains. PortAudio stays initialised while the back-end or any
// stream it opened is alive.
//
// Creating the first back-end of a process also keeps the sound libraries
// quiet: it sets JACK_NO_START_SERVER and JACK_NO_AUDIO_RESERVATION (unless
// already set) and routes the ALSA and JACK library messages, which would
// otherwise land on standard error, to handlers that drop them. Create it
// before other threads read the environment.
class PortAudioBackend : public WaveOutBackend {
public:
    PortAudioBackend();
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    // PortAudio's output devices (those with output channels), in its order.
    std::uint32_t DeviceCount() override;
    std::string DeviceName(std::uint32_t index) override;
    DeviceResult Open(std::uint32_t index, const WaveFormat& format, const StreamOptions& options,
                      std::shared_ptr<QueueWakeup> wakeup,
                      std::unique_ptr<HostStream>& stream) override;
    std::string ErrorText(std::uint32_t code) override;

    // The code this back-end returns for a PortAudio error (a PaError).
    static std::uint32_t CodeForPaError(int paError) noexcept;
    // Failure's code once the host has stopped a stream on its own
    // (past the range of PortAudio's codes).
    static constexpr DeviceResult kStreamStoppedByHost =
        static_cast<DeviceResult>(kFirstBackendError + 100);
    // Open's code for a JACK device that fails once a JACK server stopped a
    // stream of this process by going away: PortAudio 19.6 keeps its JACK host on that server
    // (its wait for the dead server holds PortAudio initialised) and finds a
    // new one only in a new process.
    static constexpr DeviceResult kJackServerGone =
        static_cast<DeviceResult>(kFirstBackendError + 101);

    // Gaps of silence the streams of this back-end have played between
    // samples: a callback that found the ring dry, or a host that reported
    // running dry between two blocking writes. Silence before the first
    // samples, after the last, during a pause or after a flush is no gap.
    std::uint64_t UnderrunCount() const noexcept;

private:
    // The code for a failed PortAudio call of Open; remembers the host's
    // message of an unanticipated host error for ErrorText.
    DeviceResult OpenFailure(int paError);

    std::shared_ptr<PortAudioSession> session_;
};

}  // namespace skarnel
