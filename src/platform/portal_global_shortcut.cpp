#include "platform/portal_global_shortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>

#include "platform/logging.h"

namespace skarnel {

namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
// Handle tokens are ours to choose; the portal builds its object paths from
// them and from the caller's unique name.
constexpr const char* kSessionToken = "skarnel_hotkey";
constexpr const char* kCreateToken = "skarnel_hotkey_session";
constexpr const char* kBindToken = "skarnel_hotkey_bind";

// One shortcut as BindShortcuts takes it: (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcuts = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

}  // namespace

}  // namespace skarnel

Q_DECLARE_METATYPE(skarnel::PortalShortcut)
Q_DECLARE_METATYPE(skarnel::PortalShortcuts)

namespace skarnel {

PortalGlobalShortcut::PortalGlobalShortcut(QObject* parent) : QObject(parent) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcuts>();
}

PortalGlobalShortcut::~PortalGlobalShortcut() {
    Release();
}

void PortalGlobalShortcut::Bind() {
    if (state_ != State::kIdle) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Settle(false);
        return;
    }
    // ":1.42" appears in the portal's paths as "1_42".
    senderToken_ = bus.baseService().mid(1).replace('.', '_');
    state_ = State::kAsking;
    CreateSession();
}

void PortalGlobalShortcut::Release() {
    StopListening();
    if (!sessionPath_.isEmpty()) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.disconnect(kService, kPath, kInterface, "Activated", this,
                       SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        QDBusMessage close =
            QDBusMessage::createMethodCall(kService, sessionPath_, kSessionInterface, "Close");
        close.setAutoStartService(false);
        bus.send(close);  // nothing to do with an answer
        sessionPath_.clear();
    }
    if (state_ == State::kAsking || state_ == State::kBound) {
        state_ = State::kIdle;
    }
}

QString PortalGlobalShortcut::RequestPath(const QString& token) const {
    return QStringLiteral("%1/request/%2/%3").arg(kPath, senderToken_, token);
}

void PortalGlobalShortcut::ListenForResponse(const QString& path, const char* slot) {
    StopListening();
    requestPath_ = path;
    responseSlot_ = slot;
    QDBusConnection::sessionBus().connect(kService, path, kRequestInterface, "Response", this,
                                          slot);
}

void PortalGlobalShortcut::StopListening() {
    if (!requestPath_.isEmpty()) {
        QDBusConnection::sessionBus().disconnect(kService, requestPath_, kRequestInterface,
                                                 "Response", this, responseSlot_);
        requestPath_.clear();
    }
}

void PortalGlobalShortcut::CreateSession() {
    // Listening starts before the call: the answer may come at once.
    ListenForResponse(RequestPath(kCreateToken), SLOT(OnSessionResponse(uint, QVariantMap)));
    const QVariantMap options{{"handle_token", QString(kCreateToken)},
                              {"session_handle_token", QString(kSessionToken)}};
    CallForRequest("CreateSession", {options});
}

void PortalGlobalShortcut::OnSessionResponse(uint response, const QVariantMap& results) {
    StopListening();
    if (response != 0) {
        qCInfo(lcWindow) << "The desktop portal gave no shortcut session; answer" << response;
        Settle(false);
        return;
    }
    // Older portals answer with a string, newer ones with an object path.
    const QVariant handle = results.value("session_handle");
    sessionPath_ = handle.canConvert<QDBusObjectPath>() && !handle.canConvert<QString>()
                       ? handle.value<QDBusObjectPath>().path()
                       : handle.toString();
    if (sessionPath_.isEmpty()) {
        sessionPath_ = QStringLiteral("%1/session/%2/%3").arg(kPath, senderToken_, kSessionToken);
    }
    QDBusConnection::sessionBus().connect(
        kService, kPath, kInterface, "Activated", this,
        SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    BindShortcut();
}

void PortalGlobalShortcut::BindShortcut() {
    ListenForResponse(RequestPath(kBindToken), SLOT(OnBindResponse(uint, QVariantMap)));
    const PortalShortcuts shortcuts{
        {kShortcutId,
         {{"description", QStringLiteral("Skarnel: ON/OFF in the generator window used last")},
          {"preferred_trigger", QString(kPreferredTrigger)}}}};
    // No parent window: the program has no portal window identifier to give.
    CallForRequest("BindShortcuts", {QVariant::fromValue(QDBusObjectPath(sessionPath_)),
                                     QVariant::fromValue(shortcuts), QString(),
                                     QVariantMap{{"handle_token", QString(kBindToken)}}});
}

void PortalGlobalShortcut::OnBindResponse(uint response, const QVariantMap&) {
    StopListening();
    if (response != 0) {
        qCInfo(lcWindow) << "The desktop portal did not bind the hot key; answer" << response;
        Release();
        Settle(false);
        return;
    }
    Settle(true);
}

void PortalGlobalShortcut::CallForRequest(const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method, expected = requestPath_](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                finished->deleteLater();
                if (state_ != State::kAsking) {
                    return;  // released meanwhile
                }
                if (reply.isError()) {
                    // No portal, or one without global shortcuts: the usual
                    // case outside a Wayland desktop.
                    qCInfo(lcWindow).noquote()
                        << "The desktop portal's" << method << "failed:" << reply.error().message();
                    Release();
                    Settle(false);
                } else if (requestPath_ == expected && reply.value().path() != expected) {
                    // A portal that ignores handle tokens names another
                    // request: listen there instead (unless its answer has
                    // come already).
                    ListenForResponse(reply.value().path(), responseSlot_);
                }
            });
}

void PortalGlobalShortcut::OnActivated(const QDBusObjectPath& session, const QString& shortcut,
                                       qulonglong, const QVariantMap&) {
    if (state_ == State::kBound && session.path() == sessionPath_ && shortcut == kShortcutId) {
        emit activated();
    }
}

void PortalGlobalShortcut::Settle(bool bound) {
    state_ = bound ? State::kBound : State::kUnavailable;
    emit settled(bound);
}

}  // namespace skarnel
