#include "platform/command_bus.h"

#include <algorithm>

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>

#include "platform/logging.h"

namespace skarnel {

DBusCommandBus::DBusCommandBus(CommandTarget target, QObject* parent, Attach attach)
    : QObject(parent), target_(std::move(target)) {
    if (attach == Attach::kNow) {
        Register();
    }
}

bool DBusCommandBus::Register() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (registered_ || !bus.isConnected()) {
        return registered_;
    }
    serviceName_ = QString(kServicePrefix) + QString::number(::getpid());
    auto* adaptor = new GeneratorAdaptor(*this);
    registered_ = bus.registerObject(kPath, adaptor, QDBusConnection::ExportAllSlots) &&
                  bus.registerService(serviceName_);
    if (registered_ && bus.interface() != nullptr) {
        // The windows already running, this one included.
        int windows = 0;
        for (const QString& name : bus.interface()->registeredServiceNames().value()) {
            windows += name.startsWith(kServicePrefix) ? 1 : 0;
        }
        windowNumber_ = std::max(windows, 1);
    }
    return registered_;
}

DBusCommandBus::~DBusCommandBus() {
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(serviceName_);
        bus.unregisterObject(kPath);
    }
}

void DBusCommandBus::Broadcast(std::uint32_t number, std::int32_t first, std::int32_t second) {
    // The own window first and at once: a peer that hangs must not keep OFF
    // from stopping this window's sound (it took 25 s per hung peer).
    target_.execute(number, first, second);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!registered_ || !bus.isConnected() || bus.interface() == nullptr) {
        return;
    }
    QStringList names;
    for (const QString& name : bus.interface()->registeredServiceNames().value()) {
        if (name.startsWith(kServicePrefix) && name != serviceName_) {
            names << name;
        }
    }
    names.sort();
    // Then the other windows one after the other, each finishing the command
    // before the next gets it, as the sync box's cascade needs. BlockWithGui
    // keeps serving incoming calls (a receiver's own broadcast reaching this
    // window) while a call waits; one that has no answer within
    // kPeerTimeoutMs is skipped.
    for (const QString& name : names) {
        QDBusMessage call = QDBusMessage::createMethodCall(name, kPath, kInterface, "Command");
        call << static_cast<uint>(number) << static_cast<int>(first) << static_cast<int>(second);
        const QDBusMessage reply = bus.call(call, QDBus::BlockWithGui, kPeerTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            qCWarning(lcWindow) << "A command for" << name
                                << "was skipped:" << reply.errorMessage();
        }
    }
}

bool DBusCommandBus::HasWindow(std::int64_t pid) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!registered_ || !bus.isConnected()) {
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
    ask << QString(kServicePrefix) + QString::number(pid);
    const QDBusReply<bool> owned = bus.call(ask, QDBus::Block, kPeerTimeoutMs);
    return owned.isValid() && owned.value();
}

void DBusCommandBus::SendToggle(std::int64_t pid) {
    const QString name = QString(kServicePrefix) + QString::number(pid);
    QDBusMessage call = QDBusMessage::createMethodCall(name, kPath, kInterface, "Toggle");
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kPeerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [name](QDBusPendingCallWatcher* w) {
        if (w->isError()) {
            qCWarning(lcWindow) << "The hot key's toggle for" << name
                                << "failed:" << w->error().message();
        }
        w->deleteLater();
    });
}

namespace {

void RunFromBus(const CommandTarget& target, const std::function<void()>& call) {
    if (target.fromBus) {
        target.fromBus(call);
    } else {
        call();
    }
}

}  // namespace

void GeneratorAdaptor::Command(uint number, int first, int second) {
    const CommandTarget& target = bus_.target();
    RunFromBus(target, [&] { target.execute(number, first, second); });
}

void GeneratorAdaptor::Toggle() {
    const CommandTarget& target = bus_.target();
    if (target.toggle) {
        RunFromBus(target, target.toggle);
    }
}

bool GeneratorAdaptor::State(bool& paused, bool& sync) {
    paused = bus_.target().paused();
    sync = bus_.target().sync();
    return bus_.target().running();
}

}  // namespace skarnel
