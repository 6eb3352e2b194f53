// Idle inhibition on desktops that offer only the XDG desktop portal: with no
// org.freedesktop.ScreenSaver on the bus the portal is asked, and its request
// is closed at release; where the screen-saver service exists or can be
// activated, the portal is left alone. Runs on a private session bus
// (dbus-run-session) whose configuration decides what can be activated.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QThread>
#include <QVariantMap>
#include <memory>
#include <vector>

#include "bus_squatter.h"
#include "platform/desktop_idle_inhibitor.h"
#include "platform/portal_idle_inhibitor.h"

namespace skarnel {
namespace {

void HandleEventsFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// One request object of the fake portal: notes when it is closed.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    FakeRequest(QString path, std::vector<QString>& calls)
        : path_(std::move(path)), calls_(calls) {}

public slots:
    void Close() { calls_.push_back("Close " + path_); }

private:
    QString path_;
    std::vector<QString>& calls_;
};

// The desktop portal's Inhibit interface as a stand-in on a connection of its
// own: it answers at once with a new request object and records what it was
// asked, as the portal would.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    static constexpr const char* kConnection = "portal-service";

    FakePortal() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection)) {}
    ~FakePortal() override {
        bus_.unregisterService("org.freedesktop.portal.Desktop");
        QDBusConnection::disconnectFromBus(kConnection);
    }
    bool Register() {
        return bus_.registerObject("/org/freedesktop/portal/desktop", this,
                                   QDBusConnection::ExportAllSlots) &&
               bus_.registerService("org.freedesktop.portal.Desktop");
    }

    std::vector<QString> calls;

public slots:
    QDBusObjectPath Inhibit(const QString& window, uint flags, const QVariantMap& options) {
        calls.push_back(QString("Inhibit window='%1' flags=%2 reason=%3")
                            .arg(window)
                            .arg(flags)
                            .arg(options.value("reason").toString()));
        const QString path =
            QString("/org/freedesktop/portal/desktop/request/1_1/t%1").arg(requests_.size() + 1);
        requests_.push_back(std::make_unique<FakeRequest>(path, calls));
        bus_.registerObject(path, requests_.back().get(), QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection bus_;
    std::vector<std::unique_ptr<FakeRequest>> requests_;
};

// The screen-saver service as a stand-in on a connection of its own.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    static constexpr const char* kConnection = "screen-saver-service";

    FakeScreenSaver()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection)) {}
    ~FakeScreenSaver() override {
        bus_.unregisterService("org.freedesktop.ScreenSaver");
        QDBusConnection::disconnectFromBus(kConnection);
    }
    bool Register() {
        return bus_.registerObject("/org/freedesktop/ScreenSaver", this,
                                   QDBusConnection::ExportAllSlots) &&
               bus_.registerService("org.freedesktop.ScreenSaver");
    }

    std::vector<QString> calls;

public slots:
    uint Inhibit(const QString& application, const QString&) {
        calls.push_back("Inhibit " + application);
        return 42;
    }
    void UnInhibit(uint cookie) { calls.push_back("UnInhibit " + QString::number(cookie)); }

private:
    QDBusConnection bus_;
};

const QString kPortalInhibit = "Inhibit window='' flags=8 reason=Playing a test signal";
const QString kFirstRequest = "/org/freedesktop/portal/desktop/request/1_1/t1";
const QString kSecondRequest = "/org/freedesktop/portal/desktop/request/1_1/t2";

TEST(IdlePortal, WithoutAScreenSaverServiceTheSessionIsKeptAwakeThroughThePortal) {
    FakePortal portal;
    ASSERT_TRUE(portal.Register());
    DesktopIdleInhibitor idle;

    idle.Inhibit();
    EXPECT_TRUE(idle.Inhibiting());
    HandleEventsFor(300);
    EXPECT_TRUE(idle.UsingPortal());
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit}));

    idle.Release();
    EXPECT_FALSE(idle.Inhibiting());
    HandleEventsFor(300);
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit, "Close " + kFirstRequest}));

    // Stopped again before the bus daemon had said which service to use:
    // the portal is not asked at all.
    portal.calls.clear();
    idle.Inhibit();
    idle.Release();
    HandleEventsFor(300);
    EXPECT_TRUE(portal.calls.empty());
    EXPECT_FALSE(idle.Inhibiting());

    idle.Inhibit();
    HandleEventsFor(300);
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit}));
    idle.Release();
    HandleEventsFor(300);
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit, "Close " + kSecondRequest}));
}

TEST(IdlePortal, TheInhibitorClosesARequestThatArrivesAfterTheRelease) {
    FakePortal portal;
    ASSERT_TRUE(portal.Register());
    PortalIdleInhibitor idle;

    idle.Inhibit();
    idle.Release();  // before the handle has come
    HandleEventsFor(300);
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit, "Close " + kFirstRequest}));
    EXPECT_FALSE(idle.Held());

    portal.calls.clear();
    idle.Inhibit();
    idle.Inhibit();  // a second start while held asks nothing more
    HandleEventsFor(300);
    EXPECT_TRUE(idle.Held());
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit}));
    idle.Release();
    HandleEventsFor(300);
    EXPECT_FALSE(idle.Held());
    EXPECT_EQ(portal.calls, (std::vector<QString>{kPortalInhibit, "Close " + kSecondRequest}));
}

TEST(IdlePortal, APortalThatNeverAnswersHoldsNothingUp) {
    testing::BusSquatter squatter({"org.freedesktop.portal.Desktop"});
    ASSERT_TRUE(squatter.ready());
    DesktopIdleInhibitor idle;
    QElapsedTimer t;
    t.start();
    idle.Inhibit();
    HandleEventsFor(100);  // long enough for the bus daemon, not for the portal
    idle.Release();
    idle.Inhibit();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(idle.UsingPortal());
    HandleEventsFor(PortalIdleInhibitor::kReplyTimeoutMs + 500);
    idle.Release();
    EXPECT_FALSE(idle.Inhibiting());
}

TEST(IdlePortal, WhereTheScreenSaverServiceRunsThePortalIsNotAsked) {
    FakePortal portal;
    ASSERT_TRUE(portal.Register());
    FakeScreenSaver screenSaver;
    ASSERT_TRUE(screenSaver.Register());
    DesktopIdleInhibitor idle;

    idle.Inhibit();
    HandleEventsFor(300);
    idle.Release();
    HandleEventsFor(300);
    EXPECT_FALSE(idle.UsingPortal());
    EXPECT_EQ(screenSaver.calls, (std::vector<QString>{"Inhibit Skarnel", "UnInhibit 42"}));
    EXPECT_TRUE(portal.calls.empty());
}

// Run on a bus where org.freedesktop.ScreenSaver is activatable (its start
// fails): the service counts as present, so the portal is not asked.
TEST(IdlePortalActivatable, AnActivatableScreenSaverServiceIsPreferredToThePortal) {
    FakePortal portal;
    ASSERT_TRUE(portal.Register());
    DesktopIdleInhibitor idle;

    idle.Inhibit();
    HandleEventsFor(500);
    idle.Release();
    HandleEventsFor(300);
    EXPECT_FALSE(idle.UsingPortal());
    EXPECT_TRUE(portal.calls.empty());
}

}  // namespace
}  // namespace skarnel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "idle_portal_test.moc"
