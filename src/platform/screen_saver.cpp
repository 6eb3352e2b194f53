#include "platform/screen_saver.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace skarnel {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";

}  // namespace

void DBusScreenSaverInhibitor::Inhibit() {
    if (inhibiting_) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusInterface saver(kService, kPath, kInterface, bus);
    if (!saver.isValid()) {
        return;
    }
    const QDBusReply<std::uint32_t> reply =
        saver.call("Inhibit", QStringLiteral("Skarnel"), QStringLiteral("Playing a test signal"));
    if (reply.isValid()) {
        cookie_ = reply.value();
        inhibiting_ = true;
    }
}

void DBusScreenSaverInhibitor::Release() {
    if (!inhibiting_) {
        return;
    }
    inhibiting_ = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusInterface saver(kService, kPath, kInterface, bus);
    if (saver.isValid()) {
        saver.call("UnInhibit", cookie_);
    }
}

}  // namespace skarnel
