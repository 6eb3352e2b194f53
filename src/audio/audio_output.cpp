#include "audio/audio_output.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <system_error>

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
        }
        // 8-bit mono packs a frame into one byte; its 16-bit frames take two.
        staging_.assign(2 * bytes, 0);
    } catch (const std::bad_alloc&) {
        for (int i = 0; i < kMaxBuffers; ++i) {
            std::vector<std::uint8_t>().swap(buffers_[i]);
        }
        std::vector<std::uint8_t>().swap(staging_);
        lastError_ = kErrBufferAlloc;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- AudioOutput

namespace {

// How long the render thread may sleep while a buffer plays: it looks again
// when the head buffer is due (a little after, so that the host's position
// has passed its end), at least this often, or when the stream wakes it (a
// failure, room it was waiting for). Few wake-ups keep playing cheap;
// PlayedFrame runs on between them.
constexpr std::chrono::microseconds kLookWhilePlaying{100000};
constexpr std::chrono::microseconds kShortestLook{2000};
constexpr std::chrono::microseconds kAfterDue{1000};
// With nothing playing it only watches for a host that fails.
constexpr std::chrono::microseconds kLookWhileIdle{100000};

// QueueBuffer's answer when playback stopped while the buffer was filled.
constexpr DeviceResult kNotRefilling = static_cast<DeviceResult>(~0u);

}  // namespace

AudioOutput::AudioOutput(WaveOutBackend& backend, DeviceFaultLog* faults)
    : backend_(backend), faults_(faults), wakeup_(std::make_shared<QueueWakeup>()) {}

// Releases the memory without a notification: the owner stops playback
// first. A stream still held is ended, which drops what it holds.
AudioOutput::~AudioOutput() {
    EndRenderThread();
    stream_.reset();
}

void AudioOutput::Report(DeviceResult result, const char* operation) {
    if (result != kDeviceOk && faults_ != nullptr) {
        faults_->Refused(operation, ErrorText(result));
    }
}

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
        DeviceResult result = kDeviceOk;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            result = stream_->SetPaused(paused);
            streamPaused_ = paused;
            playedRunsOn_.store(!paused && renderThread_.joinable(), std::memory_order_release);
        }
        wakeup_->Wake();
        Report(result, paused ? "pause" : "restart");
    }
}

bool AudioOutput::BeginPlayback() {
    playbackFault_.clear();
    if (!OpenDevice()) {
        return false;
    }
    if (paused_ && Running()) {
        // Before anything is written: the device starts paused.
        std::lock_guard<std::mutex> lock(queueMutex_);
        Report(stream_->SetPaused(true), "pause");
        streamPaused_ = true;
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
    if (state_ == State::kStopped) {
        return true;  // stopped from inside the fill handler
    }
    DeviceResult started = kDeviceOk;
    bool ownThread = true;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        started = stream_->Start();
        ownThread = stream_->PlaysOnItsOwn();
    }
    if (started != kDeviceOk) {
        // Nothing has played: the buffers go back without notifications, so
        // no count moves, and the device closes again.
        lastError_ = ErrorText(started);
        playbackFault_.clear();
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            queueHead_ = queueCount_ = 0;
        }
        filledCount_ = doneCount_ = 0;
        RecountQueued();
        CloseDevice();
        return false;
    }
    if (ownThread) {
        playedRunsOn_.store(!paused_, std::memory_order_release);
        try {
            renderThread_ = std::thread([this] { RenderThread(); });
        } catch (const std::system_error&) {
            lastError_ = ErrorText(kDeviceNoMemory);
            StopImmediately();
            return false;
        }
    }
    return true;
}

void AudioOutput::StopImmediately() {
    if (state_ == State::kStopped) {
        // A device still playing buffers after the component closed is
        // stopped too, so the stop does not wait for them.
        RetireLingeringDevice();
        return;
    }
    DropQueue();
    CloseDevice();
}

void AudioOutput::StopWhenDrained() {
    if (state_ == State::kFilling) {
        state_ = State::kDraining;
        std::lock_guard<std::mutex> lock(queueMutex_);
        refilling_ = false;
    }
}

void AudioOutput::DropQueue() {
    if (stream_ == nullptr) {
        return;
    }
    DeviceResult flushed = kDeviceOk;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        refilling_ = false;
        flushed = stream_->Flush();
        while (queueCount_ > 0) {
            channel_.Post({DeviceEvent::kBufferDone, generation_, PopLocked()});
        }
    }
    Report(flushed, "reset");
}

void AudioOutput::RetireLingeringDevice() {
    if (stream_ == nullptr) {
        return;
    }
    DropQueue();
    ReleaseStream();
}

void AudioOutput::EndRenderThread() {
    playedRunsOn_.store(false, std::memory_order_release);
    if (!renderThread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopRenderThread_ = true;
    }
    wakeup_->Wake();
    // It is at most one block's rendering or one bounded stream call away.
    renderThread_.join();
}

void AudioOutput::ReleaseStream() {
    EndRenderThread();
    // Bounded by the stream's contract, even for a host that hangs.
    std::unique_ptr<HostStream> released;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        released = std::move(stream_);
    }
    released.reset();
    channel_.Post({DeviceEvent::kClosed, generation_, -1});
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
    options.identity = streamIdentity_;
    options.bufferBytes = static_cast<std::uint32_t>(openBufferSize_);
    options.bufferCount = static_cast<std::uint32_t>(openNumBuffers_);
    std::unique_ptr<HostStream> opened;
    const DeviceResult result = backend_.Open(waveDevice_, format_, options, wakeup_, opened);
    if (result != kDeviceOk) {
        lastError_ = ErrorText(result);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stream_ = std::move(opened);
        queueHead_ = queueCount_ = 0;
        writtenBytes_ = 0;
        hostFailure_ = kDeviceOk;
        refilling_ = true;
        streamPaused_ = false;
        stopRenderThread_ = false;
    }
    fillFrame_ = queuedBytesTotal_ = 0;
    playedFrames_.store(0, std::memory_order_release);
    writtenFrames_.store(0, std::memory_order_release);
    channel_.Post({DeviceEvent::kOpened, generation_, -1});
    {
        // The mixer's say reaches the owner as a notification, after the
        // open's. The stream calls no more once it is destroyed, which
        // happens before this component goes.
        std::lock_guard<std::mutex> lock(queueMutex_);
        stream_->WatchMixer(
            [channel = &channel_, generation = generation_](const MixerLevel& level) {
                DeviceNotification notification{DeviceEvent::kMixerLevel, generation, -1};
                notification.mixer = level;
                channel->Post(notification);
            });
    }
    state_ = State::kFilling;

    queuedCount_ = doneCount_ = filledCount_ = 0;
    counted_.fill(false);
    lengths_.fill(0);

    // The first buffers, on this thread; every one of them is queued, each
    // where the one before it ends.
    std::uint64_t prefilled = 0;
    for (int i = 0; i < openNumBuffers_; ++i) {
        fillFrame_ = prefilled / openFormat_.blockAlign;
        const bool filled = state_ == State::kFilling && FillBlock(i, openBufferSize_);
        if (i == 0 && !filled) {
            CloseDevice();
            lastError_ = kErrNoFilledBuffer;
            return false;
        }
        counted_[i] = filled;
        if (filled) {
            ++filledCount_;
        }
        prefilled += lengths_[i];
    }
    RecountQueued();
    return true;
}

void AudioOutput::CloseDevice() {
    state_ = State::kStopped;
    paused_ = false;
    if (stream_ == nullptr) {
        return;
    }
    bool holdsBuffers = false;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        refilling_ = false;
        holdsBuffers = queueCount_ > 0;
    }
    // A device that still plays buffers (queued uncounted in the pre-fill)
    // closes at the done notification of the last of them.
    if (!holdsBuffers) {
        ReleaseStream();
    }
}

bool AudioOutput::FillBlock(int index, std::int32_t size) {
    if (!OnFillBuffer) {
        return false;
    }
    bool filled = false;
    const WaveFormat& f = openFormat_;
    const auto capacity = static_cast<std::int32_t>(buffers_[index].size());
    const std::int32_t frames = std::min(size, capacity) / f.blockAlign;
    const int bytesPerSample = f.bitsPerSample / 8;
    if (bytesPerSample == 2) {
        const std::int32_t offered = frames * f.blockAlign;
        std::int32_t written = offered;
        filled = OnFillBuffer(buffers_[index].data(), written);
        written = std::clamp(written, 0, offered);
        lengths_[index] = static_cast<std::uint32_t>(written - written % f.blockAlign);
    } else {
        // The handler writes 16-bit frames; the device gets its own width.
        const std::int32_t offered = frames * f.channels * 2;
        std::int32_t written = offered;
        filled = OnFillBuffer(staging_.data(), written);
        const std::int32_t framesWritten = std::clamp(written, 0, offered) / (f.channels * 2);
        ConvertFromStaging(index, framesWritten);
        lengths_[index] = static_cast<std::uint32_t>(framesWritten * f.blockAlign);
    }
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
    const DeviceResult result = QueueBuffer(nextBuffer_);
    if (result != kDeviceOk) {
        lastError_ = ErrorText(result);
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

DeviceResult AudioOutput::QueueBuffer(int index) {
    DeviceResult result = kDeviceOk;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (stream_ == nullptr || !refilling_) {
            return kNotRefilling;
        }
        result = hostFailure_ != kDeviceOk ? hostFailure_ : stream_->Failure();
        if (result == kDeviceOk && queueCount_ == queue_.size()) {
            result = kWaveStillPlaying;  // every buffer is already on its way
        }
        if (result == kDeviceOk) {
            queue_[(queueHead_ + queueCount_) % queue_.size()] = QueueEntry{index};
            ++queueCount_;
            result = WriteQueuedLocked();
            const QueueEntry& last = queue_[(queueHead_ + queueCount_ - 1) % queue_.size()];
            if (result != kDeviceOk && last.buffer == index && last.written == 0) {
                --queueCount_;  // nothing of it reached the host: it is not on its way
            } else {
                queuedBytesTotal_ += lengths_[index];
            }
        }
    }
    if (result == kDeviceOk) {
        wakeup_->Wake();
    }
    return result;
}

void AudioOutput::OnBufferDone(const DeviceNotification& notification) {
    ++doneCount_;
    RecountQueued();
    // The done that empties the counted queue closes the device, after the
    // refill it is owed. A device that still plays uncounted buffers closes
    // at the done of the last of them.
    const bool drained = queuedCount_ <= 0;
    if (notification.refilled) {
        ++filledCount_;
        RecountQueued();
    } else if (notification.refillFailure != kDeviceOk && state_ != State::kStopped) {
        lastError_ = ErrorText(static_cast<DeviceResult>(notification.refillFailure));
        playbackFault_ = lastError_;
        StopWhenDrained();
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
        case DeviceEvent::kMixerLevel:
            if (notification.generation == generation_ && OnMixerLevel) {
                OnMixerLevel(notification.mixer);
            }
            break;
        case DeviceEvent::kBufferDone:
            // A buffer of an earlier open (returned by a reset that a new
            // start overtook) says nothing about this playback.
            if (notification.generation == generation_) {
                OnBufferDone(notification);
            }
            break;
    }
}

std::uint64_t AudioOutput::PlayedFrame() const noexcept {
    const std::uint64_t looked = playedFrames_.load(std::memory_order_acquire);
    if (!playedRunsOn_.load(std::memory_order_acquire)) {
        return looked;
    }
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    const std::int64_t since = now - playedAtNs_.load(std::memory_order_acquire);
    const auto frames = static_cast<std::uint64_t>(std::max<std::int64_t>(since, 0) / 1000 *
                                                   openFormat_.samplesPerSec / 1000000);
    return std::min(looked + frames,
                    std::max(looked, writtenFrames_.load(std::memory_order_acquire)));
}

void AudioOutput::ProcessNotifications() {
    if (stream_ != nullptr && !renderThread_.joinable()) {
        KeepQueue();
    }
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

// ---------------------------------------------------------------- the queue

void AudioOutput::KeepQueue() {
    std::array<int, kMaxBuffers> played{};
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (stream_ == nullptr) {
            return;
        }
        if (hostFailure_ == kDeviceOk) {
            hostFailure_ = stream_->Failure();
        }
        if (hostFailure_ == kDeviceOk && queueCount_ > 0) {
            // Bytes the host had no room for when their buffer was queued;
            // a write failing here is the host's.
            hostFailure_ = WriteQueuedLocked();
        }
        if (hostFailure_ != kDeviceOk) {
            playedRunsOn_.store(false, std::memory_order_release);
            // Nothing written will play: every buffer comes back, as a reset
            // returns them, none can be refilled, and the owner hears why.
            while (queueCount_ > 0) {
                DeviceNotification done{DeviceEvent::kBufferDone, generation_, PopLocked()};
                done.refillFailure = refilling_ ? hostFailure_ : kDeviceOk;
                channel_.Post(done);
            }
            return;
        }
        const std::uint64_t bytes = stream_->PlayedBytes();
        // The time first: a reader that sees the new position sees its time,
        // and one that sees the old position with the new time runs on less.
        playedAtNs_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count(),
                          std::memory_order_release);
        writtenFrames_.store(writtenBytes_ / openFormat_.blockAlign, std::memory_order_release);
        playedFrames_.store(bytes / openFormat_.blockAlign, std::memory_order_release);
        while (queueCount_ > 0 && queue_[queueHead_].playing && queue_[queueHead_].end <= bytes) {
            played[count++] = PopLocked();
        }
    }
    // Each played buffer makes room for the one due next, which is rendered
    // and queued before the played one's notification goes out: the owner
    // then counts both at once, in the order of the single-threaded ring.
    for (std::size_t i = 0; i < count; ++i) {
        DeviceNotification done{DeviceEvent::kBufferDone, generation_, played[i]};
        bool refilling = false;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            refilling = refilling_;
        }
        if (refilling) {
            fillFrame_ = queuedBytesTotal_ / openFormat_.blockAlign;
            if (FillBlock(nextBuffer_, openBufferSize_)) {
                const DeviceResult queued = QueueBuffer(nextBuffer_);
                if (queued == kDeviceOk) {
                    done.refilled = true;
                    nextBuffer_ = (nextBuffer_ + 1) % openNumBuffers_;
                } else if (queued != kNotRefilling) {
                    done.refillFailure = queued;
                }
            }
        }
        channel_.Post(done);
    }
}

DeviceResult AudioOutput::WriteQueuedLocked() {
    for (std::size_t i = 0; i < queueCount_; ++i) {
        QueueEntry& entry = queue_[(queueHead_ + i) % queue_.size()];
        if (entry.playing) {
            continue;
        }
        const std::uint32_t length = lengths_[entry.buffer];
        while (entry.written < length) {
            const std::size_t room = stream_->Writable();
            const std::size_t bytes = std::min<std::size_t>(room, length - entry.written);
            if (bytes == 0) {
                return kDeviceOk;  // the rest when the host has room
            }
            const DeviceResult result =
                stream_->Write(buffers_[entry.buffer].data() + entry.written, bytes);
            if (result != kDeviceOk) {
                return result;
            }
            entry.written += static_cast<std::uint32_t>(bytes);
            writtenBytes_ += bytes;
        }
        entry.end = writtenBytes_;
        entry.playing = true;
    }
    return kDeviceOk;
}

int AudioOutput::PopLocked() {
    const int buffer = queue_[queueHead_].buffer;
    queueHead_ = (queueHead_ + 1) % queue_.size();
    --queueCount_;
    return buffer;
}

std::chrono::microseconds AudioOutput::NextLookLocked() {
    if (stream_ == nullptr || queueCount_ == 0 || streamPaused_) {
        return kLookWhileIdle;
    }
    const QueueEntry& head = queue_[queueHead_];
    const std::uint64_t played = stream_->PlayedBytes();
    const std::uint64_t ahead = head.end > played ? head.end - played : 0;
    const std::uint64_t perSecond = std::max<std::uint32_t>(openFormat_.avgBytesPerSec, 1);
    const auto due = std::chrono::microseconds(ahead * 1000000 / perSecond) + kAfterDue;
    return std::clamp(due, kShortestLook, kLookWhilePlaying);
}

void AudioOutput::RenderThread() {
    // Named for top -H, perf and the like.
    pthread_setname_np(pthread_self(), "skarnel-render");
    if (OnRenderThreadStart) {
        OnRenderThreadStart();
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (stopRenderThread_) {
                return;
            }
        }
        KeepQueue();
        std::chrono::microseconds sleep = kLookWhileIdle;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (stopRenderThread_) {
                return;
            }
            sleep = NextLookLocked();
        }
        wakeup_->Wait(sleep);
    }
}

}  // namespace skarnel
