#include "platform/portal_idle_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace skarnel {

namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.Inhibit";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";

}  // namespace

void PortalIdleInhibitor::Inhibit() {
    wanted_ = true;
    if (pending_ || held_) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
    // No parent window: the program has no portal window identifier to give,
    // and idle inhibition does not need one.
    call << QString() << kIdleFlag
         << QVariantMap{{QStringLiteral("reason"), QStringLiteral("Playing a test signal")}};
    pending_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                finished->deleteLater();
                OnInhibitReply(!reply.isError(),
                               reply.isError() ? QString() : reply.value().path());
            });
}

void PortalIdleInhibitor::OnInhibitReply(bool ok, const QString& handle) {
    pending_ = false;
    if (!ok || handle.isEmpty()) {
        return;  // no portal, or it did not answer in time: nothing is held
    }
    handle_ = handle;
    held_ = true;
    if (!wanted_) {
        SendClose();  // released while the call was under way
    }
}

void PortalIdleInhibitor::Release() {
    wanted_ = false;
    if (held_) {
        SendClose();
    }
}

void PortalIdleInhibitor::SendClose() {
    held_ = false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, handle_, kRequestInterface, "Close");
    call.setAutoStartService(false);
    // No answer is awaited: there is nothing to do with one.
    QDBusConnection::sessionBus().send(call);
}

}  // namespace skarnel
