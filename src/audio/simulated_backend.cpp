#include "audio/simulated_backend.h"

#include <algorithm>

namespace skarnel {

// ----------------------------------------------------------- SimulatedDevice

SimulatedDevice::SimulatedDevice(SimulatedBackend& backend, const WaveFormat& format,
                                 const NotificationTarget& target, bool paced)
    : backend_(backend), format_(format), target_(target) {
    if (paced) {
        pacer_ = std::thread([this] { PaceLoop(); });
    }
}

SimulatedDevice::~SimulatedDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        backend_.dropped_ += static_cast<int>(count_);  // never to be returned
    }
    wake_.notify_all();
    if (pacer_.joinable()) {
        pacer_.join();
    }
    backend_.Forget(this);
}

DeviceResult SimulatedDevice::PrepareHeader(WaveHeader& header) {
    if (const DeviceResult failure = backend_.TakeFailure(backend_.failPrepare_)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    header.flags |= kHeaderPrepared;
    return kDeviceOk;
}

DeviceResult SimulatedDevice::UnprepareHeader(WaveHeader& header) {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((header.flags & kHeaderInQueue) != 0) {
        return kWaveStillPlaying;
    }
    header.flags &= ~kHeaderPrepared;
    return kDeviceOk;
}

DeviceResult SimulatedDevice::Write(WaveHeader& header) {
    if (const DeviceResult failure = backend_.TakeFailure(backend_.failWrite_)) {
        return failure;
    }
    if (backend_.failAllWrites_ != kDeviceOk && backend_.writesBeforeFailing_-- <= 0) {
        return backend_.failAllWrites_;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        if (hostFailure_ != kDeviceOk) {
            return hostFailure_;
        }
        if ((header.flags & kHeaderPrepared) == 0) {
            return kWaveUnprepared;
        }
        if (count_ == kQueueCapacity) {
            return kDeviceNoMemory;
        }
        queue_[(head_ + count_) % kQueueCapacity] = &header;
        ++count_;
        ++backend_.written_;
        header.flags |= kHeaderInQueue;
    }
    wake_.notify_all();
    return kDeviceOk;
}

DeviceResult SimulatedDevice::Pause() {
    if (const DeviceResult failure = backend_.TakeFailure(backend_.failPause_)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
    return kDeviceOk;
}

DeviceResult SimulatedDevice::Restart() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
    }
    wake_.notify_all();
    return kDeviceOk;
}

void SimulatedDevice::FailHost(DeviceResult code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hostFailure_ = code;
    }
    Reset();
}

DeviceResult SimulatedDevice::Reset() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Every queued buffer comes back as done, in queue order, unplayed.
        while (count_ > 0 && !stalledOnReset_) {
            WaveHeader* header = queue_[head_];
            head_ = (head_ + 1) % kQueueCapacity;
            --count_;
            header->flags &= ~kHeaderInQueue;
            ++backend_.returned_;
            target_.Post(DeviceEvent::kBufferDone, header);
        }
        paused_ = false;
    }
    wake_.notify_all();
    return kDeviceOk;
}

DeviceResult SimulatedDevice::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ > 0) {
            return kWaveStillPlaying;
        }
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        closed_ = true;
        stopping_ = true;
    }
    wake_.notify_all();
    if (pacer_.joinable()) {
        pacer_.join();
    }
    target_.Post(DeviceEvent::kClosed);
    return kDeviceOk;
}

bool SimulatedDevice::CompleteHeadLocked(std::unique_lock<std::mutex>&) {
    if (paused_ || stalled_ || count_ == 0) {
        return false;
    }
    WaveHeader* header = queue_[head_];
    head_ = (head_ + 1) % kQueueCapacity;
    --count_;
    backend_.Record(header->data, header->bufferLength);
    header->flags &= ~kHeaderInQueue;
    ++backend_.returned_;
    target_.Post(DeviceEvent::kBufferDone, header);
    return true;
}

bool SimulatedDevice::CompleteHead() {
    std::unique_lock<std::mutex> lock(mutex_);
    return CompleteHeadLocked(lock);
}

int SimulatedDevice::CompleteAll() {
    int completed = 0;
    while (CompleteHead()) {
        ++completed;
    }
    return completed;
}

void SimulatedDevice::StopReturningBuffers(bool evenOnReset) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stalled_ = true;
        stalledOnReset_ = evenOnReset;
    }
    wake_.notify_all();
}

std::size_t SimulatedDevice::QueuedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

std::vector<std::uint8_t> SimulatedDevice::QueuedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < count_; ++i) {
        const WaveHeader* header = queue_[(head_ + i) % kQueueCapacity];
        bytes.insert(bytes.end(), header->data, header->data + header->bufferLength);
    }
    return bytes;
}

bool SimulatedDevice::IsPaused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
}

bool SimulatedDevice::IsClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

void SimulatedDevice::PaceLoop() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    auto due = Clock::now();
    while (!stopping_) {
        if (paused_ || stalled_ || count_ == 0) {
            wake_.wait(lock);
            due = Clock::now();  // playing resumes from now
            continue;
        }
        WaveHeader* head = queue_[head_];
        const double seconds =
            format_.avgBytesPerSec == 0
                ? 0.001
                : static_cast<double>(head->bufferLength) / format_.avgBytesPerSec;
        due += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        const bool interrupted = wake_.wait_until(lock, due, [&] {
            return stopping_ || paused_ || stalled_ || count_ == 0 || queue_[head_] != head;
        });
        if (!interrupted) {
            CompleteHeadLocked(lock);
        }
    }
}

// ---------------------------------------------------------- SimulatedBackend

SimulatedBackend::SimulatedBackend(std::vector<std::string> deviceNames)
    : names_(std::move(deviceNames)) {}

std::uint32_t SimulatedBackend::DeviceCount() {
    return static_cast<std::uint32_t>(names_.size());
}

std::string SimulatedBackend::DeviceName(std::uint32_t index) {
    return index < names_.size() ? CutDeviceName(names_[index]) : std::string();
}

DeviceResult SimulatedBackend::Open(std::uint32_t index, const WaveFormat& format,
                                    const StreamOptions& options, const NotificationTarget& target,
                                    std::unique_ptr<WaveOutDevice>& device) {
    if (const DeviceResult failure = TakeFailure(failOpen_)) {
        return failure;
    }
    if (names_.empty()) {
        return kDeviceNoDriver;
    }
    if (index != kDefaultWaveDevice && index >= names_.size()) {
        return kDeviceBadId;
    }
    const bool widthOk =
        format.bitsPerSample == 8 || format.bitsPerSample == 16 || format.bitsPerSample == 24;
    if (format.channels < 1 || format.channels > 2 || !widthOk || format.samplesPerSec == 0 ||
        format.blockAlign != format.bitsPerSample / 8 * format.channels) {
        return kWaveBadFormat;
    }
    auto simulated = std::make_unique<SimulatedDevice>(*this, format, target, paced_);
    lastDevice_ = simulated.get();
    lastIndex_ = index;
    lastOptions_ = options;
    ++openCount_;
    device = std::move(simulated);
    target.Post(DeviceEvent::kOpened);
    return kDeviceOk;
}

std::string SimulatedBackend::ErrorText(std::uint32_t code) {
    std::string text = StandardErrorText(code);
    if (!text.empty()) {
        return text;
    }
    if (code == kInjectedFailure) {
        return "The simulated device failed on request.";
    }
    return "Unknown simulated device error " + std::to_string(code) + ".";
}

void SimulatedBackend::WatchDevices(std::function<void()> changed) {
    watcher_ = std::move(changed);
}

void SimulatedBackend::SetDeviceNames(std::vector<std::string> names) {
    names_ = std::move(names);
    if (watcher_) {
        watcher_();
    }
}

std::vector<std::uint8_t> SimulatedBackend::Played() const {
    std::lock_guard<std::mutex> lock(playedMutex_);
    return played_;
}

void SimulatedBackend::ClearPlayed() {
    std::lock_guard<std::mutex> lock(playedMutex_);
    played_.clear();
}

DeviceResult SimulatedBackend::TakeFailure(DeviceResult& slot) {
    const DeviceResult failure = slot;
    slot = kDeviceOk;
    return failure;
}

void SimulatedBackend::Record(const std::uint8_t* data, std::size_t size) {
    if (!recording_ || data == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(playedMutex_);
    played_.insert(played_.end(), data, data + size);
}

void SimulatedBackend::Forget(SimulatedDevice* device) {
    if (lastDevice_ == device) {
        lastDevice_ = nullptr;
    }
}

}  // namespace skarnel
