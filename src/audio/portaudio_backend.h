#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/wave_out_backend.h"

namespace skarnel {

class PortAudioSession;

// The output devices of PortAudio (on Linux its ALSA and JACK host APIs).
//
// Each open device plays through a blocking PortAudio stream fed by one writer
// thread of its own: the stream then carries exactly the bytes written, with
// no silence inserted when the writer is late. PortAudio stays initialised
// while the back-end or any device it opened is alive.
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

private:
    // The code for a failed PortAudio call of Open; remembers the host's
    // message of an unanticipated host error for ErrorText.
    DeviceResult OpenFailure(int paError);

    std::shared_ptr<PortAudioSession> session_;
    std::mutex hostErrorMutex_;
    std::string hostErrorText_;
};

}  // namespace skarnel
