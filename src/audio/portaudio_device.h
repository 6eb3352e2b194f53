#pragma once

#include <portaudio.h>

#include <memory>

#include "audio/wave_out_backend.h"

namespace skarnel {

class PortAudioSession;

// How a device hands its samples to PortAudio.
enum class PortAudioFeed {
    // PortAudio's callback takes them from the device's ring; when the ring
    // runs dry it plays silence. For hosts that pace the stream themselves
    // (JACK), whose blocking path PortAudio does not get right.
    kCallback,
    // The device's thread writes them with Pa_WriteStream: the stream then
    // carries exactly the bytes written, never a silence the device did not
    // ask for. For ALSA, whose devices may be files and pipes (ALSA's file
    // plug-in) that record whatever the stream hands over.
    kBlockingWrites,
};

// Opens a PortAudio output stream on `device` for the format (of
// `sampleFormat` samples) and wraps it in a WaveOutDevice; posts nothing.
// Returns paNoError, PortAudio's error, or paInsufficientMemory when the
// device's memory or thread cannot be had.
PaError OpenPortAudioDevice(std::shared_ptr<PortAudioSession> session, PaDeviceIndex device,
                            PaSampleFormat sampleFormat, PortAudioFeed feed,
                            const WaveFormat& format, const StreamOptions& options,
                            const NotificationTarget& target,
                            std::unique_ptr<WaveOutDevice>& opened);

}  // namespace skarnel
