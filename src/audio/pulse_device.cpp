#include "audio/pulse_device.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "audio/pulse_backend.h"

namespace skarnel {

namespace {

using Clock = PulseConnection::Clock;

// How long an open waits for the server to set the stream up.
constexpr auto kReadyTimeout = std::chrono::seconds(2);
// How long a close waits for the server beyond the time its buffer plays.
constexpr auto kDrainSlack = std::chrono::milliseconds(400);
// The role the stream announces (see PulseBackend).
constexpr const char* kMediaRole = "production";

pa_sample_format_t SampleFormat(std::uint16_t bitsPerSample) {
    switch (bitsPerSample) {
        case 8:
            return PA_SAMPLE_U8;
        case 16:
            return PA_SAMPLE_S16LE;
        case 24:
            return PA_SAMPLE_S24LE;  // packed three-byte samples
        default:
            return PA_SAMPLE_INVALID;
    }
}

// A stream let go before the server has set it up cannot be disconnected
// yet; it stays listed by its context and is ended once it is ready.
void DisconnectWhenReady(pa_stream* stream, void*) {
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
        pa_stream_disconnect(stream);
    }
}

}  // namespace

PulseDevice::PulseDevice(std::shared_ptr<PulseConnection> connection, const WaveFormat& format,
                         const NotificationTarget& target)
    : connection_(std::move(connection)),
      mainloop_(connection_->Mainloop()),
      format_(format),
      target_(target) {}

PulseDevice::~PulseDevice() {
    // After a close the stream is gone; otherwise the queue is dropped
    // without a notification and the stream disconnected without draining.
    if (!closed_ && stream_ != nullptr) {
        MainloopLock lock(mainloop_);
        ReleaseStream();
    }
}

DeviceResult PulseDevice::Connect(const char* sink, const StreamOptions& options) {
    {
        MainloopLock lock(mainloop_);
        pa_context* context = connection_->ReadyContext();
        if (context == nullptr) {
            return static_cast<DeviceResult>(connection_->UnavailableCode());
        }
        const pa_sample_spec sampleFormat{SampleFormat(format_.bitsPerSample),
                                          format_.samplesPerSec,
                                          static_cast<std::uint8_t>(format_.channels)};
        // The server takes UTF-8 only; a name it would refuse is not worth a failed open.
        const bool named = !options.name.empty() && pa_utf8_valid(options.name.c_str()) != nullptr;
        const char* mediaName = named ? options.name.c_str() : PulseBackend::kApplicationName;
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, mediaName);
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, kMediaRole);
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, PulseBackend::kApplicationName);
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, PulseBackend::kIconName);
        stream_ =
            pa_stream_new_with_proplist(context, mediaName, &sampleFormat, nullptr, properties);
        pa_proplist_free(properties);
        if (stream_ == nullptr) {
            return static_cast<DeviceResult>(
                PulseBackend::CodeFor(PulseFailure::kStreamRefused, pa_context_errno(context)));
        }
        pa_stream_set_state_callback(stream_, &OnState, this);
        pa_stream_set_write_callback(stream_, &OnWritable, this);
        const pa_buffer_attr attributes = BufferAttributes(options);
        if (pa_stream_connect_playback(stream_, sink, &attributes, PA_STREAM_NOFLAGS, nullptr,
                                       nullptr) < 0) {
            const DeviceResult failure = OpenFailure();
            ReleaseStream();
            return failure;
        }
    }
    connection_->WaitUntil([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                           Clock::now() + kReadyTimeout);
    MainloopLock lock(mainloop_);
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) {
        return kDeviceOk;
    }
    const DeviceResult failure = state == PA_STREAM_CREATING
                                     ? static_cast<DeviceResult>(PulseBackend::CodeFor(
                                           PulseFailure::kStreamRefused, PA_ERR_TIMEOUT))
                                     : OpenFailure();
    ReleaseStream();
    return failure;
}

pa_buffer_attr PulseDevice::BufferAttributes(const StreamOptions& options) const noexcept {
    constexpr std::uint32_t kServerDefault = std::numeric_limits<std::uint32_t>::max();
    pa_buffer_attr attributes{};
    attributes.maxlength = kServerDefault;
    attributes.prebuf = kServerDefault;  // as much as tlength
    attributes.fragsize = kServerDefault;
    attributes.tlength = kServerDefault;
    attributes.minreq = kServerDefault;
    const std::uint64_t total =
        static_cast<std::uint64_t>(options.bufferBytes) * options.bufferCount;
    if (total > 0) {
        // The player's buffers all over again on the server's side.
        attributes.tlength = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(total, std::numeric_limits<std::int32_t>::max()));
        // Asking for one of its buffers at a time matches how the player refills.
        attributes.minreq = std::min(options.bufferBytes, attributes.tlength);
    }
    return attributes;
}

DeviceResult PulseDevice::OpenFailure() const noexcept {
    pa_context* context = pa_stream_get_context(stream_);
    const int error = pa_context_errno(context);
    if (pa_context_get_state(context) != PA_CONTEXT_READY) {
        return static_cast<DeviceResult>(
            PulseBackend::CodeFor(PulseFailure::kConnectionLost, error));
    }
    switch (error) {
        case PA_ERR_NOENTITY:
            return kDeviceBadId;  // the sink went away since the list was read
        case PA_ERR_NOTSUPPORTED:
            return kWaveBadFormat;
        default:
            return static_cast<DeviceResult>(
                PulseBackend::CodeFor(PulseFailure::kStreamRefused, error));
    }
}

// ---------------------------------------------------------------- owner operations

DeviceResult PulseDevice::PrepareHeader(WaveHeader& header) {
    MainloopLock lock(mainloop_);
    return MarkPrepared(header, true);
}

DeviceResult PulseDevice::UnprepareHeader(WaveHeader& header) {
    MainloopLock lock(mainloop_);
    return MarkPrepared(header, false);
}

DeviceResult PulseDevice::MarkPrepared(WaveHeader& header, bool prepared) {
    if (closed_) {
        return kDeviceInvalidHandle;
    }
    if (Holds(header)) {
        return kWaveStillPlaying;
    }
    header.flags = prepared ? header.flags | kHeaderPrepared : header.flags & ~kHeaderPrepared;
    return kDeviceOk;
}

DeviceResult PulseDevice::Write(WaveHeader& header) {
    MainloopLock lock(mainloop_);
    if (closed_) {
        return kDeviceInvalidHandle;
    }
    if ((header.flags & kHeaderPrepared) == 0) {
        return kWaveUnprepared;
    }
    if (Holds(header)) {
        return kWaveStillPlaying;
    }
    if (lostCode_ != 0) {
        return static_cast<DeviceResult>(lostCode_);
    }
    if (header.data == nullptr && header.bufferLength >= format_.blockAlign) {
        return kDeviceInvalidParameter;
    }
    if (count_ == kQueueCapacity) {
        return kDeviceNoMemory;
    }
    header.flags |= kHeaderInQueue;
    queue_[(head_ + count_) % kQueueCapacity] = &header;
    ++count_;
    // The server may have asked for data while the queue was empty; it does
    // not ask again for the same room.
    Feed();
    return kDeviceOk;
}

DeviceResult PulseDevice::Pause() {
    MainloopLock lock(mainloop_);
    if (closed_) {
        return kDeviceInvalidHandle;
    }
    paused_ = true;
    if (Playing()) {
        Cork(true);
    }
    return kDeviceOk;
}

DeviceResult PulseDevice::Restart() {
    MainloopLock lock(mainloop_);
    if (closed_) {
        return kDeviceInvalidHandle;
    }
    paused_ = false;
    if (Playing()) {
        Cork(false);
        Feed();  // what the server asked for while paused
    }
    return kDeviceOk;
}

DeviceResult PulseDevice::Reset() {
    MainloopLock lock(mainloop_);
    if (closed_) {
        return kDeviceInvalidHandle;
    }
    ReturnAll();
    if (Playing()) {
        if (paused_) {
            Cork(false);
        }
        // Drops what the server still holds; it then asks for a full buffer.
        if (pa_operation* flushed = pa_stream_flush(stream_, nullptr, nullptr)) {
            pa_operation_unref(flushed);
        }
    }
    paused_ = false;
    return kDeviceOk;
}

DeviceResult PulseDevice::Close() {
    Clock::time_point deadline{};
    {
        MainloopLock lock(mainloop_);
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        if (count_ > 0) {
            return kWaveStillPlaying;
        }
        closed_ = true;
        // A corked stream would never drain, and a failed one has nothing
        // left to play.
        if (Playing() && !paused_) {
            drain_ = pa_stream_drain(stream_, &OnDrained, this);
            const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(stream_);
            const std::uint64_t held = attributes != nullptr ? attributes->tlength : 0;
            const std::uint64_t bytesPerSecond =
                static_cast<std::uint64_t>(format_.blockAlign) * format_.samplesPerSec;
            deadline =
                Clock::now() + kDrainSlack +
                std::chrono::milliseconds(held * 1000 / std::max<std::uint64_t>(bytesPerSecond, 1));
        }
    }
    if (drain_ != nullptr) {
        connection_->WaitUntil([this] { return drained_ || lostCode_ != 0; }, deadline);
    }
    {
        MainloopLock lock(mainloop_);
        if (drain_ != nullptr) {
            if (pa_operation_get_state(drain_) == PA_OPERATION_RUNNING) {
                pa_operation_cancel(drain_);  // its callback must not outlive the device
            }
            pa_operation_unref(drain_);
            drain_ = nullptr;
        }
        ReleaseStream();
    }
    target_.Post(DeviceEvent::kClosed);
    return kDeviceOk;
}

// ---------------------------------------------------------------- with the mainloop lock

bool PulseDevice::Holds(const WaveHeader& header) const noexcept {
    for (std::size_t i = 0; i < count_; ++i) {
        if (queue_[(head_ + i) % kQueueCapacity] == &header) {
            return true;
        }
    }
    return false;
}

bool PulseDevice::Playing() const noexcept {
    return stream_ != nullptr && lostCode_ == 0 && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseDevice::Feed() noexcept {
    if (paused_ || !Playing()) {
        return;
    }
    std::size_t room = pa_stream_writable_size(stream_);
    if (room == static_cast<std::size_t>(-1)) {
        return;
    }
    room -= room % format_.blockAlign;
    while (count_ > 0) {
        WaveHeader* header = queue_[head_];
        // A trailing part-frame is never played: it would shift every later frame.
        const std::uint32_t length =
            header->bufferLength - header->bufferLength % format_.blockAlign;
        const std::size_t bytes = std::min<std::size_t>(room, length - headOffset_);
        if (bytes > 0) {
            // Without a free function libpulse copies the bytes: the header
            // goes back to the owner as soon as it is handed over.
            if (pa_stream_write(stream_, header->data + headOffset_, bytes, nullptr, 0,
                                PA_SEEK_RELATIVE) < 0) {
                return;  // the stream is failing; its state callback reports it
            }
            headOffset_ += static_cast<std::uint32_t>(bytes);
            room -= bytes;
        }
        if (headOffset_ < length) {
            return;  // the rest when the server asks again
        }
        queue_[head_] = nullptr;
        head_ = (head_ + 1) % kQueueCapacity;
        --count_;
        headOffset_ = 0;
        header->flags &= ~kHeaderInQueue;
        target_.Post(DeviceEvent::kBufferDone, header);
    }
}

void PulseDevice::ReturnAll() noexcept {
    while (count_ > 0) {
        WaveHeader* header = queue_[head_];
        queue_[head_] = nullptr;
        head_ = (head_ + 1) % kQueueCapacity;
        --count_;
        header->flags &= ~kHeaderInQueue;
        target_.Post(DeviceEvent::kBufferDone, header);
    }
    headOffset_ = 0;
}

void PulseDevice::Cork(bool cork) noexcept {
    if (pa_operation* corked = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr)) {
        pa_operation_unref(corked);
    }
}

void PulseDevice::ReleaseStream() noexcept {
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (pa_stream_get_state(stream_) == PA_STREAM_CREATING) {
        pa_stream_set_state_callback(stream_, &DisconnectWhenReady, nullptr);
    } else {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
            pa_stream_disconnect(stream_);
        }
    }
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

// ---------------------------------------------------------------- mainloop callbacks

void PulseDevice::OnState(pa_stream* stream, void* self) {
    auto* device = static_cast<PulseDevice*>(self);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            device->ready_ = true;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            // After the stream was ready: a host failure. The buffers come
            // back as a reset returns them, and later writes fail.
            if (device->ready_ && device->lostCode_ == 0) {
                pa_context* context = pa_stream_get_context(stream);
                const bool serverGone = pa_context_get_state(context) != PA_CONTEXT_READY;
                int error = pa_context_errno(context);
                if (error == PA_OK) {
                    error = serverGone ? PA_ERR_CONNECTIONTERMINATED : PA_ERR_KILLED;
                }
                device->lostCode_ = PulseBackend::CodeFor(
                    serverGone ? PulseFailure::kConnectionLost : PulseFailure::kStreamEnded, error);
                device->ReturnAll();
            }
            break;
        default:
            break;
    }
    device->connection_->Changed();
}

void PulseDevice::OnWritable(pa_stream*, std::size_t, void* self) {
    static_cast<PulseDevice*>(self)->Feed();
}

void PulseDevice::OnDrained(pa_stream*, int, void* self) {
    auto* device = static_cast<PulseDevice*>(self);
    device->drained_ = true;
    device->connection_->Changed();
}

}  // namespace skarnel
