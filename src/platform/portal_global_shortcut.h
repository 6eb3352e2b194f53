#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace skarnel {

// Ctrl+Insert for the whole desktop through the XDG desktop portal's
// GlobalShortcuts interface, where a program cannot grab a key itself
// (Wayland). The program asks for a session and binds one shortcut with
// Ctrl+Insert as the suggested trigger; the desktop may let the user choose
// another key, or refuse.
//
// Nothing here waits for the portal. Every step is a request whose answer
// comes as a Response signal, possibly after the desktop has asked the user.
class PortalGlobalShortcut : public QObject {
    Q_OBJECT
public:
    // How long a method call may take to return its request handle (the
    // answer itself has no time limit: the user may be choosing a key).
    static constexpr int kCallTimeoutMs = 5000;
    static constexpr const char* kShortcutId = "toggle";
    static constexpr const char* kPreferredTrigger = "CTRL+Insert";

    enum class State { kIdle, kAsking, kBound, kUnavailable };

    explicit PortalGlobalShortcut(QObject* parent = nullptr);
    ~PortalGlobalShortcut() override;
    PortalGlobalShortcut(const PortalGlobalShortcut&) = delete;
    PortalGlobalShortcut& operator=(const PortalGlobalShortcut&) = delete;

    // Starts asking the portal; nothing when already asked. settled() tells
    // how it ended.
    void Bind();
    // Ends the session, and the shortcut with it.
    void Release();
    State state() const noexcept { return state_; }

signals:
    // The shortcut was pressed (its activation, not its release).
    void activated();
    // The portal bound the shortcut (true) or cannot (false: no portal, no
    // GlobalShortcuts interface, or the desktop or the user refused).
    void settled(bool bound);

private slots:
    void OnSessionResponse(uint response, const QVariantMap& results);
    void OnBindResponse(uint response, const QVariantMap& results);
    void OnActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                     const QVariantMap& options);

private:
    void CreateSession();
    void BindShortcut();
    // Calls the portal and returns at once; on an error or no handle in
    // kCallTimeoutMs the shortcut is unavailable.
    void CallForRequest(const QString& method, const QList<QVariant>& arguments);
    // The path of the request object a call with this handle token gets.
    QString RequestPath(const QString& token) const;
    // Listens for the Response of one request at a time.
    void ListenForResponse(const QString& path, const char* slot);
    void StopListening();
    void Settle(bool bound);

    State state_ = State::kIdle;
    QString senderToken_;  // the connection's unique name as the portal spells it in paths
    QString sessionPath_;
    QString requestPath_;  // the request whose Response is awaited
    const char* responseSlot_ = nullptr;
};

}  // namespace skarnel
