#pragma once

#include <semaphore.h>

#include <chrono>

namespace skarnel {

// Wakes the thread that keeps a player's buffer queue. Wake may be called from
// any thread, a host's real-time callback included: it neither blocks nor
// allocates (sem_post is even async-signal-safe). Streams hold it by
// shared_ptr, so something of a stream that runs late (a host call that
// returns after the stream was destroyed) still finds it alive.
class QueueWakeup {
public:
    QueueWakeup() noexcept { sem_init(&semaphore_, 0, 0); }
    ~QueueWakeup() { sem_destroy(&semaphore_); }
    QueueWakeup(const QueueWakeup&) = delete;
    QueueWakeup& operator=(const QueueWakeup&) = delete;

    void Wake() noexcept { sem_post(&semaphore_); }

    // Waits for a wake or the timeout, then takes every pending wake: one
    // look at the state covers them all.
    void Wait(std::chrono::nanoseconds timeout) noexcept;

private:
    sem_t semaphore_;
};

}  // namespace skarnel
