// Output devices that fail: refused opens and writes, a device that stops
// returning buffers, and late buffers arriving in a flood. Each ends with the
// window Stopped (or playing the new start) and no buffer left on a device.
#include <QElapsedTimer>

#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

class DeviceFaultsTest : public GeneratorTest {
protected:
    bool LooksPlaying() {
        return window->findChild<StatusLamp*>("LED")->colour() == StatusLamp::kPlaying &&
               window->windowTitle() == "ON - Skarnel" &&
               window->findChild<QPushButton*>("btnOFF")->isDefault() &&
               !Entry("Duration")->isEnabled();
    }
    bool LooksStopped() {
        return window->findChild<StatusLamp*>("LED")->colour() == StatusLamp::kStopped &&
               window->windowTitle() == "Skarnel" &&
               window->findChild<QPushButton*>("btnON")->isDefault() &&
               Entry("Duration")->isEnabled();
    }
    void ExpectNoBufferLost() {
        EXPECT_FALSE(window->audioOut().DeviceHeld());
        EXPECT_EQ(backend.LastStream(), nullptr);
        EXPECT_EQ(backend.BuffersWritten(), backend.BuffersReturned() + backend.BuffersDropped());
    }
};

TEST_F(DeviceFaultsTest, RefusedOpenAndFailingWritesEndStopped) {
    backend.FailNextOpen(kDeviceAllocated);
    window->findChild<QPushButton*>("btnON")->click();
    backend.FailAllWrites(SimulatedBackend::kInjectedFailure);
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0], "Sound Device Error: \r" +
                                    QString::fromStdString(backend.ErrorText(kDeviceAllocated)));
    EXPECT_EQ(dialogs.shown[1], "Sound Device Error: \rThe simulated device failed on request.");
    HandleNotifications();
    EXPECT_TRUE(LooksStopped());
    EXPECT_EQ(QApplication::focusWidget(), window->findChild<QPushButton*>("btnOFF"));
    ExpectNoBufferLost();

    // A device that goes away while playing: what it holds plays out, then
    // the window stops by itself and says why, once the notification that
    // ended playback has been handled.
    backend.FailAllWrites(kDeviceOk);
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_TRUE(LooksPlaying());
    backend.FailAllWrites(kDeviceNoDriver);
    int played = 0;
    while (played < 8 && PlayOneBuffer()) {
        ++played;
    }
    EXPECT_EQ(played, 4);
    EXPECT_TRUE(LooksStopped());
    EXPECT_EQ(dialogs.shown.size(), 2);
    QApplication::processEvents();
    ASSERT_EQ(dialogs.shown.size(), 3);
    EXPECT_EQ(dialogs.shown[2], "Sound Device Error: \r" +
                                    QString::fromStdString(backend.ErrorText(kDeviceNoDriver)));
    ExpectNoBufferLost();

    // A start after that reports nothing old.
    backend.FailAllWrites(kDeviceOk);
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_TRUE(LooksPlaying());
    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    QApplication::processEvents();
    EXPECT_TRUE(LooksStopped());
    EXPECT_EQ(dialogs.shown.size(), 3);
}

// A sound server that goes away while playing takes every queued buffer
// back at once: the window reaches Stopped at once and says why, where it
// used to wait for buffers that never came.
TEST_F(DeviceFaultsTest, AHostThatGoesAwayEndsPlaybackWithTheReason) {
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_TRUE(LooksPlaying());
    ASSERT_TRUE(PlayOneBuffer());
    backend.LastStream()->FailHost(SimulatedBackend::kInjectedFailure);
    HandleNotifications();
    EXPECT_TRUE(LooksStopped());
    ExpectNoBufferLost();
    EXPECT_TRUE(dialogs.shown.isEmpty());
    QApplication::processEvents();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0], "Sound Device Error: \rThe simulated device failed on request.");
    EXPECT_FALSE(screenSaver.Inhibiting());
}

// The device plays in real time and the window's own event loop handles its
// notifications. When the device hangs (takes buffers, returns none, not even
// on reset), the window goes on answering and OFF brings it to Stopped.
TEST_F(DeviceFaultsTest, OffStopsADeviceThatStoppedReturningBuffers) {
    backend.SetPaced(true);
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return LooksPlaying(); }));
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->audioOut().DoneCount() > 0; }, 5000));
    backend.LastStream()->StopReturningBuffers(true);
    QTest::qWait(50);  // a buffer returned just before is handled
    const int done = window->audioOut().DoneCount();
    QTest::qWait(200);
    EXPECT_EQ(window->audioOut().DoneCount(), done);

    QTest::keyClick(window.get(), Qt::Key_F10);  // input is still handled
    EXPECT_TRUE(window->findChild<QPushButton*>("btnPause")->font().bold());
    EXPECT_TRUE(LooksPlaying());

    QElapsedTimer timer;
    timer.start();
    window->findChild<QPushButton*>("btnOFF")->click();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(QTest::qWaitFor([this] { return LooksStopped(); }, 2000));
    EXPECT_FALSE(window->findChild<QPushButton*>("btnPause")->font().bold());
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_EQ(backend.BuffersDropped(), 4);
    ExpectNoBufferLost();

    // The next start plays on a new device.
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return LooksPlaying(); }));
    EXPECT_EQ(backend.OpenCount(), 2);
    window->findChild<QPushButton*>("btnOFF")->click();
    EXPECT_TRUE(QTest::qWaitFor([this] { return LooksStopped(); }));
    ExpectNoBufferLost();
}

// The period has ended and the window waits for the device to hand back the
// buffers that were queued unfilled; it hangs instead. OFF still stops it.
TEST_F(DeviceFaultsTest, OffStopsAHangingDeviceAfterThePeriodEnded) {
    TypeAndLeave("Duration", "1");
    Box("Loop")->setChecked(false);
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_TRUE(PlayOneBuffer());
    EXPECT_FALSE(window->audioOut().Running());
    ASSERT_TRUE(window->audioOut().DeviceHeld());
    backend.LastStream()->StopReturningBuffers(true);
    EXPECT_FALSE(PlayOneBuffer());
    EXPECT_TRUE(LooksPlaying());  // the device has not closed

    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    EXPECT_TRUE(LooksStopped());
    ExpectNoBufferLost();
}

// OFF and ON pressed again and again before the window gets to the device's
// notifications: they all arrive at once, and the window ends up playing the
// last start with nothing of the earlier ones counted.
TEST_F(DeviceFaultsTest, AFloodOfLateNotificationsEndsWithTheLastStartPlaying) {
    window->findChild<QPushButton*>("btnON")->click();
    for (int i = 0; i < 10; ++i) {
        backend.LastStream()->CompleteHead();
        window->findChild<QPushButton*>("btnOFF")->click();
        window->findChild<QPushButton*>("btnON")->click();
    }
    EXPECT_EQ(backend.OpenCount(), 11);
    HandleNotifications();
    EXPECT_TRUE(LooksPlaying());
    EXPECT_EQ(window->audioOut().DoneCount(), 0);
    EXPECT_EQ(backend.LastStream()->QueuedCount(), 4u);
    EXPECT_TRUE(PlayOneBuffer());
    EXPECT_EQ(backend.LastStream()->QueuedCount(), 4u);  // refilled once, not more
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();

    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    EXPECT_TRUE(LooksStopped());
    ExpectNoBufferLost();
}

}  // namespace
}  // namespace skarnel::testing
