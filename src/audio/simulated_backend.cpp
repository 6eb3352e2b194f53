#include "audio/simulated_backend.h"

#include <algorithm>

namespace skarnel {

// ----------------------------------------------------------- SimulatedStream

SimulatedStream::SimulatedStream(SimulatedBackend& backend, const WaveFormat& format,
                                 std::size_t capacity, std::shared_ptr<QueueWakeup> wakeup,
                                 bool paced)
    : backend_(backend),
      format_(format),
      wakeup_(std::move(wakeup)),
      paced_(paced),
      ring_(std::max<std::size_t>(capacity, format.blockAlign)) {}

SimulatedStream::~SimulatedStream() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        backend_.dropped_ += static_cast<int>(writesCount_);  // never to be played
    }
    backend_.Forget(this);
}

DeviceResult SimulatedStream::Start() {
    if (const DeviceResult failure = backend_.TakeFailure(backend_.failStart_)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    anchorPlayed_ = played_;
    anchorTime_ = Clock::now();
    return kDeviceOk;
}

std::size_t SimulatedStream::Writable() {
    std::lock_guard<std::mutex> lock(mutex_);
    AdvanceClockLocked();
    if (writesCount_ == kMaxWrites) {
        return 0;
    }
    const std::size_t room = ring_.size() - static_cast<std::size_t>(written_ - played_);
    return room - room % format_.blockAlign;
}

DeviceResult SimulatedStream::Write(const std::uint8_t* data, std::size_t bytes) {
    if (const DeviceResult failure = backend_.TakeFailure(backend_.failWrite_)) {
        return failure;
    }
    if (backend_.failAllWrites_ != kDeviceOk && backend_.writesBeforeFailing_-- <= 0) {
        return backend_.failAllWrites_;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (hostFailure_ != kDeviceOk) {
        return hostFailure_;
    }
    AdvanceClockLocked();
    if (bytes % format_.blockAlign != 0 || writesCount_ == kMaxWrites ||
        bytes > ring_.size() - (written_ - played_)) {
        return kDeviceInvalidParameter;
    }
    if (paced_ && played_ == written_) {
        // A stream that ran dry plays what comes next from its arrival on.
        anchorPlayed_ = played_;
        anchorTime_ = Clock::now();
    }
    for (std::size_t i = 0; i < bytes; ++i) {
        ring_[(written_ + i) % ring_.size()] = data[i];
    }
    written_ += bytes;
    writeEnds_[(writesHead_ + writesCount_) % kMaxWrites] = written_;
    ++writesCount_;
    ++backend_.written_;
    return kDeviceOk;
}

std::uint64_t SimulatedStream::PlayedBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    AdvanceClockLocked();
    return played_;
}

DeviceResult SimulatedStream::SetPaused(bool paused) {
    if (const DeviceResult failure = backend_.TakeFailure(backend_.failPause_)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    AdvanceClockLocked();
    paused_ = paused;
    anchorPlayed_ = played_;
    anchorTime_ = Clock::now();
    return kDeviceOk;
}

DeviceResult SimulatedStream::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = false;
    if (!stalledOnReset_) {
        ReturnUnplayedLocked();
    }
    anchorPlayed_ = played_;
    anchorTime_ = Clock::now();
    return kDeviceOk;
}

DeviceResult SimulatedStream::Failure() {
    std::lock_guard<std::mutex> lock(mutex_);
    return hostFailure_;
}

void SimulatedStream::FailHost(DeviceResult code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hostFailure_ = code;
        ReturnUnplayedLocked();
    }
    wakeup_->Wake();
}

bool SimulatedStream::CompleteHead() {
    std::uint64_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (writesCount_ == 0) {
            return false;
        }
        bytes = writeEnds_[writesHead_] - played_;
    }
    return PlayBytes(bytes);
}

bool SimulatedStream::PlayBytes(std::uint64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_ || paused_ || stalled_ || played_ == written_ || hostFailure_ != kDeviceOk) {
            return false;
        }
        PlayLocked(bytes);
    }
    wakeup_->Wake();
    return true;
}

int SimulatedStream::CompleteAll() {
    int completed = 0;
    while (CompleteHead()) {
        ++completed;
    }
    return completed;
}

void SimulatedStream::StopReturningBuffers(bool evenOnReset) {
    std::lock_guard<std::mutex> lock(mutex_);
    AdvanceClockLocked();
    stalled_ = true;
    stalledOnReset_ = evenOnReset;
}

std::size_t SimulatedStream::QueuedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writesCount_;
}

std::vector<std::uint8_t> SimulatedStream::QueuedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t at = played_; at < written_; ++at) {
        bytes.push_back(ring_[at % ring_.size()]);
    }
    return bytes;
}

bool SimulatedStream::IsPaused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
}

void SimulatedStream::PlayLocked(std::uint64_t bytes) {
    bytes = std::min(bytes, written_ - played_);
    // Recorded as it lies in the ring: in at most two pieces.
    while (bytes > 0) {
        const std::size_t at = static_cast<std::size_t>(played_ % ring_.size());
        const std::size_t piece = std::min<std::size_t>(bytes, ring_.size() - at);
        backend_.Record(ring_.data() + at, piece);
        played_ += piece;
        bytes -= piece;
    }
    while (writesCount_ > 0 && writeEnds_[writesHead_] <= played_) {
        writesHead_ = (writesHead_ + 1) % kMaxWrites;
        --writesCount_;
        ++backend_.returned_;
    }
}

bool SimulatedStream::ClockRunsLocked() const noexcept {
    return paced_ && started_ && !paused_ && !stalled_ && hostFailure_ == kDeviceOk;
}

void SimulatedStream::AdvanceClockLocked() {
    if (!ClockRunsLocked() || played_ == written_) {
        return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - anchorTime_).count();
    const auto frames = static_cast<std::uint64_t>(seconds * format_.samplesPerSec);
    const std::uint64_t due = anchorPlayed_ + frames * format_.blockAlign;
    if (due > played_) {
        PlayLocked(due - played_);
    }
}

void SimulatedStream::ReturnUnplayedLocked() {
    backend_.returned_ += static_cast<int>(writesCount_);
    writesHead_ = writesCount_ = 0;
    played_ = written_;
}

// ---------------------------------------------------------- SimulatedBackend

SimulatedBackend::SimulatedBackend(std::vector<std::string> deviceNames)
    : names_(std::move(deviceNames)) {}

std::uint32_t SimulatedBackend::DeviceCount() {
    return static_cast<std::uint32_t>(names_.size());
}

std::string SimulatedBackend::DeviceName(std::uint32_t index) {
    return index < names_.size() ? names_[index] : std::string();
}

std::string SimulatedBackend::DeviceId(std::uint32_t index) {
    if (index < ids_.size()) {
        return ids_[index];
    }
    return DeviceName(index);
}

DeviceResult SimulatedBackend::Open(std::uint32_t index, const WaveFormat& format,
                                    const StreamOptions& options,
                                    std::shared_ptr<QueueWakeup> wakeup,
                                    std::unique_ptr<HostStream>& stream) {
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
    // The host holds all of the player's buffers at once, and no more.
    const std::size_t capacity =
        hostCapacity_ != 0 ? hostCapacity_
                           : static_cast<std::size_t>(options.bufferBytes) * options.bufferCount;
    auto simulated =
        std::make_unique<SimulatedStream>(*this, format, capacity, std::move(wakeup), paced_);
    lastStream_ = simulated.get();
    lastIndex_ = index;
    lastOptions_ = options;
    ++openCount_;
    stream = std::move(simulated);
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

void SimulatedBackend::SetDeviceNames(std::vector<std::string> names,
                                      std::vector<std::string> ids) {
    names_ = std::move(names);
    ids_ = std::move(ids);
    if (watcher_) {
        watcher_();
    }
}

std::vector<std::uint8_t> SimulatedBackend::Played() const {
    std::lock_guard<std::mutex> lock(playedMutex_);
    return played_;
}

std::size_t SimulatedBackend::PlayedSize() const {
    std::lock_guard<std::mutex> lock(playedMutex_);
    return played_.size();
}

std::vector<std::uint8_t> SimulatedBackend::PlayedFrom(std::size_t offset) const {
    std::lock_guard<std::mutex> lock(playedMutex_);
    offset = std::min(offset, played_.size());
    return {played_.begin() + static_cast<std::ptrdiff_t>(offset), played_.end()};
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

void SimulatedBackend::Forget(SimulatedStream* stream) {
    if (lastStream_ == stream) {
        lastStream_ = nullptr;
    }
}

}  // namespace skarnel
