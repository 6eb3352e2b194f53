// Real-time priority for a thread, asked of RealtimeKit: what the request
// carries, and that a refusal or a missing service changes nothing but the
// log. RealtimeKit is a double on a private session bus (dbus-run-session),
// served by a connection of its own. A process of its own.
#include "platform/realtime_priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <atomic>
#include <thread>

namespace skarnel::testing {
namespace {

class FakeRealtimeKit : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
public:
    bool refuse = false;
    qulonglong thread = 0;
    uint priority = 0;
    int calls = 0;
public slots:
    void MakeThreadRealtime(qulonglong threadId, uint wanted) {
        ++calls;
        thread = threadId;
        priority = wanted;
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, "Operation not permitted");
        }
    }
};

class Service {
public:
    Service() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "rtkit")) {
        EXPECT_TRUE(bus_.registerObject("/org/freedesktop/RealtimeKit1", &kit,
                                        QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus_.registerService("org.freedesktop.RealtimeKit1"));
    }
    ~Service() {
        bus_.unregisterService("org.freedesktop.RealtimeKit1");
        QDBusConnection::disconnectFromBus("rtkit");
    }
    FakeRealtimeKit kit;

private:
    QDBusConnection bus_;
};

struct Answer {
    qint64 thread = -1;
    bool granted = false;
    QString reason;
    bool came = false;
};

// Asks from a thread of its own and waits for the answer.
Answer AskFromAThread(RealtimePriority& realtime, qint64& asker) {
    Answer answer;
    QObject::connect(&realtime, &RealtimePriority::answered, &realtime,
                     [&](qint64 thread, bool granted, const QString& reason) {
                         answer = {thread, granted, reason, true};
                     });
    std::atomic<qint64> id{0};
    std::thread([&] {
        id = static_cast<qint64>(syscall(SYS_gettid));
        realtime.RequestForCallingThread();
    }).join();
    asker = id;
    QElapsedTimer clock;
    clock.start();
    while (!answer.came && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return answer;
}

TEST(RealtimePriority, AsksForTheCallingThreadAndLimitsRealtimeCpuTime) {
    Service service;
    RealtimePriority realtime(true);
    qint64 asker = 0;
    const Answer answer = AskFromAThread(realtime, asker);
    ASSERT_TRUE(answer.came);
    EXPECT_TRUE(answer.granted) << answer.reason.toStdString();
    EXPECT_EQ(answer.thread, asker);
    EXPECT_EQ(service.kit.calls, 1);
    EXPECT_EQ(service.kit.thread, static_cast<qulonglong>(asker));
    EXPECT_NE(asker, static_cast<qint64>(getpid()));  // the thread, not the process
    EXPECT_EQ(service.kit.priority, RealtimePriority::kPriority);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_LE(limit.rlim_cur, static_cast<rlim_t>(RealtimePriority::kRealtimeLimitMicroseconds));
    EXPECT_EQ(realtime.granted(), 1);
}

TEST(RealtimePriority, ARefusalOrNoServiceOnlyTellsTheLog) {
    {
        Service service;
        service.kit.refuse = true;
        RealtimePriority realtime(true);
        qint64 asker = 0;
        const Answer answer = AskFromAThread(realtime, asker);
        ASSERT_TRUE(answer.came);
        EXPECT_FALSE(answer.granted);
        EXPECT_TRUE(answer.reason.contains("not permitted")) << answer.reason.toStdString();
        EXPECT_EQ(realtime.refused(), 1);
    }
    RealtimePriority alone(true);
    qint64 asker = 0;
    const Answer answer = AskFromAThread(alone, asker);
    ASSERT_TRUE(answer.came);
    EXPECT_FALSE(answer.granted);
    EXPECT_EQ(alone.refused(), 1);
}

}  // namespace
}  // namespace skarnel::testing

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "realtime_priority_test.moc"
