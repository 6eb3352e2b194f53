// fake_shortcuts_portal [--refuse]: the desktop portal's GlobalShortcuts
// interface as a stand-in on the session bus, for sessions without a real
// one (a headless compositor, a test's private bus).
//
// It answers CreateSession and BindShortcuts as the portal does: a request
// handle at once, then a Response signal on that request (with --refuse,
// BindShortcuts is answered "cancelled", as when the user declines). On
// standard output it prints "ready" once it owns the portal's name, then one
// line per event: "bound ID TRIGGER", "closed SESSION".
//
// Tests press a shortcut through org.orvane.SkarnelTest.ShortcutsPortal on
// /org/freedesktop/portal/desktop: Press(s id) sends Activated for it to
// every session that bound it, and returns how many did; Bindings() returns
// the "ID TRIGGER" pairs bound so far.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kTestInterface = "org.orvane.SkarnelTest.ShortcutsPortal";

void Print(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class FakeShortcutsPortal : public QDBusVirtualObject {
public:
    explicit FakeShortcutsPortal(bool refuse) : refuse_(refuse) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QDBusConnection bus = connection;
        const QString member = message.member();
        if (message.interface() == kShortcuts && member == "CreateSession") {
            CreateSession(message, bus);
        } else if (message.interface() == kShortcuts && member == "BindShortcuts") {
            BindShortcuts(message, bus);
        } else if (message.interface() == "org.freedesktop.portal.Session" && member == "Close") {
            Print("closed " + message.path());
            std::erase_if(bound_, [&](const auto& b) { return b.first == message.path(); });
            bus.send(message.createReply());
        } else if (message.interface() == kTestInterface && member == "Press") {
            bus.send(message.createReply(Press(message.arguments().value(0).toString(), bus)));
        } else if (message.interface() == kTestInterface && member == "Bindings") {
            bus.send(message.createReply(bindings_));
        } else {
            return false;
        }
        return true;
    }

private:
    // The portal's paths carry the caller's unique name, ":1.42" as "1_42".
    static QString Sender(const QDBusMessage& message) {
        return message.service().mid(1).replace('.', '_');
    }

    static QString RequestPath(const QDBusMessage& message, const QVariantMap& options) {
        return QString("%1/request/%2/%3")
            .arg(kPortalPath, Sender(message), options.value("handle_token").toString());
    }

    // Replies with the request handle, then answers on the request.
    static void Answer(const QDBusMessage& message, QDBusConnection& bus, const QString& request,
                       uint response, const QVariantMap& results) {
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage signal =
            QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        bus.send(signal);
    }

    void CreateSession(const QDBusMessage& message, QDBusConnection& bus) {
        const auto options = qdbus_cast<QVariantMap>(message.arguments().value(0));
        const QString session = QString("%1/session/%2/%3")
                                    .arg(kPortalPath, Sender(message),
                                         options.value("session_handle_token").toString());
        Answer(message, bus, RequestPath(message, options), 0, {{"session_handle", session}});
    }

    void BindShortcuts(const QDBusMessage& message, QDBusConnection& bus) {
        const QString session = qvariant_cast<QDBusObjectPath>(message.arguments().value(0)).path();
        const auto options = qdbus_cast<QVariantMap>(message.arguments().value(3));
        const auto shortcuts = qvariant_cast<QDBusArgument>(message.arguments().value(1));
        shortcuts.beginArray();
        while (!shortcuts.atEnd()) {
            QString id;
            QVariantMap properties;
            shortcuts.beginStructure();
            shortcuts >> id >> properties;
            shortcuts.endStructure();
            if (!refuse_) {
                const QString pair = id + " " + properties.value("preferred_trigger").toString();
                Print("bound " + pair);
                bindings_ << pair;
                bound_.emplace_back(session, id);
            }
        }
        shortcuts.endArray();
        Answer(message, bus, RequestPath(message, options), refuse_ ? 1 : 0, {});
    }

    int Press(const QString& id, QDBusConnection& bus) {
        int sent = 0;
        for (const auto& [session, shortcut] : bound_) {
            if (shortcut == id) {
                QDBusMessage signal =
                    QDBusMessage::createSignal(kPortalPath, kShortcuts, "Activated");
                signal << QVariant::fromValue(QDBusObjectPath(session)) << id
                       << static_cast<qulonglong>(QDateTime::currentMSecsSinceEpoch())
                       << QVariantMap{};
                bus.send(signal);
                ++sent;
            }
        }
        return sent;
    }

    bool refuse_;
    QStringList bindings_;
    std::vector<std::pair<QString, QString>> bound_;  // (session, shortcut id)
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    FakeShortcutsPortal portal(argc > 1 && std::strcmp(argv[1], "--refuse") == 0);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kPortalPath, &portal, QDBusConnection::SubPath) ||
        !bus.registerService("org.freedesktop.portal.Desktop")) {
        std::fprintf(stderr, "fake_shortcuts_portal: cannot own the portal's name\n");
        return 1;
    }
    Print("ready");
    return app.exec();
}
