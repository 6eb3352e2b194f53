#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "audio/wave_out_backend.h"

namespace skarnel {

enum class DeviceEvent : std::uint8_t {
    kOpened,      // the device has opened
    kBufferDone,  // the host has played one buffer (or a reset returned it)
    kClosed,      // the device has closed
    kMixerLevel,  // the host's mixer plays the stream at another level (mixer)
};

// One notification of a device to the component that opened it. The
// generation identifies the open it belongs to, so a late notification of an
// earlier open can be recognised.
struct DeviceNotification {
    DeviceEvent event = DeviceEvent::kOpened;
    std::uint64_t generation = 0;
    std::int32_t buffer = -1;  // kBufferDone: which of the component's buffers
    // kBufferDone: the buffer due next was refilled and queued in its place;
    // or, when a refill could not be queued, the code that refused it.
    bool refilled = false;
    std::uint32_t refillFailure = 0;
    MixerLevel mixer{};  // kMixerLevel
};

// Carries notifications from the thread that keeps the buffer queue (or any
// other) to the component's owner thread, in the order they were posted.
//
// Producers call Post from any thread; it never allocates and holds the lock
// only to copy one small record, so an audio thread is never held up by the
// owner. After each post the wake-up function runs on the posting thread: it
// must be thread-safe and must not block (writing to an eventfd, for
// example). The owner thread alone calls Take.
class NotificationChannel {
public:
    // Notifications in flight are bounded by the buffers a device holds (at
    // most four per open) plus its opened and closed notifications, so this
    // capacity leaves room for many overlapping opens.
    static constexpr std::size_t kCapacity = 256;

    // Set before any device posts; not changed while devices are open.
    void SetWakeup(std::function<void()> wakeup) { wakeup_ = std::move(wakeup); }

    // False (and the notification dropped) only when the owner has not taken
    // kCapacity notifications, which a working owner never lets happen.
    bool Post(const DeviceNotification& notification) noexcept;

    std::optional<DeviceNotification> Take() noexcept;

    std::size_t Pending() const noexcept;

private:
    mutable std::mutex mutex_;
    std::array<DeviceNotification, kCapacity> ring_{};
    std::size_t head_ = 0;  // next to take
    std::size_t count_ = 0;
    std::function<void()> wakeup_;
};

}  // namespace skarnel
