#include "platform/realtime_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "platform/logging.h"

namespace skarnel {

namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kPath = "/org/freedesktop/RealtimeKit1";
constexpr int kReplyTimeoutMs = 1000;

// RealtimeKit refuses a process whose real-time CPU time is not limited.
void LimitRealtimeCpuTime() {
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return;
    }
    const auto wanted = static_cast<rlim_t>(RealtimePriority::kRealtimeLimitMicroseconds);
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted) {
        limit.rlim_max = wanted;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
    }
    setrlimit(RLIMIT_RTTIME, &limit);
}

}  // namespace

RealtimePriority::RealtimePriority(bool sessionBusForTests, QObject* parent)
    : QObject(parent), sessionBus_(sessionBusForTests) {}

void RealtimePriority::RequestForCallingThread() {
    const auto threadId = static_cast<qint64>(syscall(SYS_gettid));
    QMetaObject::invokeMethod(
        this, [this, threadId] { Send(threadId); }, Qt::QueuedConnection);
}

void RealtimePriority::Send(qint64 threadId) {
    QDBusConnection bus =
        sessionBus_ ? QDBusConnection::sessionBus() : QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        ++refused_;
        qCInfo(lcAudio) << "no real-time priority: no bus";
        emit answered(threadId, false, QStringLiteral("no bus"));
        return;
    }
    LimitRealtimeCpuTime();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                       QStringLiteral("MakeThreadRealtime"));
    call << static_cast<quint64>(threadId) << static_cast<quint32>(kPriority);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, threadId](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<> reply = *finished;
                finished->deleteLater();
                if (reply.isError()) {
                    ++refused_;
                    qCInfo(lcAudio) << "no real-time priority:" << reply.error().message();
                    emit answered(threadId, false, reply.error().message());
                    return;
                }
                ++granted_;
                emit answered(threadId, true, QString());
            });
}

}  // namespace skarnel
