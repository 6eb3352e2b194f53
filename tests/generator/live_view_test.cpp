// The live view against a separate analyzer fed with exactly the bytes the
// device got: its figures while playing, frozen while paused, cleared when
// stopped; and the View menu's choice kept across a close and a new start.
#include "generator/live_view.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "analysis/level_text.h"
#include "analysis/signal_analyzer.h"
#include "app/window_settings.h"
#include "engine/reference_renderer.h"
#include "engine/uniform_random.h"
#include "generator/live_view_drawing.h"
#include "generator/window_commands.h"
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
    // What the device has played so far: the view measures a block when it
    // is heard, not when it is made.
    SignalAnalyzer DeviceGot() {
        const WaveFormat& format = backend.LastStream()->format();
        SignalAnalyzer analyzer(
            {static_cast<int>(format.samplesPerSec), format.channels, format.bitsPerSample});
        const std::vector<std::uint8_t> bytes = backend.Played();
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
    // A new window loaded from `from` as at start-up, and shown.
    std::unique_ptr<GeneratorWindow> StartShown(SettingsStore& from) {
        auto next = std::make_unique<GeneratorWindow>(backend, dialogs, screenSaver);
        auto* nextSettings = new OutputSettingsDialog(next.get());
        next->SetSettingsDialog(nextSettings);
        LoadSettings(from, *next, *nextSettings);
        next->show();
        QApplication::processEvents();
        return next;
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
// period's frames, not of the silence that pads its last block, and of what
// has been heard, not of what is made ahead of it.
TEST_F(LiveViewTest, TheFiguresSinceOnAreThePeriodsFramesAsTheyAreHeard) {
    ChooseOutput(16);
    Pick("cboChannels", kMono);
    TypeAndLeave("Duration", "0.5");  // 24000 frames: the sixth block of 4096 ends it
    Box("Loop")->setChecked(false);
    window->OnCommand();
    ASSERT_TRUE(window->audioOut().Running());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(PlayOneBuffer());
    }
    LetTheViewRefresh();
    ExpectShows(DeviceGot());  // 20480 frames heard of the 24576 made
    // All of the sixth block but its last frame: the period and the padding.
    ASSERT_TRUE(backend.LastStream()->PlayBytes(8190));
    HandleNotifications();
    ASSERT_TRUE(window->audioOut().Running());
    LetTheViewRefresh();
    const std::vector<std::uint8_t> bytes = backend.Played();
    ASSERT_EQ(bytes.size(), 6u * 8192u - 2u);
    SignalAnalyzer period({48000, 1, 16});
    period.Feed(bytes.data(), 2 * 24000);
    ExpectShows(period);
    window->OffCommand();
}

// The meters follow the ear: on a device that plays in real time, a level
// change shows in the view's peak within 100 ms of the first loud sample
// reaching the device, at the first start's buffers (11025 Hz mono, 4 x
// 16384 bytes: 3 s ahead of the ear) and at 48 kHz stereo.
TEST_F(LiveViewTest, ALevelChangeReachesTheMeterAsItIsHeard) {
    using Clock = std::chrono::steady_clock;
    struct Case {
        int rate;
        int mode;
    };
    for (const Case c : {Case{11025, kMono}, Case{48000, kStereo}}) {
        SCOPED_TRACE(std::to_string(c.rate) + (c.mode == kMono ? " mono" : " stereo"));
        backend.SetPaced(true);
        settings->ui.cboFsList->setCurrentIndex(SampleRateItem(c.rate));
        emit settings->ui.cboFsList->activated(settings->ui.cboFsList->currentIndex());
        settings->ui.cboBufferSize->setCurrentIndex(2);  // 16384 bytes
        Pick("cboChannels", c.mode);
        Pick("WaveFormLeft", kWhiteNoise);
        TypeAndLeave("AmplitudeLeft", "-40");
        Box("Loop")->setChecked(true);
        backend.ClearPlayed();  // the recording starts with this stream's first frame
        window->OnCommand();
        ASSERT_TRUE(window->audioOut().Running());
        // A second of the quiet level is heard and shown.
        QTest::qWait(1000);
        // "Peak -40.0 dBFS": the number, or nothing while the view shows none.
        const auto peak = [this]() -> std::optional<double> {
            const QStringList words = View()->ShownTexts(0).value(1).split(' ');
            bool ok = false;
            const double value = words.value(1).toDouble(&ok);
            return ok ? std::optional<double>(value) : std::nullopt;
        };
        ASSERT_TRUE(peak().has_value());
        ASSERT_LT(*peak(), -30.0);

        const std::size_t before = backend.PlayedSize();
        window->ExecuteCommand(kCommandAmplitudeL, 0, 0);
        const std::size_t frameBytes = c.mode == kMono ? 2 : 4;
        std::size_t scanned = before - before % frameBytes;
        std::optional<Clock::time_point> reachedDevice, reachedMeter;
        const auto deadline = Clock::now() + std::chrono::seconds(6);
        while (!(reachedDevice && reachedMeter) && Clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            // The simulated clock plays what is due whenever it is asked:
            // asked here, the recording is never more than a pass behind.
            backend.LastStream()->PlayedBytes();
            if (!reachedDevice) {
                const std::vector<std::uint8_t> fresh = backend.PlayedFrom(scanned);
                for (std::size_t i = 0; i + 1 < fresh.size(); i += frameBytes) {
                    const auto s = static_cast<std::int16_t>(fresh[i] | (fresh[i + 1] << 8));
                    if (std::abs(s) > 3000) {  // -20 dBFS: far above -40 dBFS noise
                        reachedDevice = Clock::now();
                        break;
                    }
                }
                scanned += fresh.size() - fresh.size() % frameBytes;
            }
            if (!reachedMeter && peak().value_or(-100.0) > -20.0) {
                reachedMeter = Clock::now();
            }
        }
        ASSERT_TRUE(reachedDevice.has_value());
        ASSERT_TRUE(reachedMeter.has_value());
        const auto lag =
            std::chrono::duration_cast<std::chrono::milliseconds>(*reachedMeter - *reachedDevice);
        std::printf("the meter followed the device after %lld ms\n",
                    static_cast<long long>(lag.count()));
        EXPECT_LE(lag.count(), 100);
        EXPECT_GE(lag.count(), -20) << "the meter ran ahead of the device";
        window->OffCommand();
        HandleNotifications();
        backend.SetPaced(false);
    }
}

// The figures since ON of a whole period are those skarnel-render states for
// the same period: the same frames, the padding after the period left out.
TEST_F(LiveViewTest, AWholePeriodShowsWhatSkarnelRenderStates) {
    ChooseOutput(16);
    Pick("cboChannels", kMono);
    Pick("WaveFormLeft", kPinkNoise);
    Pick("cboCrestFactorL", 4);  // 6:1
    TypeAndLeave("AmplitudeLeft", "0");
    TypeAndLeave("Duration", "30");
    Box("Loop")->setChecked(false);
    window->engine().random() = UniformRandom();  // as a new process draws
    window->OnCommand();
    ASSERT_TRUE(window->audioOut().Running());
    constexpr std::size_t kPeriodBytes = 30 * 48000 * 2;
    for (int played = 1; backend.PlayedSize() + 8192 <= kPeriodBytes; ++played) {
        ASSERT_TRUE(PlayOneBuffer());
        if (played % 40 == 0) {
            LetTheViewRefresh();  // 3.4 s of signal at a time: the view keeps up
        }
    }
    ASSERT_TRUE(backend.LastStream()->PlayBytes(kPeriodBytes - backend.PlayedSize()));
    HandleNotifications();
    ASSERT_TRUE(window->audioOut().Running());  // its last block is not done yet
    LetTheViewRefresh();

    QTemporaryDir dir;
    QProcess render;
    render.start(SKARNEL_RENDER_PATH, {"-q", "-r", "48000", "-d", "30", "--stats-json",
                                       dir.filePath("stats.json"), dir.filePath("period.wav")});
    ASSERT_TRUE(render.waitForFinished(60000));
    ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
    QFile json(dir.filePath("stats.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject channel =
        QJsonDocument::fromJson(json.readAll()).object()["channels"].toArray()[0].toObject();
    const auto text = [](const std::string& s) { return QString::fromStdString(s); };
    const QStringList stated = {"RMS " + text(DbfsText(channel["rms_dbfs"].toDouble())) + " dBFS",
                                "Peak " + text(DbfsText(channel["peak_dbfs"].toDouble())) + " dBFS",
                                "Crest " + text(CrestRatioText(channel["crest_ratio"].toDouble())) +
                                    " (" + text(DbfsText(channel["crest_db"].toDouble())) + " dB)"};
    EXPECT_EQ(View()->ShownTexts(0), stated);
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

// The clip lamps: a setting that clips lights the left lamp once the
// clipped samples are heard, with the count of those heard (not of those
// made ahead of the ear), and leaves the right one dark; a click puts the
// lamp out and the next clip lights it again; OFF keeps it; the next ON
// starts dark and counts from 0.
TEST_F(LiveViewTest, TheClipLampLightsAsClipsAreHeardAndHoldsUntilTheNextOn) {
    ChooseOutput(16);
    Pick("cboChannels", kStereo);
    if (!Box("RightTick")->isChecked()) {
        Box("RightTick")->click();
    }
    Pick("WaveFormLeft", kWhiteNoise);
    Pick("cboCrestFactorL", 0);  // 1.42:1
    Entry("txtFZeroL")->setText("1000");
    Pick("cboFilterTypeL1", kFilterHighPass);
    TypeAndLeave("AmplitudeRight", "-20");
    UniformRandom random(ProcessRandom().seed());
    window->OnCommand();
    ASSERT_TRUE(window->audioOut().Running());
    EXPECT_FALSE(View()->ClipLampLit(0));
    SignalEngine reference(random);
    reference.state = window->engine().state;
    reference.live = window->engine().live;
    std::uint64_t clipped[2] = {0, 0};
    std::size_t counted = 0;  // frames of the reference so far
    // The samples the device played so far that the unclipped computation
    // puts out of range, per channel.
    const auto countHeard = [&] {
        const std::size_t frames = backend.Played().size() / 4;
        for (; counted < frames; ++counted) {
            for (int c = 0; c < 2; ++c) {
                const int selector = reference.live.noiseFunction[c] + (c == 1 ? 10 : 0);
                const std::int64_t v = std::int64_t{ReferenceRenderSample(reference, selector)} *
                                       reference.state.channels[c].gate;
                clipped[c] += static_cast<std::uint64_t>(v > 32767 || v < -32768);
            }
            AdvanceFrameCounter(reference.state.sampleCounter);
        }
    };
    PlayFor(0.5);
    LetTheViewRefresh();
    countHeard();
    ASSERT_GT(clipped[0], 100u);
    EXPECT_EQ(clipped[1], 0u);
    EXPECT_TRUE(View()->ClipLampLit(0));
    EXPECT_FALSE(View()->ClipLampLit(1));
    EXPECT_EQ(View()->ShownClipped(0), clipped[0]);
    EXPECT_EQ(View()->ShownClipped(1), 0u);

    QTest::mouseClick(View(), Qt::LeftButton, {}, View()->ClipLamp(0).center());
    EXPECT_FALSE(View()->ClipLampLit(0));
    EXPECT_EQ(View()->ShownClipped(0), clipped[0]);
    PlayFor(1.0);
    LetTheViewRefresh();
    countHeard();
    EXPECT_TRUE(View()->ClipLampLit(0));
    EXPECT_EQ(View()->ShownClipped(0), clipped[0]);

    window->OffCommand();
    HandleNotifications();
    EXPECT_TRUE(View()->ClipLampLit(0));
    EXPECT_EQ(View()->ShownClipped(0), clipped[0]);

    TypeAndLeave("AmplitudeLeft", "-20");
    window->OnCommand();
    EXPECT_FALSE(View()->ClipLampLit(0));
    EXPECT_EQ(View()->ShownClipped(0), 0u);
    PlayFor(0.5);
    LetTheViewRefresh();
    EXPECT_FALSE(View()->ClipLampLit(0));
    EXPECT_EQ(View()->ShownClipped(0), 0u);
    window->OffCommand();
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
        const std::unique_ptr<GeneratorWindow> next = StartShown(from);
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

// The empty view shows the rows of the window's channel mode: one for mono,
// also at the next start, two for stereo; playing, the device's channels.
TEST_F(LiveViewTest, MonoShowsOneRowBeforeDuringAndAfterPlayingAndAtTheNextStart) {
    ChooseOutput(16);
    Pick("cboChannels", kStereo);
    EXPECT_EQ(View()->channels(), 2);
    Pick("cboChannels", kMono);
    EXPECT_EQ(View()->channels(), 1);
    EXPECT_TRUE(View()->ShownTexts(1).isEmpty());
    window->OnCommand();
    EXPECT_EQ(View()->channels(), 1);
    window->OffCommand();
    HandleNotifications();
    EXPECT_EQ(View()->channels(), 1);

    MemorySettingsStore store;
    ConnectSettingsStore(store, *window, *settings);
    window->close();
    const std::unique_ptr<GeneratorWindow> next = StartShown(store);
    EXPECT_EQ(next->liveView()->channels(), 1);
    EXPECT_TRUE(next->liveView()->ShownTexts(1).isEmpty());
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
