// Where the hot key's toggle goes: the window the user is in when it is
// another instance's generator window, the own window otherwise; and a peer
// that does not answer holds neither this window nor the toggle. The active
// window is a double, the peers are real names on a private session bus
// (dbus-run-session), the own one a DBusCommandBus. A process of its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>

#include "platform/command_bus.h"
#include "platform/hotkey_routing.h"

namespace skarnel::testing {
namespace {

class FixedActiveWindow : public ActiveWindow {
public:
    std::optional<std::int64_t> ProcessId() override { return pid; }
    std::optional<std::int64_t> pid;
};

// A generator window of another instance, as far as the bus shows it: the
// instance's name for a made-up process number and an object that counts
// Toggle() calls.
class PeerObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvane.Skarnel.Generator")
public:
    std::atomic<int> toggles = 0;
    std::atomic<qulonglong> lastUsed = 0;
public slots:
    void Toggle() { ++toggles; }
    qulonglong LastUsed() { return lastUsed; }
};

class Peer {
public:
    Peer(std::int64_t pid, const QString& connection)
        : connection_(connection),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection)) {
        EXPECT_TRUE(
            bus_.registerObject(DBusCommandBus::kPath, &object, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus_.registerService(DBusCommandBus::kServicePrefix + QString::number(pid)));
    }
    ~Peer() { QDBusConnection::disconnectFromBus(connection_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    PeerObject object;

private:
    QString connection_;
    QDBusConnection bus_;
};

// A peer that is hung: its object lives on a thread that never gets back to
// its event loop until the peer is destroyed, so calls get no answer.
class HungPeer {
public:
    explicit HungPeer(std::int64_t pid) {
        thread_.start();
        peer_ = std::make_unique<Peer>(pid, "hung");
        peer_->object.moveToThread(&thread_);
        QMetaObject::invokeMethod(&peer_->object, [this] { release_.acquire(); });
    }
    ~HungPeer() {
        release_.release();
        thread_.quit();
        thread_.wait();
    }

private:
    QThread thread_;
    QSemaphore release_;
    std::unique_ptr<Peer> peer_;
};

// A peer that answers from a thread of its own, so that this thread can wait
// for its answer as it waits for another process's.
class AnsweringPeer {
public:
    explicit AnsweringPeer(std::int64_t pid) {
        thread_.start();
        peer_ = std::make_unique<Peer>(pid, "answering");
        peer_->object.moveToThread(&thread_);
    }
    ~AnsweringPeer() {
        thread_.quit();
        thread_.wait();
    }
    PeerObject& object() { return peer_->object; }

private:
    QThread thread_;
    std::unique_ptr<Peer> peer_;
};

// Process numbers no process has here; only the peers made for them own
// their names.
constexpr std::int64_t kPeerPid = 0x7ffffff0;
constexpr std::int64_t kHungPid = 0x7ffffff1;
constexpr std::int64_t kStrangerPid = 0x7ffffff2;

void HandleEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
}

class HotKeyRoutingTest : public ::testing::Test {
protected:
    HotKeyTarget Press() {
        return RouteHotKey(active, own, ::getpid(), [this] { ++ownToggles; });
    }

    FixedActiveWindow active;
    int ownToggles = 0;
    int ownBusToggles = 0;  // toggles that reached the own window over the bus
    DBusCommandBus own{CommandTarget{[](std::uint32_t, std::int32_t, std::int32_t) {},
                                     [] { return false; }, [] { return false; },
                                     [] { return false; }, [this] { ++ownBusToggles; }}};
};

TEST_F(HotKeyRoutingTest, TheActiveWindowOfAnotherInstanceGetsTheToggle) {
    ASSERT_TRUE(own.registered()) << "no session bus; run under dbus-run-session";
    Peer peer(kPeerPid, "peer");
    active.pid = kPeerPid;
    EXPECT_EQ(Press(), HotKeyTarget::kOtherWindow);
    HandleEventsFor(300);
    EXPECT_EQ(peer.object.toggles.load(), 1);
    EXPECT_EQ(ownToggles, 0);
    EXPECT_EQ(ownBusToggles, 0);

    // Toggle() over the bus runs the receiving window's toggle.
    own.SendToggle(::getpid());
    HandleEventsFor(300);
    EXPECT_EQ(ownBusToggles, 1);
}

TEST_F(HotKeyRoutingTest, OwnOtherProgramsOrNoActiveWindowToggleTheOwnWindow) {
    ASSERT_TRUE(own.registered());
    Peer peer(kPeerPid, "peer");
    const std::optional<std::int64_t> cases[] = {::getpid(), kStrangerPid, std::nullopt};
    for (const std::optional<std::int64_t>& pid : cases) {
        SCOPED_TRACE(pid.value_or(-1));
        active.pid = pid;
        const int before = ownToggles;
        EXPECT_EQ(Press(), HotKeyTarget::kOwnWindow);
        EXPECT_EQ(ownToggles, before + 1);
    }
    HandleEventsFor(300);
    EXPECT_EQ(peer.object.toggles.load(), 0);
    EXPECT_EQ(ownBusToggles, 0) << "the own window toggled twice, once over the bus";
}

TEST_F(HotKeyRoutingTest, AHungPeerHoldsNeitherTheWindowNorTheToggle) {
    ASSERT_TRUE(own.registered());
    HungPeer hung(kHungPid);
    active.pid = kHungPid;
    QElapsedTimer pressed;
    pressed.start();
    EXPECT_EQ(Press(), HotKeyTarget::kOtherWindow);
    EXPECT_LT(pressed.elapsed(), 500) << "the press waited for the peer";

    // The event loop goes on meanwhile, and after the peer's time is up the
    // own window has not been toggled in its place.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(50);
    HandleEventsFor(DBusCommandBus::kPeerTimeoutMs + 500);
    EXPECT_GE(ticks, 10);
    EXPECT_EQ(ownToggles, 0);
    EXPECT_EQ(ownBusToggles, 0);
}

// The portal's shortcut names no window: the one used last gets the toggle,
// the own one included; a peer that does not answer is passed over.
TEST_F(HotKeyRoutingTest, ThePortalsShortcutTogglesTheWindowUsedLast) {
    ASSERT_TRUE(own.registered());
    AnsweringPeer peer(kPeerPid);
    HungPeer hung(kHungPid);
    peer.object().lastUsed = 9;
    const auto press = [this](std::uint64_t ownUse) {
        return RouteToWindowUsedLast(own, {::getpid(), ownUse}, [this] { ++ownToggles; });
    };
    EXPECT_EQ(press(5), HotKeyTarget::kOtherWindow);
    HandleEventsFor(300);
    EXPECT_EQ(peer.object().toggles.load(), 1);
    EXPECT_EQ(ownToggles, 0);

    EXPECT_EQ(press(10), HotKeyTarget::kOwnWindow);
    EXPECT_EQ(ownToggles, 1);
    HandleEventsFor(300);
    EXPECT_EQ(peer.object().toggles.load(), 1);
    EXPECT_EQ(ownBusToggles, 0) << "the own window was also asked over the bus";
}

// `skarnel --toggle` picks the window the user was in last; before any was
// used, the first started, as the hot key does from outside every window.
TEST(WindowUsedLast, TheLastUsedElseTheFirstStarted) {
    const auto chosen = [](const std::vector<WindowUse>& windows) {
        const std::optional<WindowUse> window = WindowUsedLast(windows);
        return window ? window->pid : std::int64_t{-1};
    };
    EXPECT_EQ(chosen({}), -1);
    EXPECT_EQ(chosen({{300, 0}, {120, 0}, {200, 0}}), 120);
    EXPECT_EQ(chosen({{120, 5}, {200, 9}, {300, 7}}), 200);
    EXPECT_EQ(chosen({{300, 9}, {120, 0}, {200, 9}}), 200);  // a tie: the older
}

}  // namespace
}  // namespace skarnel::testing

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "hotkey_routing_test.moc"
