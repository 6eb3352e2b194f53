#include "platform/desktop_idle_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace skarnel {

namespace {

constexpr const char* kScreenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kBusInterface = "org.freedesktop.DBus";

}  // namespace

void DesktopIdleInhibitor::Inhibit() {
    wanted_ = true;
    if (active_ != nullptr && active_->Inhibiting()) {
        return;
    }
    if (probing_) {
        return;  // the inhibition starts when the answer is in
    }
    if (!QDBusConnection::sessionBus().isConnected()) {
        return;
    }
    probing_ = true;
    AskWhetherNameIsOwned();
}

void DesktopIdleInhibitor::Release() {
    wanted_ = false;
    if (active_ != nullptr) {
        active_->Release();
    }
}

void DesktopIdleInhibitor::AskWhetherNameIsOwned() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface, "NameHasOwner");
    call << QString(kScreenSaverService);
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kProbeTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<bool> reply = *finished;
                finished->deleteLater();
                if (reply.isError()) {
                    probing_ = false;  // the bus is not answering: nothing can be asked
                } else if (reply.value()) {
                    Choose(&screenSaver_);
                } else {
                    AskWhetherNameIsActivatable();
                }
            });
}

void DesktopIdleInhibitor::AskWhetherNameIsActivatable() {
    const QDBusMessage call = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface,
                                                             "ListActivatableNames");
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kProbeTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QStringList> reply = *finished;
                finished->deleteLater();
                if (reply.isError()) {
                    probing_ = false;
                } else if (reply.value().contains(kScreenSaverService)) {
                    Choose(&screenSaver_);
                } else {
                    Choose(&portal_);
                }
            });
}

void DesktopIdleInhibitor::Choose(ScreenSaverInhibitor* inhibitor) {
    probing_ = false;
    active_ = inhibitor;
    if (wanted_) {
        active_->Inhibit();
    }
}

}  // namespace skarnel
