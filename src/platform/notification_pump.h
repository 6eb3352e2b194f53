#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace skarnel {

class NotificationChannel;

// Wakes the GUI thread when a device posts a notification. Device threads
// write to an eventfd (no allocation, no lock); the GUI event loop sees the
// fd become readable and runs `process` there, which drains the channel.
class NotificationPump : public QObject {
    Q_OBJECT
public:
    NotificationPump(NotificationChannel& channel, std::function<void()> process,
                     QObject* parent = nullptr);
    ~NotificationPump() override;

private:
    void OnReadable();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> process_;
};

}  // namespace skarnel
