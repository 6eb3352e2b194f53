#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/wave_out_backend.h"

namespace skarnel {

class PortAudioSession;

// The output devices of PortAudio (on Linux its ALSA and JACK host APIs).
//
// Between an open device's play queue and its stream sits a ring of bytes
// sized from the player's buffers (StreamOptions: bufferBytes x bufferCount,
// within 0.1 s and 2 s); the host's buffer is asked to follow it (up to
// 0.5 s). A thread of the device's own copies queued buffers into the ring as
// it frees and returns each buffer (kBufferDone) once all of it is in the
// ring. How the ring reaches the host depends on the host API:
//  - JACK (and any host but ALSA): PortAudio's real-time callback copies from
//    the ring, lock-free, and plays silence for what the ring lacks; each such
//    gap between samples is counted (UnderrunCount). Pause plays silence
//    without taking from the ring. PortAudio's blocking path on JACK corrupts
//    the heap, its callback path does not.
//  - ALSA: the device's thread writes the ring with blocking writes, so the
//    stream carries exactly the bytes played and nothing else: ALSA devices
//    may be files or pipes (its file plug-in) where a silence PortAudio's
//    callback path inserts (a buffer of it at every start, more whenever the
//    ring runs dry on a device that takes samples faster than real time)
//    would be recorded. PortAudio's ALSA host drops what the host holds when
//    a stream stops, so a close first waits until the host has played it.
// Close lets the ring play out; the owner's thread waits for that (up to the
// ring's and the host's duration plus 1 s, never longer: a host that stops
// taking samples cannot hang it). A host that stops the stream or fails a
// write (a JACK server that went away, a device unplugged) ends it: the queue
// comes back as done and later writes fail with a code ErrorText explains.
// PortAudio stays initialised while the back-end or any device it opened is
// alive.
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
                      const NotificationTarget& target,
                      std::unique_ptr<WaveOutDevice>& device) override;
    std::string ErrorText(std::uint32_t code) override;

    // The code this back-end returns for a PortAudio error (a PaError).
    static std::uint32_t CodeForPaError(int paError) noexcept;
    // Write's code once the host has stopped a device's stream on its own
    // (past the range of PortAudio's codes).
    static constexpr DeviceResult kStreamStoppedByHost =
        static_cast<DeviceResult>(kFirstBackendError + 100);

    // Gaps of silence the devices of this back-end have played between
    // samples: a callback that found the ring dry, or a host that reported
    // running dry between two blocking writes. Silence before the first
    // samples, after the last, during a pause or after a reset is no gap.
    std::uint64_t UnderrunCount() const noexcept;

private:
    // The code for a failed PortAudio call of Open; remembers the host's
    // message of an unanticipated host error for ErrorText.
    DeviceResult OpenFailure(int paError);

    std::shared_ptr<PortAudioSession> session_;
};

}  // namespace skarnel
