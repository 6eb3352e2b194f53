#include "audio/portaudio_backend.h"

#include <portaudio.h>

#include <string_view>

#include "audio/portaudio_session.h"
#include "audio/portaudio_stream.h"

namespace skarnel {

namespace {

constexpr std::size_t kMaxErrorTextLength = 256;

// PortAudio's error codes run upwards from paNotInitialized; this covers them
// with room for codes newer versions add.
constexpr int kPaErrorSpan = 100;
static_assert(PortAudioBackend::kStreamStoppedByHost == kFirstBackendError + kPaErrorSpan);

bool IsPaErrorCode(std::uint32_t code) noexcept {
    return code >= kFirstBackendError && code < kFirstBackendError + kPaErrorSpan;
}

PaDeviceIndex OutputDeviceAt(std::uint32_t index) {
    const PaDeviceIndex count = Pa_GetDeviceCount();
    std::uint32_t outputs = 0;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxOutputChannels > 0) {
            if (outputs == index) {
                return i;
            }
            ++outputs;
        }
    }
    return paNoDevice;
}

}  // namespace

// ---------------------------------------------------------------- PortAudioBackend

PortAudioBackend::PortAudioBackend() : session_(std::make_shared<PortAudioSession>()) {}

PortAudioBackend::~PortAudioBackend() = default;

std::uint32_t PortAudioBackend::DeviceCount() {
    if (!session_->Ready()) {
        return 0;
    }
    const PaDeviceIndex count = Pa_GetDeviceCount();
    std::uint32_t outputs = 0;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxOutputChannels > 0) {
            ++outputs;
        }
    }
    return outputs;
}

std::string PortAudioBackend::DeviceName(std::uint32_t index) {
    if (!session_->Ready()) {
        return {};
    }
    const PaDeviceIndex device = OutputDeviceAt(index);
    if (device == paNoDevice) {
        return {};
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    return info != nullptr && info->name != nullptr ? std::string(info->name) : std::string();
}

std::uint32_t PortAudioBackend::CodeForPaError(int paError) noexcept {
    return kFirstBackendError + static_cast<std::uint32_t>(paError - paNotInitialized);
}

DeviceResult PortAudioBackend::OpenFailure(int paError) {
    switch (paError) {
        case paInvalidSampleRate:
        case paInvalidChannelCount:
        case paSampleFormatNotSupported:
            return kWaveBadFormat;
        case paDeviceUnavailable:
            return kDeviceAllocated;
        case paInsufficientMemory:
            return kDeviceNoMemory;
        case paUnanticipatedHostError:
            session_->RememberHostError();
            break;
        default:
            break;
    }
    return static_cast<DeviceResult>(CodeForPaError(paError));
}

DeviceResult PortAudioBackend::Open(std::uint32_t index, const WaveFormat& format,
                                    const StreamOptions& options,
                                    std::shared_ptr<QueueWakeup> wakeup,
                                    std::unique_ptr<HostStream>& stream) {
    if (!session_->Ready()) {
        return kDeviceNoDriver;
    }
    PaDeviceIndex paDevice = paNoDevice;
    if (index == kDefaultWaveDevice) {
        paDevice = Pa_GetDefaultOutputDevice();
        if (paDevice == paNoDevice) {
            return kDeviceNoDriver;
        }
    } else {
        paDevice = OutputDeviceAt(index);
        if (paDevice == paNoDevice) {
            return kDeviceBadId;
        }
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(paDevice);
    if (info == nullptr) {
        return kDeviceBadId;
    }

    PaSampleFormat sampleFormat = 0;
    switch (format.bitsPerSample) {
        case 8:
            sampleFormat = paUInt8;
            break;
        case 16:
            sampleFormat = paInt16;
            break;
        case 24:
            sampleFormat = paInt24;  // packed, little-endian on our hosts
            break;
        default:
            return kWaveBadFormat;
    }
    if (format.channels == 0 || format.samplesPerSec == 0 ||
        format.blockAlign != format.channels * (format.bitsPerSample / 8)) {
        return kWaveBadFormat;
    }

    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    const PortAudioFeed feed = api != nullptr && api->type == paALSA
                                   ? PortAudioFeed::kBlockingWrites
                                   : PortAudioFeed::kCallback;
    const PaError opened = OpenPortAudioStream(session_, paDevice, sampleFormat, feed, format,
                                               options, std::move(wakeup), stream);
    if (opened != paNoError && api != nullptr && api->type == paJACK &&
        session_->HostStoppedAStream()) {
        return kJackServerGone;  // PortAudio's JACK client went with its server
    }
    return opened == paNoError ? kDeviceOk : OpenFailure(opened);
}

std::uint64_t PortAudioBackend::UnderrunCount() const noexcept {
    return session_->Underruns();
}

std::string PortAudioBackend::ErrorText(std::uint32_t code) {
    std::string text = StandardErrorText(code);
    if (text.empty() && code == kStreamStoppedByHost) {
        text = "The audio system stopped the stream: its device or sound server went away";
    }
    if (text.empty() && code == kJackServerGone) {
        text = "The JACK server Skarnel played on has gone; restart Skarnel to use JACK again";
    }
    if (text.empty() && IsPaErrorCode(code)) {
        const auto paError =
            static_cast<PaError>(paNotInitialized + static_cast<int>(code - kFirstBackendError));
        const char* paText = Pa_GetErrorText(paError);
        // PortAudio names codes it does not know "Invalid error code".
        if (paText != nullptr && std::string_view(paText) != "Invalid error code") {
            text = paText;
            const std::string hostText = session_->HostErrorText();
            if (paError == paUnanticipatedHostError && !hostText.empty()) {
                text += ": " + hostText;
            }
        }
    }
    if (text.empty()) {
        text = "Unknown audio device error " + std::to_string(code);
    }
    if (text.size() > kMaxErrorTextLength) {
        text.resize(kMaxErrorTextLength);
    }
    return text;
}

}  // namespace skarnel
