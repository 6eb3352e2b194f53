#include "platform/toggle_command.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <cstdio>

#include "platform/command_bus.h"
#include "platform/hotkey_routing.h"

namespace skarnel {

int ToggleWindowUsedLast() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs(
            "skarnel: --toggle: no D-Bus session bus, through which the windows are reached\n",
            stderr);
        return 1;
    }
    // A window that does not answer is not the one to toggle.
    const std::optional<WindowUse> chosen = WindowUsedLast(DBusCommandBus::WindowsInUse());
    if (!chosen) {
        std::fputs("skarnel: --toggle: no generator window is running\n", stderr);
        return 1;
    }
    const QString name = QString::fromStdString(chosen->busName);
    const QDBusMessage toggle = QDBusMessage::createMethodCall(
        name, DBusCommandBus::kPath, DBusCommandBus::kInterface, "Toggle");
    const QDBusMessage reply = bus.call(toggle, QDBus::Block, 5 * DBusCommandBus::kPeerTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "skarnel: --toggle: the window did not answer: %s\n",
                     qPrintable(reply.errorMessage()));
        return 1;
    }
    return 0;
}

}  // namespace skarnel
