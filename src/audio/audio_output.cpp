#include "audio/audio_output.h"

#include <algorithm>
#include <new>

#include "io/little_endian.h"

namespace skarnel {

namespace {

constexpr std::size_t kMaxErrorTextLength = 256;

}  // namespace

// ---------------------------------------------------------------- AudioBuffers

AudioBuffers::AudioBuffers() {
    UpdateFormat();
    AllocateBuffers();
}

void AudioBuffers::SetBufferSize(std::int32_t bytes) {
    requestedBufferSize_ = std::max(bytes, kMinBufferSize);
    UpdateFormat();
    if (CanReallocate()) {
        AllocateBuffers();
    } else {
        reallocatePending_ = true;
    }
}

void AudioBuffers::SetNumBuffers(std::int32_t count) noexcept {
    numBuffers_ = std::clamp(count, 2, kMaxBuffers);
}

void AudioBuffers::SetFrameRate(std::int32_t rate) noexcept {
    format_.samplesPerSec = static_cast<std::uint32_t>(rate);
    UpdateFormat();
}

void AudioBuffers::SetStereo(bool stereo) noexcept {
    format_.channels = stereo ? 2 : 1;
    UpdateFormat();
}

void AudioBuffers::SetQuantization(std::uint16_t bits) noexcept {
    format_.bitsPerSample = std::clamp<std::uint16_t>(bits, 8, 24);
    UpdateFormat();
}

void AudioBuffers::UpdateFormat() noexcept {
    format_.blockAlign = static_cast<std::uint16_t>(format_.bitsPerSample / 8 * format_.channels);
    format_.avgBytesPerSec = format_.blockAlign * format_.samplesPerSec;
    bufferSize_ = requestedBufferSize_ - requestedBufferSize_ % format_.blockAlign;
}

bool AudioBuffers::AllocateBuffers() {
    reallocatePending_ = false;
    for (auto& buffer : buffers_) {
        std::vector<std::uint8_t>().swap(buffer);
    }
    std::vector<std::uint8_t>().swap(staging_);
    try {
        const auto bytes = static_cast<std::size_t>(requestedBufferSize_);
        for (int i = 0; i < kMaxBuffers; ++i) {
            buffers_[i].assign(bytes, 0);
            headers_[i].data = buffers_[i].data();
        }
        // 8-bit mono packs a frame into one byte; its 16-bit frames take two.
        staging_.assign(2 * bytes, 0);
    } catch (const std::bad_alloc&) {
        for (int i = 0; i < kMaxBuffers; ++i) {
            std::vector<std::uint8_t>().swap(buffers_[i]);
            headers_[i].data = nullptr;
        }
        std::vector<std::uint8_t>().swap(staging_);
        lastError_ = kErrBufferAlloc;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- AudioOutput

AudioOutput::AudioOutput(WaveOutBackend& backend, DeviceFaultLog* faults)
    : backend_(backend), faults_(faults) {}

void AudioOutput::Report(DeviceResult result, const char* operation) {
    if (result != kDeviceOk && faults_ != nullptr) {
        faults_->Refused(operation, ErrorText(result));
    }
}

// Releases the memory without touching the device: the owner stops playback
// first. A device object still held is destroyed, which ends its activity.
AudioOutput::~AudioOutput() = default;

std::string AudioOutput::ErrorText(DeviceResult code) {
    std::string text = backend_.ErrorText(code);
    if (text.size() > kMaxErrorTextLength) {
        text.resize(kMaxErrorTextLength);
    }
    return text;
}

void AudioOutput::SetPaused(bool paused) {
    paused_ = paused;
    if (Running()) {
        if (paused) {
            Report(device_->Pause(), "pause");
        } else {
            Report(device_->Restart(), "restart");
        }
    }
}

bool AudioOutput::BeginPlayback() {
    playbackFault_.clear();
    if (!OpenDevice()) {
        return false;
    }
    if (paused_ && Running()) {
        // Before anything is written: the device starts paused.
        Report(device_->Pause(), "pause");
    }
    if (!QueueNextBlock()) {
        CloseDevice();
        playbackFault_.clear();  // playback never started; the caller reports it
        return false;
    }
    for (int i = 1; i < openNumBuffers_; ++i) {
        if (!QueueNextBlock()) {
            // Draining now. The buffers after the one that failed are never
            // written, so those filled must not count either: otherwise the
            // queue could never empty and the device would never close.
            for (int j = i + 1; j < openNumBuffers_; ++j) {
                if (counted_[j]) {
                    --filledCount_;
                    counted_[j] = false;
                }
            }
            RecountQueued();
            break;
        }
    }
    return true;
}

void AudioOutput::StopImmediately() {
    if (state_ == State::kStopped) {
        // A device still playing buffers after the component closed is
        // stopped too, so the stop does not wait for a device that may never
        // return them.
        RetireLingeringDevice();
        return;
    }
    Report(device_->Reset(), "reset");
    CloseDevice();
    if (device_ != nullptr) {
        AbandonDevice();
    }
}

void AudioOutput::AbandonDevice() {
    device_.reset();
    channel_.Post({DeviceEvent::kClosed, generation_, nullptr});
}

void AudioOutput::StopWhenDrained() {
    if (state_ == State::kFilling) {
        state_ = State::kDraining;
    }
}

void AudioOutput::RetireLingeringDevice() {
    if (device_ == nullptr) {
        return;
    }
    Report(device_->Reset(), "reset");
    for (int i = 0; i < openNumBuffers_; ++i) {
        device_->UnprepareHeader(headers_[i]);
    }
    if (device_->Close() == kDeviceOk) {
        device_.reset();
    } else {
        AbandonDevice();
    }
}

bool AudioOutput::OpenDevice() {
    if (state_ != State::kStopped) {
        lastError_ = kErrAlreadyOpen;
        return false;
    }
    RetireLingeringDevice();
    if (reallocatePending_ && !AllocateBuffers()) {
        return false;
    }
    if (buffers_[0].empty()) {
        lastError_ = kErrBufferAlloc;  // an earlier allocation failed
        return false;
    }
    nextBuffer_ = 0;
    openFormat_ = format_;
    openBufferSize_ = bufferSize_;
    openNumBuffers_ = numBuffers_;
    ++generation_;  // notifications of earlier opens are now stale

    StreamOptions options;
    options.name = streamName_;
    options.bufferBytes = static_cast<std::uint32_t>(openBufferSize_);
    options.bufferCount = static_cast<std::uint32_t>(openNumBuffers_);
    const DeviceResult opened =
        backend_.Open(waveDevice_, format_, options, {&channel_, generation_}, device_);
    if (opened != kDeviceOk) {
        lastError_ = ErrorText(opened);
        device_.reset();
        return false;
    }
    state_ = State::kFilling;

    for (int i = 0; i < openNumBuffers_; ++i) {
        headers_[i] = WaveHeader{};
        headers_[i].data = buffers_[i].data();
        headers_[i].bufferLength = static_cast<std::uint32_t>(openBufferSize_);
        const DeviceResult prepared = device_->PrepareHeader(headers_[i]);
        if (prepared != kDeviceOk) {
            lastError_ = ErrorText(prepared);
            CloseDevice();
            return false;
        }
    }

    queuedCount_ = doneCount_ = filledCount_ = 0;
    counted_.fill(false);

    if (!FillBlock(0, openBufferSize_)) {
        CloseDevice();
        lastError_ = kErrNoFilledBuffer;
        return false;
    }
    for (int i = 1; i < openNumBuffers_; ++i) {
        FillBlock(i, openBufferSize_);
    }
    return true;
}

void AudioOutput::CloseDevice() {
    state_ = State::kStopped;
    paused_ = false;
    if (device_ != nullptr) {
        for (int i = 0; i < openNumBuffers_; ++i) {
            device_->UnprepareHeader(headers_[i]);  // fails for held buffers; ignored
        }
        // A device that still holds buffers refuses to close; it is asked
        // again at its later done notifications.
        if (device_->Close() == kDeviceOk) {
            device_.reset();
        }
    }
}

bool AudioOutput::FillBlock(int index, std::int32_t size) {
    if (state_ != State::kFilling) {
        return false;
    }
    bool filled = false;
    if (OnFillBuffer) {
        const WaveFormat& f = openFormat_;
        const auto capacity = static_cast<std::int32_t>(buffers_[index].size());
        const std::int32_t frames = std::min(size, capacity) / f.blockAlign;
        const int bytesPerSample = f.bitsPerSample / 8;
        WaveHeader& header = headers_[index];
        if (bytesPerSample == 2) {
            const std::int32_t offered = frames * f.blockAlign;
            std::int32_t written = offered;
            filled = OnFillBuffer(buffers_[index].data(), written);
            written = std::clamp(written, 0, offered);
            header.bufferLength = static_cast<std::uint32_t>(written - written % f.blockAlign);
        } else {
            // The handler writes 16-bit frames; the device gets its own width.
            const std::int32_t offered = frames * f.channels * 2;
            std::int32_t written = offered;
            filled = OnFillBuffer(staging_.data(), written);
            const std::int32_t framesWritten = std::clamp(written, 0, offered) / (f.channels * 2);
            ConvertFromStaging(index, framesWritten);
            header.bufferLength = static_cast<std::uint32_t>(framesWritten * f.blockAlign);
        }
    }
    counted_[index] = filled;
    if (filled) {
        ++filledCount_;
    }
    RecountQueued();
    return filled;
}

void AudioOutput::ConvertFromStaging(int index, std::int32_t frames) noexcept {
    const std::size_t samples = static_cast<std::size_t>(frames) * openFormat_.channels;
    const std::uint8_t* in = staging_.data();
    std::uint8_t* out = buffers_[index].data();
    const bool eightBit = openFormat_.bitsPerSample / 8 == 1;
    for (std::size_t i = 0; i < samples; ++i) {
        const auto sample = GetLittleEndian<std::int16_t>(in + 2 * i);
        if (eightBit) {
            // Unsigned 8-bit, silence at 128: the high byte, offset.
            out[i] = static_cast<std::uint8_t>((sample >> 8) + 128);
        } else {
            // Signed 24-bit little-endian: the 16 bits on top of a zero byte.
            out[3 * i] = 0;
            out[3 * i + 1] = in[2 * i];
            out[3 * i + 2] = in[2 * i + 1];
        }
    }
}

bool AudioOutput::QueueNextBlock() {
    if (state_ == State::kStopped) {
        return false;  // stopped from inside the fill handler
    }
    const DeviceResult written = device_->Write(headers_[nextBuffer_]);
    if (written != kDeviceOk) {
        lastError_ = ErrorText(written);
        playbackFault_ = lastError_;
        if (counted_[nextBuffer_]) {
            --filledCount_;
            counted_[nextBuffer_] = false;
        }
        RecountQueued();
        StopWhenDrained();
        return false;
    }
    nextBuffer_ = (nextBuffer_ + 1) % openNumBuffers_;
    return true;
}

void AudioOutput::OnBufferDone() {
    ++doneCount_;
    RecountQueued();
    // The done that empties the counted queue closes the device, after the
    // refill it is owed. A device that still holds uncounted buffers refuses;
    // it is asked again at each of their done notifications.
    const bool drained = queuedCount_ <= 0;
    if (FillBlock(nextBuffer_, openBufferSize_)) {
        QueueNextBlock();
    }
    if (drained) {
        CloseDevice();
    }
}

void AudioOutput::HandleNotification(const DeviceNotification& notification) {
    switch (notification.event) {
        case DeviceEvent::kOpened:
            if (OnStart) {
                OnStart();
            }
            break;
        case DeviceEvent::kClosed:
            if (OnStop) {
                OnStop();
            }
            break;
        case DeviceEvent::kBufferDone:
            // A buffer of an earlier open (returned after a reset or a close
            // that a new start overtook) says nothing about this playback.
            if (notification.generation == generation_) {
                OnBufferDone();
            }
            break;
    }
}

void AudioOutput::ProcessNotifications() {
    while (const auto notification = channel_.Take()) {
        HandleNotification(*notification);
    }
}

void AudioOutput::ProcessNotifications(std::size_t limit) {
    for (std::size_t i = 0; i < limit; ++i) {
        const auto notification = channel_.Take();
        if (!notification) {
            break;
        }
        HandleNotification(*notification);
    }
}

}  // namespace skarnel
