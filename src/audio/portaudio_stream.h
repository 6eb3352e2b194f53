#pragma once

#include <portaudio.h>

#include <memory>

#include "audio/queue_wakeup.h"
#include "audio/wave_out_backend.h"

namespace skarnel {

class PortAudioSession;

// How a stream hands its samples to PortAudio.
enum class PortAudioFeed {
    // PortAudio's callback takes them from the stream's ring; when the ring
    // runs dry it plays silence. For hosts that pace the stream themselves
    // (JACK), whose blocking path PortAudio does not get right.
    kCallback,
    // The stream's thread writes them with Pa_WriteStream: the host then
    // receives exactly the bytes written, never a silence the player did not
    // ask for. For ALSA, whose devices may be files and pipes (ALSA's file
    // plug-in) that record whatever the stream hands over.
    kBlockingWrites,
};

// The calls a stream makes into its PortAudio stream once it is open, each
// the PortAudio function of the same name on that stream. They sit behind
// this interface so that a test can stand in for a host that misbehaves: one
// whose call returns late, or fails, after the stream's owner has gone.
//
// After the open only the stream's own thread (the pump) calls these, one at
// a time; a callback stream is started once by the opener before the pump
// exists. CloseStream comes last; the host is destroyed after it.
class PortAudioHost {
public:
    virtual ~PortAudioHost() = default;
    virtual PaError StartStream() = 0;
    virtual PaError AbortStream() = 0;
    virtual PaError CloseStream() = 0;
    // 1 while the stream runs, 0 once it has stopped, or an error.
    virtual PaError IsStreamActive() = 0;
    virtual PaError WriteStream(const void* buffer, unsigned long frames) = 0;
    // Frames the host takes without waiting, or an error.
    virtual signed long GetStreamWriteAvailable() = 0;
};

// Opens a PortAudio output stream on `device` for the format (of
// `sampleFormat` samples), stopped (see HostStream::Start). Returns
// paNoError, PortAudio's error, or paInsufficientMemory when the stream's
// memory or thread cannot be had.
PaError OpenPortAudioStream(std::shared_ptr<PortAudioSession> session, PaDeviceIndex device,
                            PaSampleFormat sampleFormat, PortAudioFeed feed,
                            const WaveFormat& format, const StreamOptions& options,
                            std::shared_ptr<QueueWakeup> wakeup,
                            std::unique_ptr<HostStream>& opened);

// The same stream over a host that is already open: what OpenPortAudioStream
// does once PortAudio has opened the stream, with `hostSeconds` as the host's
// output latency. A callback stream's host is started here and is never
// handed a callback, so it plays nothing; a blocking one is written as
// usual. For tests of how the stream copes with its host.
PaError OpenPortAudioStreamOn(std::unique_ptr<PortAudioHost> host, double hostSeconds,
                              std::shared_ptr<PortAudioSession> session, PortAudioFeed feed,
                              const WaveFormat& format, const StreamOptions& options,
                              std::shared_ptr<QueueWakeup> wakeup,
                              std::unique_ptr<HostStream>& opened);

}  // namespace skarnel
