#include "audio/pulse_backend.h"

#include <pulse/pulseaudio.h>

#include <array>
#include <new>
#include <optional>

#include "audio/pulse_connection.h"
#include "audio/pulse_stream.h"

namespace skarnel {

namespace {

constexpr std::size_t kMaxErrorTextLength = 256;

constexpr std::uint32_t kFirstPulseCode = kFirstBackendError + 0x200;
// Codes of one failure kind: room for every libpulse error number.
constexpr std::uint32_t kKindSpan = 0x100;

// What each failure kind tells the user before libpulse's reason.
constexpr std::array<const char*, 5> kFailureTexts{
    "The sound server refused the stream: ",  "The sound server connection failed: ",
    "The sound server connection was lost: ", "The sound server ended the stream: ",
    "The sound server does not answer",  // says all: no reason follows
};

bool Playable(const WaveFormat& format) {
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16 && format.bitsPerSample != 24) {
        return false;
    }
    if (format.channels != 1 && format.channels != 2) {
        return false;
    }
    if (format.blockAlign != format.channels * (format.bitsPerSample / 8)) {
        return false;
    }
    return format.samplesPerSec > 0 && format.samplesPerSec <= PA_RATE_MAX;
}

}  // namespace

PulseBackend::PulseBackend(std::chrono::milliseconds timeout)
    : connection_(std::make_shared<PulseConnection>()) {
    connection_->AwaitFirstAnswer(PulseConnection::Clock::now() + timeout);
}

PulseBackend::~PulseBackend() {
    connection_->Watch(nullptr);
}

bool PulseBackend::Connected() const noexcept {
    return connection_->Connected();
}

std::uint32_t PulseBackend::DeviceCount() {
    return connection_->SinkCount();
}

std::string PulseBackend::DeviceId(std::uint32_t index) {
    return connection_->SinkName(index).value_or("");
}

std::string PulseBackend::DeviceName(std::uint32_t index) {
    return connection_->SinkDescription(index).value_or("");
}

DeviceResult PulseBackend::Open(std::uint32_t index, const WaveFormat& format,
                                const StreamOptions& options, std::shared_ptr<QueueWakeup> wakeup,
                                std::unique_ptr<HostStream>& stream) {
    if (!Playable(format)) {
        return kWaveBadFormat;
    }
    std::optional<std::string> sink;
    if (index != kDefaultWaveDevice) {
        sink = connection_->SinkName(index);
        if (!sink) {
            return kDeviceBadId;
        }
    }
    if (connection_->Mainloop() == nullptr) {
        return static_cast<DeviceResult>(connection_->UnavailableCode());
    }
    if (wakeup == nullptr) {
        return kDeviceInvalidParameter;
    }
    std::unique_ptr<PulseStream> created;
    try {
        created = std::make_unique<PulseStream>(connection_, format, std::move(wakeup));
    } catch (const std::bad_alloc&) {
        return kDeviceNoMemory;
    }
    const DeviceResult connected = created->Connect(sink ? sink->c_str() : nullptr, options);
    if (connected != kDeviceOk) {
        return connected;
    }
    stream = std::move(created);
    return kDeviceOk;
}

std::string PulseBackend::ErrorText(std::uint32_t code) {
    std::string text = StandardErrorText(code);
    if (text.empty() && IsPulseCode(code)) {
        const std::uint32_t offset = code - kFirstPulseCode;
        const std::uint32_t kind = offset / kKindSpan;
        const char* reason = pa_strerror(static_cast<int>(offset % kKindSpan));
        if (kind == static_cast<std::uint32_t>(PulseFailure::kServerSilent)) {
            text = kFailureTexts[kind];
        } else if (reason != nullptr) {
            text = std::string(kFailureTexts[kind]) + reason;
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

void PulseBackend::WatchDevices(std::function<void()> changed) {
    connection_->Watch(std::move(changed));
}

std::uint32_t PulseBackend::CodeFor(PulseFailure kind, int paError) noexcept {
    std::uint32_t error =
        paError < 0 ? static_cast<std::uint32_t>(-paError) : static_cast<std::uint32_t>(paError);
    if (error >= kKindSpan) {
        error = PA_ERR_UNKNOWN;
    }
    return kFirstPulseCode + static_cast<std::uint32_t>(kind) * kKindSpan + error;
}

bool PulseBackend::IsPulseCode(std::uint32_t code) noexcept {
    return code >= kFirstPulseCode && code < kFirstPulseCode + kFailureTexts.size() * kKindSpan;
}

}  // namespace skarnel
