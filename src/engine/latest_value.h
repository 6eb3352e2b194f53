#pragma once

#include <array>
#include <atomic>

namespace skarnel {

// Hands the newest value of T from one thread (the writer) to one other (the
// reader) without a lock: three slots, one the writer fills, one the reader
// holds, and one in between. Publishing swaps the writer's slot with the one
// in between; taking swaps the reader's with it when it holds something new.
// Neither side ever waits for the other, and the reader always gets the value
// as it was when published, whole.
template <typename T>
class LatestValue {
public:
    // The writer's slot, to fill before Publish.
    T& Back() noexcept { return slots_[back_]; }
    void Publish() noexcept {
        back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex;
    }

    // True, and Front() the newest value, when something was published since
    // the last take.
    bool TakeNewest() noexcept {
        if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) {
            return false;
        }
        front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    const T& Front() const noexcept { return slots_[front_]; }

private:
    static constexpr int kIndex = 3;
    static constexpr int kFresh = 4;

    std::array<T, 3> slots_{};
    int back_ = 0;   // the writer's
    int front_ = 1;  // the reader's
    std::atomic<int> middle_{2};
};

}  // namespace skarnel
