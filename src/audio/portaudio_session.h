#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace skarnel {

// Holds one PortAudio initialisation. The back-end and every stream it opened
// share it, so PortAudio (which closes all streams when terminated) stays up
// until the last of them is gone, a stream thread held up in the host
// included.
//
// The first session of a process also keeps the sound libraries quiet: it
// sets JACK_NO_START_SERVER and JACK_NO_AUDIO_RESERVATION (unless already
// set) and routes the ALSA and JACK library messages, which would otherwise
// land on standard error, to handlers that drop them.
class PortAudioSession {
public:
    PortAudioSession();
    ~PortAudioSession();
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;

    bool Ready() const noexcept { return initError_ == 0; }

    // Keeps PortAudio's text of its last unanticipated host error, for the
    // message of the code that reported it.
    void RememberHostError();
    std::string HostErrorText() const;

    // A gap of silence a stream played between samples (see
    // PortAudioBackend::UnderrunCount). Lock-free: real-time callbacks count.
    void CountUnderrun() noexcept { underruns_.fetch_add(1, std::memory_order_relaxed); }
    std::uint64_t Underruns() const noexcept { return underruns_.load(std::memory_order_relaxed); }

    // A host stopped a stream on its own (a JACK server that went away).
    // PortAudio's host stays on what it found at the initialisation, so the
    // back-end can say why a later open on that host fails.
    void NoteStreamStoppedByHost() noexcept { hostStoppedAStream_.store(true); }
    bool HostStoppedAStream() const noexcept { return hostStoppedAStream_.load(); }

private:
    int initError_ = 0;
    mutable std::mutex hostErrorMutex_;
    std::string hostErrorText_;
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<bool> hostStoppedAStream_{false};
};

}  // namespace skarnel
