#include "audio/device_notifications.h"

namespace skarnel {

bool NotificationChannel::Post(const DeviceNotification& notification) noexcept {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == kCapacity) {
            return false;
        }
        ring_[(head_ + count_) % kCapacity] = notification;
        ++count_;
    }
    if (wakeup_) {
        wakeup_();
    }
    return true;
}

std::optional<DeviceNotification> NotificationChannel::Take() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == 0) {
        return std::nullopt;
    }
    const DeviceNotification n = ring_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return n;
}

std::size_t NotificationChannel::Pending() const noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

}  // namespace skarnel
