// ON, OFF and Pause as the window shows them, start failures, the output
// settings' effect on a running signal, and what the window hands the device.
#include <algorithm>
#include <vector>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "engine/reference_renderer.h"
#include "engine/signal_engine.h"
#include "generator/script_control.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator_fixture.h"
#include "settings/choice_lists.h"

namespace skarnel::testing {
namespace {

class PlaybackTest : public GeneratorTest {
protected:
    // The controls that must not change while a signal plays.
    std::vector<QWidget*> LockedControls() {
        return {List("cboChannels"), List("WaveDevice"), Entry("Duration"), Box("Loop"),
                Entry("AmplitudeLeft")};
    }
    void ExpectLook(bool playing) {
        EXPECT_EQ(window->windowTitle(), playing ? "ON - Skarnel" : "Skarnel");
        EXPECT_EQ(window->findChild<StatusLamp*>("LED")->colour(),
                  playing ? StatusLamp::kPlaying : StatusLamp::kStopped);
        EXPECT_EQ(window->findChild<QPushButton*>("btnOFF")->isDefault(), playing);
        EXPECT_EQ(window->findChild<QPushButton*>("btnON")->isDefault(), !playing);
        EXPECT_EQ(window->scripts().waiting(), playing);
        for (QWidget* control : LockedControls()) {
            EXPECT_EQ(control->isEnabled(), !playing) << control->objectName().toStdString();
        }
        // Unlocked, the right amplitude is greyed with the rest of the right
        // channel in Mono and with "= Left".
        const bool rightOwn =
            List("cboChannels")->currentIndex() == kStereo && !Box("chkAsLeft")->isChecked();
        EXPECT_EQ(Entry("AmplitudeRight")->isEnabled(), !playing && rightOwn);
    }
    bool PauseBold() const { return window->findChild<QPushButton*>("btnPause")->font().bold(); }
};

TEST_F(PlaybackTest, OnOffAndPauseDriveTheWindowsLook) {
    Pick("WaveDevice", 2);
    window->findChild<QPushButton*>("btnON")->click();
    EXPECT_EQ(backend.OpenCount(), 1);
    EXPECT_EQ(backend.LastDeviceIndex(), 1u);
    EXPECT_TRUE(window->audioOut().Running());
    EXPECT_EQ(QApplication::focusWidget(), window->findChild<QPushButton*>("btnOFF"));
    HandleNotifications();
    ExpectLook(true);
    EXPECT_EQ(screenSaver.inhibitCount, 1);

    // A second ON while playing is ignored and leaves the focus where it is.
    window->findChild<QPushButton*>("btnPause")->setFocus();
    window->findChild<QPushButton*>("btnON")->click();
    EXPECT_EQ(QApplication::focusWidget(), window->findChild<QPushButton*>("btnPause"));
    window->findChild<QAction*>("mnuON")->trigger();
    EXPECT_EQ(backend.OpenCount(), 1);
    EXPECT_TRUE(PlayOneBuffer());
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();

    window->findChild<QPushButton*>("btnOFF")->click();
    EXPECT_FALSE(window->audioOut().Running());
    HandleNotifications();
    ExpectLook(false);
    EXPECT_EQ(QApplication::focusWidget(), window->findChild<QPushButton*>("btnON"));
    EXPECT_FALSE(screenSaver.Inhibiting());

    // Pause while stopped only arms the flag; the next start opens paused.
    Pick("WaveDevice", 0);
    window->findChild<QPushButton*>("btnPause")->click();
    EXPECT_TRUE(PauseBold());
    backend.ClearPlayed();
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_EQ(backend.OpenCount(), 2);
    EXPECT_EQ(backend.LastDeviceIndex(), kDefaultWaveDevice);
    EXPECT_TRUE(backend.LastStream()->IsPaused());
    EXPECT_FALSE(PlayOneBuffer());
    EXPECT_TRUE(backend.Played().empty());
    ExpectLook(true);
    EXPECT_TRUE(PauseBold());

    window->findChild<QPushButton*>("btnPause")->click();
    EXPECT_FALSE(PauseBold());
    EXPECT_FALSE(backend.LastStream()->IsPaused());
    EXPECT_TRUE(PlayOneBuffer());
    EXPECT_EQ(backend.Played().size(), 16384u);

    // Paused again, then stopped: the close clears the pause and its caption.
    window->findChild<QPushButton*>("btnPause")->click();
    window->findChild<QAction*>("mnuOFF")->trigger();
    HandleNotifications();
    EXPECT_FALSE(PauseBold());
    EXPECT_FALSE(window->audioOut().Paused());
    ExpectLook(false);
}

// Enter in an entry finishes it first: ON plays the value the entry then
// shows, not the text as typed.
TEST_F(PlaybackTest, EnterInAnEntryPlaysTheFinishedValue) {
    QLineEdit* period = Entry("Duration");
    period->setFocus();
    period->selectAll();
    QTest::keyClicks(period, "0.05");
    QTest::keyClick(period, Qt::Key_Return);
    ASSERT_TRUE(window->audioOut().Running());
    // 0.05 s is below the shortest period; the finished entry holds 0.1 s.
    EXPECT_EQ(window->engine().state.periodSamples, 1103);  // 0.1 s at 11025 Hz
    EXPECT_EQ(period->text(), "0.1");  // the shortest text of the kept float32 value
    EXPECT_EQ(window->model().values().period, "0.1000000015");

    QTest::keyClick(window.get(), Qt::Key_F9);
    HandleNotifications();
    QLineEdit* depth = Entry("ModDepthLeftEdit");
    Box("ModulationOnLeft")->setChecked(true);
    depth->setFocus();
    depth->selectAll();
    QTest::keyClicks(depth, "150");
    QTest::keyClick(depth, Qt::Key_Enter);
    EXPECT_EQ(depth->text(), "100");
    EXPECT_EQ(window->engine().state.channels[kLeft].modDepth, 1.0f);
    EXPECT_TRUE(window->audioOut().Running());
}

TEST_F(PlaybackTest, KeysStartAndStop) {
    // From an entry: the entry passes Enter on to the window.
    Entry("Duration")->setFocus();
    QTest::keyClick(Entry("Duration"), Qt::Key_Return);
    EXPECT_EQ(backend.OpenCount(), 1);
    HandleNotifications();
    ExpectLook(true);

    QTest::keyClick(window.get(), Qt::Key_Return);
    HandleNotifications();
    ExpectLook(false);

    QTest::keyClick(window.get(), Qt::Key_Enter);
    EXPECT_EQ(backend.OpenCount(), 2);
    HandleNotifications();
    // The focus sits on OFF now, which takes Enter itself.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    HandleNotifications();
    ExpectLook(false);

    // The menu's keys: F11 ON, F10 Pause, F9 OFF, Ctrl+Insert toggles.
    QTest::keyClick(window.get(), Qt::Key_F11);
    EXPECT_TRUE(window->audioOut().Running());
    QTest::keyClick(window.get(), Qt::Key_F10);
    EXPECT_TRUE(window->audioOut().Paused());
    QTest::keyClick(window.get(), Qt::Key_F9);
    EXPECT_FALSE(window->audioOut().Running());
    HandleNotifications();
    QTest::keyClick(window.get(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_TRUE(window->audioOut().Running());
    HandleNotifications();
    QTest::keyClick(window.get(), Qt::Key_Insert, Qt::ControlModifier);
    HandleNotifications();
    ExpectLook(false);
    EXPECT_EQ(backend.OpenCount(), 4);

    // While the user types, Ctrl+Z, Ctrl+C and Ctrl+X belong to the entry:
    // they edit its text and neither reset, open Output Settings nor exit.
    QLineEdit* entry = Entry("Duration");
    entry->setFocus();
    entry->selectAll();
    QTest::keyClicks(entry, "42");
    QTest::keyClick(entry, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(entry, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(entry, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(entry->text(), "");
    QTest::keyClick(entry, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(entry->text(), "42");
    EXPECT_FALSE(settings->isVisible());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->findChild<QAction*>("mnuUndoReset")->isEnabled());
}

TEST_F(PlaybackTest, StartFailuresAreReportedAndLeaveTheWindowStopped) {
    // A period that ends inside the first buffer (8192 frames of 16384 bytes).
    TypeAndLeave("Duration", "0.1");
    Box("Loop")->setChecked(false);
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.Last(),
              "For very short signals please decrease the buffer number and size in the "
              "'Compatibility settings' in the 'Options' menu");
    EXPECT_EQ(QApplication::focusWidget(), window->findChild<QPushButton*>("btnOFF"));
    HandleNotifications();
    ExpectLook(false);
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_FALSE(window->audioOut().DeviceOpen());

    // One second outlasts the first buffer: it plays, runs out and stops by itself.
    TypeAndLeave("Duration", "1");
    window->findChild<QPushButton*>("btnON")->click();
    EXPECT_EQ(dialogs.shown.size(), 1);
    HandleNotifications();
    ExpectLook(true);
    int played = 0;
    while (played < 8 && PlayOneBuffer()) {
        ++played;
    }
    EXPECT_EQ(played, 4);  // the start's buffers; no refill after the period
    ExpectLook(false);
    EXPECT_FALSE(window->audioOut().Running());

    backend.FailNextOpen(kDeviceAllocated);
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.Last(), "Sound Device Error: \r" +
                                  QString::fromStdString(backend.ErrorText(kDeviceAllocated)));
    EXPECT_FALSE(backend.ErrorText(kDeviceAllocated).empty());
    HandleNotifications();
    ExpectLook(false);
}

TEST_F(PlaybackTest, OutputSettingsChangesStopTheSignal) {
    QComboBox* const boxes[] = {settings->ui.cboQuant, settings->ui.cboBuffers,
                                settings->ui.cboBufferSize, settings->ui.cboFsList};
    for (QComboBox* box : boxes) {
        window->findChild<QPushButton*>("btnON")->click();
        HandleNotifications();
        ASSERT_TRUE(window->audioOut().Running()) << box->objectName().toStdString();
        // The same item again still counts as a change.
        emit box->activated(box->currentIndex());
        EXPECT_FALSE(window->audioOut().Running()) << box->objectName().toStdString();
        HandleNotifications();
        ExpectLook(false);
    }

    // Opening the dialog stops as well; closing it enables the window again.
    window->findChild<QPushButton*>("btnON")->click();
    window->findChild<QAction*>("mnuOutputSettings")->trigger();
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_TRUE(settings->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([this] { return settings->isActiveWindow(); }));
    window->setEnabled(false);

    // The next start takes the new format: 44100 Hz, 8 bits, two buffers of 4096.
    settings->ui.cboFsList->setCurrentIndex(3);
    emit settings->ui.cboFsList->activated(3);
    EXPECT_EQ(window->engine().state.sampleRate, 44100);
    settings->close();
    EXPECT_TRUE(window->isEnabled());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->isActiveWindow(); }));
    EXPECT_EQ(window->findChild<QLabel*>("lblFS")->text(), "fs=44.1kHz");
    HandleNotifications();
    settings->ui.cboQuant->setCurrentIndex(0);
    settings->ui.cboBuffers->setCurrentIndex(0);
    settings->ui.cboBufferSize->setCurrentIndex(0);
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_EQ(backend.OpenCount(), 6);
    const WaveFormat& format = backend.LastStream()->format();
    EXPECT_EQ(format.samplesPerSec, 44100u);
    EXPECT_EQ(format.bitsPerSample, 8);
    EXPECT_EQ(backend.LastStream()->QueuedCount(), 2u);
    EXPECT_EQ(window->engine().state.periodSamples, 10 * 44100);

    // Stereo at 24 bits plays whole frames only: 4096 bytes hold 682 of 6.
    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    Pick("cboChannels", kStereo);
    settings->ui.cboQuant->setCurrentIndex(2);
    window->findChild<QPushButton*>("btnON")->click();
    backend.ClearPlayed();
    EXPECT_TRUE(PlayOneBuffer());
    EXPECT_EQ(backend.Played().size(), 4092u);
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
}

// The window's output is what a signal engine renders from the same settings.
TEST_F(PlaybackTest, PlayedSamplesAreTheEnginesRendering) {
    Pick("cboChannels", kStereo);
    Pick("WaveFormLeft", kWhiteNoise);
    Pick("cboCrestFactorL", 2);
    TypeAndLeave("AmplitudeLeft", "-6");
    Box("ModulationOnRight")->setChecked(true);
    TypeAndLeave("ModPeriodRightEdit", "0.25");
    TypeAndLeave("ModDepthRightEdit", "50");
    TypeAndLeave("ModPhaseRightEdit", "90");
    Entry("txtFZeroR")->setText("2000");
    Entry("txtQR")->setText("0.7");
    Pick("cboFilterTypeR1", kFilterLowPass);  // designs with Q 0.7 once, then shows "1"

    UniformRandom random(ProcessRandom().seed());
    SignalEngine reference(random);
    reference.state.sampleRate = 11025;
    reference.live.channelMode = kStereo;
    reference.live.loop = true;
    reference.live.noiseFunction = {kWhiteNoise, kPinkNoise};
    reference.live.modulationOn = {false, true};
    reference.live.modFunction = {kModSine, kModSine};
    reference.live.filterType = {kFilterNone, kFilterLowPass};
    PrepareEngine(reference.state, reference.live,
                  // The start designs the low pass with the Q the entry shows now.
                  {"10", {FilterTexts{"1000", "1", "0"}, FilterTexts{"2000", "1", "0"}}}, nullptr);
    ChannelEngineState& left = reference.state.left();
    ChannelEngineState& right = reference.state.right();
    left.linearAmplitude = LinearAmplitude(-6.0L);
    left.crestExponent = kCrestExponentsWhite[2];
    right.crestExponent = kCrestExponentsPink[4];
    right.modPeriod = 0.25f;
    right.modDepth = ModDepthFraction(50.0L);
    right.modPhase = ModPhaseRadians(90.0L);

    backend.ClearPlayed();
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ExpectLook(true);
    constexpr int kBuffers = 6;  // the four of the start and two refills
    for (int i = 0; i < kBuffers; ++i) {
        ASSERT_TRUE(PlayOneBuffer()) << i;
    }
    std::vector<std::uint8_t> expected(kBuffers * 16384);
    for (int i = 0; i < kBuffers; ++i) {
        ASSERT_EQ(reference.FillBlock(expected.data() + i * 16384, 16384), BlockStatus::kPlay);
    }
    const std::vector<std::uint8_t> played = backend.Played();
    ASSERT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected);
    EXPECT_EQ(Entry("txtQR")->text(), "1");

    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    ExpectLook(false);
}

}  // namespace
}  // namespace skarnel::testing

namespace skarnel::testing {
namespace {

// Without Loop every frame of the period is played: the block that holds the
// period's last frames too (with silence after them), then playback ends.
TEST_F(PlaybackTest, APeriodWithoutLoopPlaysToItsLastFrame) {
    Box("Loop")->setChecked(false);
    TypeAndLeave("Duration", "10");
    const std::size_t periodBytes = 10 * 11025 * 2;  // mono, 16-bit
    const std::size_t bufferBytes = 16384;

    UniformRandom random(ProcessRandom().seed());
    SignalEngine reference(random);
    reference.state.sampleRate = 11025;
    reference.live.loop = false;
    reference.live.noiseFunction = {kPinkNoise, kPinkNoise};
    PrepareEngine(reference.state, reference.live,
                  {"10", {FilterTexts{"1000", "1", "0"}, FilterTexts{"1000", "1", "0"}}}, nullptr);
    reference.state.left().crestExponent = kCrestExponentsPink[4];
    std::vector<std::uint8_t> expected;
    std::vector<std::uint8_t> block(bufferBytes);
    BlockStatus status = BlockStatus::kPlay;
    while (status == BlockStatus::kPlay) {
        status = reference.FillBlock(block.data(), block.size());
        expected.insert(expected.end(), block.begin(), block.end());
    }
    ASSERT_GT(expected.size(), periodBytes);

    backend.ClearPlayed();
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    int buffers = 0;
    while (buffers < 40 && PlayOneBuffer()) {
        ++buffers;
    }
    EXPECT_FALSE(window->audioOut().Running());
    const std::vector<std::uint8_t> played = backend.Played();
    EXPECT_EQ(buffers, 14);  // 110250 frames in buffers of 8192
    ASSERT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected);
    EXPECT_TRUE(std::all_of(played.begin() + periodBytes, played.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_NE(played[periodBytes - 1] | played[periodBytes - 2], 0);
}

}  // namespace
}  // namespace skarnel::testing

namespace skarnel::testing {
namespace {

// White 1.42:1 through a 1 kHz high pass at 0 dBFS lifts about one sample in
// twenty past full scale: at 8, 16 and 24 bits the device gets each of them
// clipped to the nearest end of the range (in its own width) and every other
// sample as the unclipped computation gives it.
TEST_F(PlaybackTest, SamplesPastFullScalePlayClippedAtEveryWidth) {
    Pick("cboChannels", kMono);
    Pick("WaveFormLeft", kWhiteNoise);
    Pick("cboCrestFactorL", 0);
    Entry("txtFZeroL")->setText("1000");
    Pick("cboFilterTypeL1", kFilterHighPass);
    settings->ui.cboFsList->setCurrentIndex(SampleRateItem(48000));
    emit settings->ui.cboFsList->activated(settings->ui.cboFsList->currentIndex());
    for (const int bits : {8, 16, 24}) {
        settings->ui.cboQuant->setCurrentIndex(bits == 8 ? 0 : bits == 16 ? 1 : 2);
        UniformRandom random(ProcessRandom().seed());
        backend.ClearPlayed();
        window->findChild<QPushButton*>("btnON")->click();
        HandleNotifications();
        ASSERT_EQ(backend.LastStream()->format().bitsPerSample, bits);
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(PlayOneBuffer()) << bits << " bits, buffer " << i;
        }
        // The engine as the start copied it, before its first frame.
        SignalEngine reference(random);
        reference.state = window->engine().state;
        reference.live = window->engine().live;
        const std::vector<std::uint8_t> played = backend.Played();
        const std::size_t width = static_cast<std::size_t>(bits) / 8;
        ASSERT_GT(played.size(), 60000u);
        std::uint64_t clipped = 0;
        for (std::size_t i = 0; i < played.size() / width; ++i) {
            const std::int64_t unclipped = ReferenceRenderSample(reference, kWhiteNoise);
            AdvanceFrameCounter(reference.state.sampleCounter);
            const auto sample =
                static_cast<std::int16_t>(std::clamp<std::int64_t>(unclipped, -32768, 32767));
            clipped += static_cast<std::uint64_t>(sample != unclipped);
            const std::uint8_t* at = &played[i * width];
            if (bits == 8) {
                ASSERT_EQ(at[0], static_cast<std::uint8_t>((sample >> 8) + 128)) << i;
            } else {
                if (bits == 24) {
                    ASSERT_EQ(at[0], 0) << i;
                    ++at;
                }
                ASSERT_EQ(static_cast<std::int16_t>(at[0] | (at[1] << 8)), sample)
                    << bits << " bits, sample " << i << ", unclipped " << unclipped;
            }
        }
        EXPECT_GT(clipped, played.size() / width / 100) << bits << " bits";
        window->findChild<QPushButton*>("btnOFF")->click();
        HandleNotifications();
    }
}

}  // namespace
}  // namespace skarnel::testing
