#include "platform/notification_pump.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>

#include "audio/device_notifications.h"

namespace skarnel {

NotificationPump::NotificationPump(NotificationChannel& channel, std::function<void()> process,
                                   QObject* parent)
    : QObject(parent), process_(std::move(process)) {
    fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error("cannot create the audio notification eventfd");
    }
    const int fd = fd_;
    channel.SetWakeup([fd] {
        const std::uint64_t one = 1;
        // A full counter still leaves the fd readable, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &one, sizeof one);
    });
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &NotificationPump::OnReadable);
}

NotificationPump::~NotificationPump() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void NotificationPump::OnReadable() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(fd_, &count, sizeof count);
    process_();
}

}  // namespace skarnel
