#include "platform/command_bus.h"

#include <algorithm>

#include <unistd.h>

#include <QDBusConnection>
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
    if (!objectRegistered_) {
        auto* adaptor = new GeneratorAdaptor(*this);
        objectRegistered_ = bus.registerObject(kPath, adaptor, QDBusConnection::ExportAllSlots);
        if (!objectRegistered_) {
            delete adaptor;
            return false;
        }
    }
    // The own name, or when another connection holds it (a process of the
    // same number in another namespace), the next free one under it: a
    // window without a name would be out of sync and out of reach.
    const QString own = QString(kServicePrefix) + QString::number(::getpid());
    for (int n = 1; n <= kMostNames && !registered_; ++n) {
        const QString name = n == 1 ? own : own + "_" + QString::number(n);
        if (bus.registerService(name)) {
            serviceName_ = name;
            registered_ = true;
        }
    }
    if (registered_ && serviceName_ != own) {
        ownNameTaken_ = own;
        qCWarning(lcWindow).noquote()
            << own << "is held by another connection; this window answers as" << serviceName_;
    }
    if (registered_) {
        // The windows already running, this one included.
        windowNumber_ = std::max(static_cast<int>(GeneratorNames().size()), 1);
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

QStringList DBusCommandBus::GeneratorNames() {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames");
    const QDBusReply<QStringList> names =
        QDBusConnection::sessionBus().call(ask, QDBus::Block, kPeerTimeoutMs);
    QStringList generators;
    if (names.isValid()) {
        for (const QString& name : names.value()) {
            if (name.startsWith(kServicePrefix)) {
                generators << name;
            }
        }
    }
    return generators;
}

void DBusCommandBus::CallWithoutWaiting(const QDBusMessage& call, const QString& what) {
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kPeerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [what](QDBusPendingCallWatcher* w) {
        if (w->isError()) {
            qCWarning(lcWindow).noquote() << what << "failed:" << w->error().message();
        }
        w->deleteLater();
    });
}

void DBusCommandBus::Broadcast(std::uint32_t number, std::int32_t first, std::int32_t second,
                               std::uint64_t stamp) {
    // The own window first and at once: a peer that hangs must not keep OFF
    // from stopping this window's sound.
    target_.execute(number, first, second);
    if (!registered_ || !QDBusConnection::sessionBus().isConnected()) {
        return;
    }
    for (const QString& name : GeneratorNames()) {
        if (name == serviceName_) {
            continue;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(name, kPath, kInterface, "PeerCommand");
        call << static_cast<uint>(number) << static_cast<int>(first) << static_cast<int>(second)
             << static_cast<qulonglong>(stamp);
        CallWithoutWaiting(call,
                           QStringLiteral("Command 0x%1 for %2").arg(number, 0, 16).arg(name));
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
    SendToggleTo((QString(kServicePrefix) + QString::number(pid)).toStdString());
}

void DBusCommandBus::SendToggleTo(const std::string& busName) {
    const QString name = QString::fromStdString(busName);
    CallWithoutWaiting(QDBusMessage::createMethodCall(name, kPath, kInterface, "Toggle"),
                       "The hot key's toggle for " + name);
}

std::vector<WindowUse> DBusCommandBus::OtherWindowsInUse() {
    return registered_ ? WindowsInUse(serviceName_) : std::vector<WindowUse>{};
}

std::vector<WindowUse> DBusCommandBus::WindowsInUse(const QString& skip) {
    std::vector<WindowUse> windows;
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (const QString& name : GeneratorNames()) {
        // "<prefix><pid>", or "<prefix><pid>_<n>" for a window whose own name
        // was taken.
        bool isNumber = false;
        const qint64 pid =
            name.mid(int(qstrlen(kServicePrefix))).section('_', 0, 0).toLongLong(&isNumber);
        if (!isNumber || name == skip) {
            continue;
        }
        const QDBusMessage ask =
            QDBusMessage::createMethodCall(name, kPath, kInterface, "LastUsed");
        const QDBusReply<qulonglong> used = bus.call(ask, QDBus::Block, kPeerTimeoutMs);
        if (used.isValid()) {
            windows.push_back({pid, used.value(), name.toStdString()});
        }
    }
    return windows;
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

void GeneratorAdaptor::PeerCommand(uint number, int first, int second, qulonglong stamp) {
    const CommandTarget& target = bus_.target();
    RunFromBus(target, [&] {
        if (target.fromPeer) {
            target.fromPeer(number, first, second, stamp);
        } else {
            target.execute(number, first, second);
        }
    });
}

void GeneratorAdaptor::Toggle() {
    const CommandTarget& target = bus_.target();
    if (target.toggle) {
        RunFromBus(target, target.toggle);
    }
}

qulonglong GeneratorAdaptor::LastUsed() {
    const CommandTarget& target = bus_.target();
    return target.lastUsed ? target.lastUsed() : 0;
}

bool GeneratorAdaptor::State(bool& paused, bool& sync) {
    paused = bus_.target().paused();
    sync = bus_.target().sync();
    return bus_.target().running();
}

}  // namespace skarnel
