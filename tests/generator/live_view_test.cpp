// The live view against a separate analyzer fed with exactly the bytes the
// device got: its figures while playing, frozen while paused, cleared when
// stopped; and the View menu's choice kept across a close and a new start.
#include "generator/live_view.h"

#include <QScreen>

#include "analysis/level_text.h"
#include "analysis/signal_analyzer.h"
#include "app/window_settings.h"
#include "generator/live_view_drawing.h"
#include "generator_fixture.h"
#include "persistence/settings_store.h"
#include "settings/choice_lists.h"

namespace skarnel::testing {
namespace {

const QString kDash = QString::fromUtf8("\u2014");

class LiveViewTest : public GeneratorTest {
protected:
    LiveView* View() { return window->liveView(); }

    // The output format: 48 kHz, `bits`, 8192-byte buffers.
    void ChooseOutput(int bits) {
        settings->ui.cboFsList->setCurrentIndex(SampleRateItem(48000));
        emit settings->ui.cboFsList->activated(settings->ui.cboFsList->currentIndex());
        settings->ui.cboQuant->setCurrentIndex(bits == 8 ? 0 : bits == 16 ? 1 : 2);
        settings->ui.cboBufferSize->setCurrentIndex(1);
    }
    // Plays buffers until `seconds` of the signal reached the device.
    void PlayFor(double seconds) {
        const WaveFormat& format = backend.LastStream()->format();
        const auto bytes = static_cast<std::size_t>(seconds * format.avgBytesPerSec);
        for (int i = 0; i < 1000 && backend.Played().size() < bytes; ++i) {
            ASSERT_TRUE(PlayOneBuffer());
        }
    }
    // What the device got so far: played and still queued (the window
    // measures a buffer as it fills it).
    SignalAnalyzer DeviceGot() {
        const WaveFormat& format = backend.LastStream()->format();
        SignalAnalyzer analyzer(
            {static_cast<int>(format.samplesPerSec), format.channels, format.bitsPerSample});
        std::vector<std::uint8_t> bytes = backend.Played();
        const std::vector<std::uint8_t> queued = backend.LastStream()->QueuedBytes();
        bytes.insert(bytes.end(), queued.begin(), queued.end());
        analyzer.Feed(bytes.data(), bytes.size());
        return analyzer;
    }
    static QStringList Expected(const SignalAnalyzer& analyzer, int channel) {
        const LevelFigures f = analyzer.meter(channel).SinceReset();
        const auto text = [](const std::string& s) { return QString::fromStdString(s); };
        return {"RMS " + text(DbfsText(f.rmsDbfs)) + " dBFS",
                "Peak " + text(DbfsText(f.peakDbfs)) + " dBFS",
                "Crest " + text(CrestRatioText(f.crestRatio)) + " (" + text(DbfsText(f.crestDb)) +
                    " dB)"};
    }
    static std::vector<double> Bands(const SignalAnalyzer& analyzer, int channel) {
        std::vector<double> levels;
        analyzer.spectrum(channel).BandLevels(SpectrumAnalyzer::Average::kRecent, levels);
        return levels;
    }
    // Gives the view's timer time to run a few times.
    static void LetTheViewRefresh() { QTest::qWait(4 * LiveView::kRefreshMs); }
    // The view shows what `analyzer` measured, channel by channel.
    void ExpectShows(const SignalAnalyzer& analyzer) {
        for (int c = 0; c < analyzer.format().channels; ++c) {
            EXPECT_EQ(View()->ShownTexts(c), Expected(analyzer, c)) << "channel " << c;
            EXPECT_EQ(View()->ShownBands(c), Bands(analyzer, c)) << "channel " << c;
        }
    }
};

// Stereo at 16 bits with the right channel 20 dB lower: each channel's
// figures and bands are those of its own bytes; pause freezes them, ON again
// follows the signal, OFF clears the view.
TEST_F(LiveViewTest, ShowsWhatTheDeviceGotFrozenWhilePausedClearedWhenStopped) {
    ChooseOutput(16);
    Pick("cboChannels", kStereo);
    if (!Box("RightTick")->isChecked()) {
        Box("RightTick")->click();
    }
    TypeAndLeave("AmplitudeLeft", "-6");
    TypeAndLeave("AmplitudeRight", "-26");
    ASSERT_TRUE(View()->isVisible());
    EXPECT_EQ(View()->ShownTexts(0).value(0), "RMS " + kDash);

    window->OnCommand();
    ASSERT_TRUE(window->audioOut().Running());
    PlayFor(1.2);
    LetTheViewRefresh();
    const SignalAnalyzer first = DeviceGot();
    ASSERT_EQ(first.format().channels, 2);
    EXPECT_EQ(View()->channels(), 2);
    ExpectShows(first);
    const LevelFigures left = first.meter(0).SinceReset();
    const LevelFigures right = first.meter(1).SinceReset();
    ASSERT_FALSE(left.silent);
    EXPECT_NEAR(left.rmsDbfs - right.rmsDbfs, 20.0, 0.5);
    EXPECT_FALSE(View()->ShownBands(0).empty());

    window->PauseCommand();
    ASSERT_TRUE(window->audioOut().Paused());
    const QStringList frozen = View()->ShownTexts(0);
    EXPECT_FALSE(PlayOneBuffer());
    LetTheViewRefresh();
    EXPECT_FALSE(View()->refreshing());
    EXPECT_EQ(View()->ShownTexts(0), frozen);
    ExpectShows(DeviceGot());

    window->PauseCommand();
    PlayFor(2.5);
    LetTheViewRefresh();
    ExpectShows(DeviceGot());

    window->OffCommand();
    HandleNotifications();
    ASSERT_FALSE(window->audioOut().Running());
    for (int c : {0, 1}) {
        EXPECT_EQ(View()->ShownTexts(c),
                  QStringList({"RMS " + kDash, "Peak " + kDash, "Crest " + kDash}));
        EXPECT_TRUE(View()->ShownBands(c).empty());
    }
    EXPECT_FALSE(View()->refreshing());
}

// A period that ends inside a block: the figures since ON are those of the
// period's frames, not of the silence that pads its last block.
TEST_F(LiveViewTest, TheFiguresSinceOnLeaveOutThePaddingAfterThePeriod) {
    ChooseOutput(16);
    Pick("cboChannels", kMono);
    TypeAndLeave("Duration", "0.5");  // 24000 frames: the sixth block of 4096 ends it
    Box("Loop")->setChecked(false);
    window->OnCommand();
    ASSERT_TRUE(window->audioOut().Running());
    ASSERT_TRUE(PlayOneBuffer());
    ASSERT_TRUE(PlayOneBuffer());
    LetTheViewRefresh();
    std::vector<std::uint8_t> bytes = backend.Played();
    const std::vector<std::uint8_t> queued = backend.LastStream()->QueuedBytes();
    bytes.insert(bytes.end(), queued.begin(), queued.end());
    ASSERT_EQ(bytes.size(), 6u * 8192u);
    SignalAnalyzer period({48000, 1, 16});
    period.Feed(bytes.data(), 2 * 24000);
    ExpectShows(period);
    window->OffCommand();
}

// A mono 8-bit device plays each sample's high byte: the view measures that,
// one channel, and a new start begins its figures again.
TEST_F(LiveViewTest, MeasuresAnEightBitMonoDeviceInItsOwnWidthFromEachStart) {
    ChooseOutput(8);
    Pick("cboChannels", kMono);
    TypeAndLeave("AmplitudeLeft", "-30");
    window->OnCommand();
    ASSERT_EQ(backend.LastStream()->format().bitsPerSample, 8);
    PlayFor(1.0);
    LetTheViewRefresh();
    EXPECT_EQ(View()->channels(), 1);
    EXPECT_TRUE(View()->ShownTexts(1).isEmpty());
    ExpectShows(DeviceGot());

    window->OffCommand();
    backend.ClearPlayed();
    TypeAndLeave("AmplitudeLeft", "-10");
    window->OnCommand();
    PlayFor(0.5);
    LetTheViewRefresh();
    // Only the second start's bytes: the figures began again.
    ExpectShows(DeviceGot());
}

// View > Live View (F12) hides the view; the choice is stored when the
// window closes and read at the next start, and a store without it shows it.
TEST_F(LiveViewTest, TheViewMenuHidesItAndTheChoiceIsKept) {
    QAction* entry = window->findChild<QAction*>("mnuLiveView");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->isChecked());
    const int viewHeight = View()->height();
    const int shownHeight = window->height();
    QTest::keyClick(window.get(), Qt::Key_F12);
    QApplication::processEvents();
    EXPECT_FALSE(entry->isChecked());
    EXPECT_FALSE(View()->isVisible());
    // The window gives the view's height back rather than keep an empty band.
    EXPECT_LE(window->height(), shownHeight - viewHeight);
    EXPECT_GE(window->height(), window->minimumSizeHint().height());
    const int hiddenHeight = window->height();
    // Shown again, it grows back where the screen has room...
    QTest::keyClick(window.get(), Qt::Key_F12);
    QApplication::processEvents();
    EXPECT_EQ(window->height(), shownHeight);
    // ...and only down to the screen's bottom edge where it has not.
    QTest::keyClick(window.get(), Qt::Key_F12);
    QApplication::processEvents();
    const QRect screen = window->screen()->availableGeometry();
    window->move(window->x(), screen.bottom() - window->frameGeometry().height() - 20);
    QApplication::processEvents();
    QTest::keyClick(window.get(), Qt::Key_F12);
    QApplication::processEvents();
    EXPECT_GT(window->height(), hiddenHeight);
    EXPECT_EQ(window->frameGeometry().bottom(), screen.bottom());
    QTest::keyClick(window.get(), Qt::Key_F12);
    QApplication::processEvents();
    MemorySettingsStore store;
    ConnectSettingsStore(store, *window, *settings);
    window->close();
    std::int32_t stored = -1;
    ASSERT_EQ(store.Load(SettingsKeyPath())->ReadInteger("LiveView", stored), ReadStatus::kOk);
    EXPECT_EQ(stored, 0);

    const auto started = [this](SettingsStore& from) {
        auto next = std::make_unique<GeneratorWindow>(backend, dialogs, screenSaver);
        auto* nextSettings = new OutputSettingsDialog(next.get());
        next->SetSettingsDialog(nextSettings);
        LoadSettings(from, *next, *nextSettings);
        next->show();
        QApplication::processEvents();
        const bool shown = next->liveView()->isVisible();
        EXPECT_EQ(next->findChild<QAction*>("mnuLiveView")->isChecked(), shown);
        return shown;
    };
    EXPECT_FALSE(started(store));
    MemorySettingsStore empty;
    EXPECT_TRUE(started(empty));
    store.Save(SettingsKeyPath(), {FlagValue("LiveView", true)});
    EXPECT_TRUE(started(store));
}

// One second of a square wave of `level` (0..32767) on both channels.
std::vector<std::int16_t> SquareSecond(std::int16_t level) {
    std::vector<std::int16_t> frames(2 * 48000);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = (i / 2 / 24) % 2 == 0 ? level : static_cast<std::int16_t>(-level);
    }
    return frames;
}

// The view redraws only what changed, over its own background: on the
// screen (not a fresh picture of the widget) a meter that falls from 0 to
// -40 dBFS leaves nothing of its old bar behind, and rises again.
TEST(LiveViewOnScreen, AMeterThatFallsLeavesNothingOfItsOldBar) {
    LiveView view;
    SignalAnalyzer analyzer({48000, 2, 16});
    view.Follow(&analyzer);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QColor channel = ChannelColour(view.palette(), 0);
    const QRect bar = view.MeterBar(0);
    // The bar's upper half at a level, clear of the ticks along its bottom.
    const auto at = [&bar](double db) {
        const double share = (db - LiveView::kMeterFloorDb) / -LiveView::kMeterFloorDb;
        return QPoint(bar.left() + static_cast<int>(share * bar.width()), bar.top() + 3);
    };
    const auto onScreen = [&view](QPoint point) {
        QApplication::processEvents();
        const QImage shot = view.screen()->grabWindow(view.winId()).toImage();
        return shot.pixelColor(point * shot.devicePixelRatio());
    };

    const auto feed = [&](std::int16_t level) {
        const std::vector<std::int16_t> second = SquareSecond(level);
        analyzer.Feed(second.data(), second.size() / 2);
        view.Refresh();
    };
    feed(32767);
    EXPECT_EQ(onScreen(at(-5)), channel);
    feed(328);  // -40 dBFS
    EXPECT_EQ(onScreen(at(-45)), channel);
    EXPECT_NE(onScreen(at(-20)), channel);
    EXPECT_NE(onScreen(at(-5)), channel);
    feed(32767);
    EXPECT_EQ(onScreen(at(-5)), channel);
}

}  // namespace
}  // namespace skarnel::testing
