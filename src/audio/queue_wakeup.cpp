#include "audio/queue_wakeup.h"

#include <time.h>

#include <cerrno>

namespace skarnel {

void QueueWakeup::Wait(std::chrono::nanoseconds timeout) noexcept {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto total = deadline.tv_nsec + timeout.count();
    deadline.tv_sec += static_cast<time_t>(total / 1000000000);
    deadline.tv_nsec = static_cast<long>(total % 1000000000);
    while (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
    }
    while (sem_trywait(&semaphore_) == 0) {
    }
}

}  // namespace skarnel
