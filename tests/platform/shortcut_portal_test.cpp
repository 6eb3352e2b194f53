// The hot key through the desktop portal's global shortcuts, where the
// display offers no key grab (Wayland): Ctrl+Insert is suggested as the
// trigger, an activation reaches the program and a release ends the session;
// a missing or refusing portal leaves the hot key unavailable, which the
// window is told. The portal is a stand-in process on a private session bus
// (dbus-run-session); the display is offscreen, so no key grab exists.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>

#include "platform/desktop_hotkey.h"
#include "platform/portal_global_shortcut.h"

namespace skarnel::testing {
namespace {

// The stand-in portal (tests/support/fake_shortcuts_portal.cpp).
class FakePortalProcess {
public:
    explicit FakePortalProcess(const QStringList& arguments = {}) {
        process_.start(SKARNEL_FAKE_SHORTCUTS_PORTAL, arguments);
        ready_ = process_.waitForReadyRead(10000) && process_.readLine().trimmed() == "ready";
    }
    ~FakePortalProcess() {
        process_.kill();
        process_.waitForFinished();
    }
    bool ready() const { return ready_; }
    // What it has printed since the last call.
    QString Printed() { return QString::fromUtf8(process_.readAllStandardOutput()); }
    // Presses the shortcut; returns how many sessions it was sent to.
    int Press(const QString& id) {
        QDBusMessage press = QDBusMessage::createMethodCall(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.orvane.SkarnelTest.ShortcutsPortal", "Press");
        press << id;
        const QDBusReply<int> sent = QDBusConnection::sessionBus().call(press);
        return sent.isValid() ? sent.value() : -1;
    }

private:
    QProcess process_;
    bool ready_ = false;
};

void HandleEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// Waits up to 3 s for the signal to have come `count` times.
bool WaitFor(QSignalSpy& spy, int count = 1) {
    QElapsedTimer timer;
    timer.start();
    while (spy.count() < count && timer.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return spy.count() >= count;
}

TEST(ShortcutPortal, BindsCtrlInsertAndPassesItsActivationsOnUntilReleased) {
    FakePortalProcess portal;
    ASSERT_TRUE(portal.ready()) << "no session bus; run under dbus-run-session";
    PortalGlobalShortcut shortcut;
    QSignalSpy settled(&shortcut, &PortalGlobalShortcut::settled);
    QSignalSpy activated(&shortcut, &PortalGlobalShortcut::activated);

    shortcut.Bind();
    ASSERT_TRUE(WaitFor(settled));
    EXPECT_TRUE(settled.at(0).at(0).toBool());
    EXPECT_EQ(shortcut.state(), PortalGlobalShortcut::State::kBound);
    HandleEventsFor(100);
    EXPECT_EQ(portal.Printed(), "bound toggle CTRL+Insert\n");

    EXPECT_EQ(portal.Press("toggle"), 1);
    ASSERT_TRUE(WaitFor(activated));
    EXPECT_EQ(portal.Press("another"), 0);
    EXPECT_EQ(portal.Press("toggle"), 1);
    ASSERT_TRUE(WaitFor(activated, 2));
    HandleEventsFor(200);
    EXPECT_EQ(activated.count(), 2);

    // A second Bind changes nothing; a release closes the session.
    shortcut.Bind();
    shortcut.Release();
    HandleEventsFor(300);
    EXPECT_TRUE(portal.Printed().startsWith("closed /org/freedesktop/portal/desktop/session/"));
    EXPECT_EQ(portal.Press("toggle"), 0);
    HandleEventsFor(200);
    EXPECT_EQ(activated.count(), 2);
    EXPECT_EQ(settled.count(), 1);
}

TEST(ShortcutPortal, NoPortalOrARefusalLeavesTheHotKeyUnavailable) {
    {
        // No portal on the bus: the call fails at once.
        PortalGlobalShortcut shortcut;
        QSignalSpy settled(&shortcut, &PortalGlobalShortcut::settled);
        QElapsedTimer asked;
        asked.start();
        shortcut.Bind();
        ASSERT_TRUE(WaitFor(settled));
        EXPECT_FALSE(settled.at(0).at(0).toBool());
        EXPECT_LT(asked.elapsed(), 1000);
        EXPECT_EQ(shortcut.state(), PortalGlobalShortcut::State::kUnavailable);
    }
    {
        // The user declined the binding.
        FakePortalProcess portal({"--refuse"});
        ASSERT_TRUE(portal.ready());
        PortalGlobalShortcut shortcut;
        QSignalSpy settled(&shortcut, &PortalGlobalShortcut::settled);
        shortcut.Bind();
        ASSERT_TRUE(WaitFor(settled));
        EXPECT_FALSE(settled.at(0).at(0).toBool());
        EXPECT_EQ(portal.Press("toggle"), 0);
    }
}

// Without a key grab (offscreen here, Wayland on a desktop) the first
// instance asks the portal; later instances leave the key to it.
TEST(DesktopHotKey, WithoutAGrabTheFirstInstanceUsesThePortalAndTheOthersAskNothing) {
    FakePortalProcess portal;
    ASSERT_TRUE(portal.ready());
    {
        DesktopHotKey later;
        QSignalSpy unavailable(&later, &DesktopHotKey::unavailable);
        later.Claim(/*othersRunning=*/true);
        HandleEventsFor(300);
        EXPECT_EQ(portal.Printed(), "");
        EXPECT_EQ(unavailable.count(), 0);
    }
    DesktopHotKey first;
    QSignalSpy unavailable(&first, &DesktopHotKey::unavailable);
    QSignalSpy pressed(&first, &DesktopHotKey::pressedAnywhere);
    first.Claim(/*othersRunning=*/false);
    HandleEventsFor(300);
    EXPECT_EQ(portal.Printed(), "bound toggle CTRL+Insert\n");
    EXPECT_EQ(portal.Press("toggle"), 1);
    ASSERT_TRUE(WaitFor(pressed));
    EXPECT_EQ(unavailable.count(), 0);
}

TEST(DesktopHotKey, WithNeitherAGrabNorAPortalTheWindowIsToldSo) {
    DesktopHotKey hotKey;
    QSignalSpy unavailable(&hotKey, &DesktopHotKey::unavailable);
    hotKey.Claim(/*othersRunning=*/false);
    EXPECT_TRUE(WaitFor(unavailable));
}

}  // namespace
}  // namespace skarnel::testing

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
