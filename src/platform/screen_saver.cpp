#include "platform/screen_saver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace skarnel {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";

}  // namespace

void DBusScreenSaverInhibitor::Inhibit() {
    wanted_ = true;
    if (pending_ || held_) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
    call << QStringLiteral("Skarnel") << QStringLiteral("Playing a test signal");
    pending_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<std::uint32_t> reply = *finished;
                finished->deleteLater();
                OnInhibitReply(!reply.isError(), reply.isError() ? 0 : reply.value());
            });
}

void DBusScreenSaverInhibitor::OnInhibitReply(bool ok, std::uint32_t cookie) {
    pending_ = false;
    if (!ok) {
        return;  // no service, or it did not answer in time: nothing is held
    }
    cookie_ = cookie;
    held_ = true;
    if (!wanted_) {
        SendUninhibit();  // released while the call was under way
    }
}

void DBusScreenSaverInhibitor::Release() {
    wanted_ = false;
    if (held_) {
        SendUninhibit();
    }
}

void DBusScreenSaverInhibitor::SendUninhibit() {
    held_ = false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "UnInhibit");
    call << cookie_;
    call.setAutoStartService(false);
    // No answer is awaited: there is nothing to do with one.
    QDBusConnection::sessionBus().send(call);
}

}  // namespace skarnel
