// Calls to other D-Bus services never hold the window: a service that does
// not answer costs nothing, and one that answers late still gets its calls in
// the right order. Runs on a private session bus (dbus-run-session).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QThread>
#include <vector>

#include "bus_squatter.h"
#include "platform/command_bus.h"
#include "platform/screen_saver.h"

namespace skarnel {
namespace {

using Squatter = testing::BusSquatter;

void HandleEventsFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// The screen-saver service as a stand-in on a connection of its own: it
// answers at once and records what it was asked.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::vector<QString> calls;

public slots:
    uint Inhibit(const QString& application, const QString&) {
        calls.push_back("Inhibit " + application);
        return 42;
    }
    void UnInhibit(uint cookie) { calls.push_back("UnInhibit " + QString::number(cookie)); }
};

TEST(ScreenSaverPeer, AServiceThatNeverAnswersHoldsNothingUp) {
    Squatter squatter({"org.freedesktop.ScreenSaver"});
    ASSERT_TRUE(squatter.ready());
    DBusScreenSaverInhibitor saver;
    QElapsedTimer t;
    t.start();
    saver.Inhibit();
    saver.Release();
    saver.Inhibit();
    // It used to wait for introspection, then for Inhibit: 25 s each.
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(saver.Inhibiting());
    HandleEventsFor(DBusScreenSaverInhibitor::kReplyTimeoutMs + 500);
    EXPECT_FALSE(saver.Held()) << "no answer, no cookie";
    saver.Release();
    EXPECT_FALSE(saver.Inhibiting());
}

TEST(ScreenSaverPeer, AReleaseBeforeTheAnswerIsCarriedOutWhenItComes) {
    QDBusConnection service =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "screen-saver-service");
    FakeScreenSaver fake;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/ScreenSaver", &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));

    DBusScreenSaverInhibitor saver;
    saver.Inhibit();
    saver.Release();  // before the cookie has come
    HandleEventsFor(300);
    EXPECT_EQ(fake.calls, (std::vector<QString>{"Inhibit Skarnel", "UnInhibit 42"}));
    EXPECT_FALSE(saver.Held());

    fake.calls.clear();
    saver.Inhibit();
    HandleEventsFor(300);
    EXPECT_TRUE(saver.Held());
    saver.Release();
    HandleEventsFor(300);
    EXPECT_EQ(fake.calls, (std::vector<QString>{"Inhibit Skarnel", "UnInhibit 42"}));
    service.unregisterService("org.freedesktop.ScreenSaver");
    QDBusConnection::disconnectFromBus("screen-saver-service");
}

// A generator window of another instance on a connection of its own: it
// answers at once and notes when each broadcast command arrived.
class RecordingPeer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvane.Skarnel.Generator")
public:
    explicit RecordingPeer(const QElapsedTimer& clock) : clock_(clock) {}
    std::vector<std::pair<uint, qulonglong>> received;
    qint64 firstAt = -1;

public slots:
    void PeerCommand(uint number, int, int, qulonglong stamp) {
        if (firstAt < 0) {
            firstAt = clock_.elapsed();
        }
        received.emplace_back(number, stamp);
    }

private:
    const QElapsedTimer& clock_;
};

// Two squatters on generator names that never answer, beside a window that
// does: the broadcast returns at once, the own window has acted before it
// returns, and the answering window gets each command at once, in order. It
// was 25 s per squatter, on the GUI thread, before the own sound stopped.
TEST(CommandBusPeer, HungPeersHoldUpNeitherTheOwnWindowNorTheOthers) {
    Squatter squatter({QString(DBusCommandBus::kServicePrefix) + "1",
                       QString(DBusCommandBus::kServicePrefix) + "2"});
    ASSERT_TRUE(squatter.ready());
    QElapsedTimer t;
    RecordingPeer peer(t);
    QDBusConnection peerBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "peer");
    ASSERT_TRUE(
        peerBus.registerObject(DBusCommandBus::kPath, &peer, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(peerBus.registerService(QString(DBusCommandBus::kServicePrefix) + "3"));
    qint64 ownAfter = -1;
    DBusCommandBus bus({[&](std::uint32_t, std::int32_t, std::int32_t) { ownAfter = t.elapsed(); },
                        [] { return false; }, [] { return false; }, [] { return false; }, nullptr});
    ASSERT_TRUE(bus.registered());
    t.start();
    bus.Broadcast(0x401, 0, 0, 0);
    bus.Broadcast(0x403, 1, 0, 77);
    const qint64 took = t.elapsed();
    EXPECT_GE(ownAfter, 0);
    EXPECT_LT(took, 500);
    HandleEventsFor(DBusCommandBus::kPeerTimeoutMs / 2);
    EXPECT_EQ(peer.received, (std::vector<std::pair<uint, qulonglong>>{{0x401, 0}, {0x403, 77}}));
    EXPECT_GE(peer.firstAt, 0);
    EXPECT_LT(peer.firstAt, DBusCommandBus::kPeerTimeoutMs / 2);
    // The squatters' calls end after their time limit without effect.
    HandleEventsFor(DBusCommandBus::kPeerTimeoutMs + 500);
    QDBusConnection::disconnectFromBus("peer");
}

// A window whose own name another connection holds (two process namespaces
// on one session bus) takes the next free name under it and says so; other
// windows' commands and sync reach it there, and --toggle finds it.
TEST(CommandBusPeer, AWindowWhoseNameIsTakenAnswersUnderTheNextOne) {
    const QString own = QString(DBusCommandBus::kServicePrefix) + QString::number(::getpid());
    Squatter squatter({own});
    ASSERT_TRUE(squatter.ready());
    std::vector<std::pair<std::uint32_t, std::uint64_t>> taken;
    DBusCommandBus bus({[&](std::uint32_t n, std::int32_t, std::int32_t) {
                            taken.push_back({n, 0});
                        },
                        [] { return false; }, [] { return false; }, [] { return false; }, nullptr,
                        nullptr,
                        [&](std::uint32_t n, std::int32_t, std::int32_t, std::uint64_t stamp) {
                            taken.push_back({n, stamp});
                        },
                        [] { return std::uint64_t{5}; }});
    ASSERT_TRUE(bus.registered());
    EXPECT_EQ(bus.serviceName(), own + "_2");
    EXPECT_EQ(bus.ownNameTaken(), own);

    // Another window's command and sync change, sent to the name it answers under.
    QDBusConnection peer = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "peer");
    QDBusMessage command = QDBusMessage::createMethodCall(bus.serviceName(), DBusCommandBus::kPath,
                                                          DBusCommandBus::kInterface, "Command");
    command << uint{0x401} << 0 << 0;
    QDBusMessage sync = QDBusMessage::createMethodCall(bus.serviceName(), DBusCommandBus::kPath,
                                                       DBusCommandBus::kInterface, "PeerCommand");
    sync << uint{0x403} << 1 << 0 << qulonglong{77};
    peer.asyncCall(command);
    peer.asyncCall(sync);
    HandleEventsFor(300);
    EXPECT_EQ(taken,
              (std::vector<std::pair<std::uint32_t, std::uint64_t>>{{0x401, 0}, {0x403, 77}}));

    // --toggle's search finds it under that name, with its own process number.
    const std::vector<WindowUse> windows = DBusCommandBus::WindowsInUse();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].pid, ::getpid());
    EXPECT_EQ(windows[0].busName, (own + "_2").toStdString());
    EXPECT_EQ(windows[0].lastUsed, 5u);
    QDBusConnection::disconnectFromBus("peer");
}

}  // namespace
}  // namespace skarnel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "dbus_peers_test.moc"
