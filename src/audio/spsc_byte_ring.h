#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace skarnel {

// A ring of bytes between exactly one producer thread and one consumer
// thread, without locks: each side moves only its own position, and a
// position is published (release) after the bytes it covers are copied, so
// the other side (acquire) sees the bytes before the position. Nothing is
// allocated after construction, so the consumer may be a real-time audio
// callback.
//
// Positions count every byte ever written or read (64 bits never wrap in
// practice); the slot of a position is the position modulo the capacity.
class SpscByteRing {
public:
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

    explicit SpscByteRing(std::size_t capacity)
        : bytes_(std::make_unique<std::uint8_t[]>(std::max<std::size_t>(capacity, 1))),
          capacity_(std::max<std::size_t>(capacity, 1)) {}

    SpscByteRing(const SpscByteRing&) = delete;
    SpscByteRing& operator=(const SpscByteRing&) = delete;

    std::size_t Capacity() const noexcept { return capacity_; }

    // ---- producer side

    std::size_t FreeSpace() const noexcept {
        return capacity_ - static_cast<std::size_t>(writePos_.load(std::memory_order_relaxed) -
                                                    readPos_.load(std::memory_order_acquire));
    }

    // Copies as much of `data` as fits; returns the bytes taken.
    std::size_t Write(const std::uint8_t* data, std::size_t size) noexcept {
        const std::uint64_t write = writePos_.load(std::memory_order_relaxed);
        const std::uint64_t read = readPos_.load(std::memory_order_acquire);
        const std::size_t n = std::min(size, capacity_ - static_cast<std::size_t>(write - read));
        const std::size_t at = static_cast<std::size_t>(write % capacity_);
        const std::size_t first = std::min(n, capacity_ - at);
        if (n > 0) {
            std::memcpy(bytes_.get() + at, data, first);
            std::memcpy(bytes_.get(), data + first, n - first);
        }
        writePos_.store(write + n, std::memory_order_release);
        return n;
    }

    // Bytes written so far; safe to read on either side (the consumer sees a
    // position it may then read up to).
    std::uint64_t WritePosition() const noexcept {
        return writePos_.load(std::memory_order_acquire);
    }

    // ---- consumer side

    std::size_t Available() const noexcept {
        return static_cast<std::size_t>(writePos_.load(std::memory_order_acquire) -
                                        readPos_.load(std::memory_order_relaxed));
    }

    // Copies up to `size` bytes into `out`; returns the bytes copied.
    std::size_t Read(std::uint8_t* out, std::size_t size) noexcept {
        const std::uint64_t read = readPos_.load(std::memory_order_relaxed);
        const std::uint64_t write = writePos_.load(std::memory_order_acquire);
        const std::size_t n = std::min(size, static_cast<std::size_t>(write - read));
        const std::size_t at = static_cast<std::size_t>(read % capacity_);
        const std::size_t first = std::min(n, capacity_ - at);
        if (n > 0) {
            std::memcpy(out, bytes_.get() + at, first);
            std::memcpy(out + first, bytes_.get(), n - first);
        }
        readPos_.store(read + n, std::memory_order_release);
        return n;
    }

    // Drops the unread bytes written before `position` (a WritePosition the
    // producer side took); later bytes stay. Returns the bytes dropped.
    std::size_t DiscardUntil(std::uint64_t position) noexcept {
        const std::uint64_t read = readPos_.load(std::memory_order_relaxed);
        const std::uint64_t target = std::min(position, writePos_.load(std::memory_order_acquire));
        if (target <= read) {
            return 0;
        }
        readPos_.store(target, std::memory_order_release);
        return static_cast<std::size_t>(target - read);
    }

    // Bytes read or discarded so far.
    std::uint64_t ReadPosition() const noexcept { return readPos_.load(std::memory_order_acquire); }

private:
    const std::unique_ptr<std::uint8_t[]> bytes_;
    const std::size_t capacity_;
    // On lines of their own: each side writes one, and sharing a cache line
    // would make every write of one side slow the other.
    alignas(64) std::atomic<std::uint64_t> writePos_{0};
    alignas(64) std::atomic<std::uint64_t> readPos_{0};
};

}  // namespace skarnel
