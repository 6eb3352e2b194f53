#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "app/about_window.h"
#include "app/app_identity.h"
#include "app/start_splash.h"
#include "app/startup.h"
#include "app/startup_pacer.h"
#include "audio/simulated_backend.h"
#include "fake_screen_saver.h"
#include "generator/generator_window.h"
#include "generator/script_control.h"
#include "generator/script_window.h"
#include "generator/window_commands.h"
#include "persistence/preset_file.h"
#include "persistence/settings_store.h"
#include "recording_help_viewer.h"
#include "scripted_dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel::testing {
namespace {

// Records every wait with the splash's opacity at that moment.
class RecordingPacer : public StartupPacer {
public:
    void Sleep(int milliseconds) override {
        waits.push_back({milliseconds, splash ? splash->opacityLevel() : -1});
    }
    void HandleEvents() override { ++eventRounds; }

    StartSplash* splash = nullptr;
    std::vector<std::pair<int, int>> waits;  // (milliseconds, opacity)
    int eventRounds = 0;
};

// Collects what Qt prints while it exists.
class QtMessages {
public:
    QtMessages() { previous_ = qInstallMessageHandler(&QtMessages::Collect); }
    ~QtMessages() { qInstallMessageHandler(previous_); }
    static QStringList& all() {
        static QStringList messages;
        return messages;
    }

private:
    static void Collect(QtMsgType, const QMessageLogContext&, const QString& message) {
        all().append(message);
    }
    QtMessageHandler previous_;
};

PresetSlots NamedSlots(const std::string& prefix) {
    PresetSlots presets{};
    for (std::size_t i = 0; i < presets.size(); ++i) {
        presets[i].name = prefix + std::to_string(i + 1);
        presets[i].settings.period = std::to_string(i + 2);
    }
    return presets;
}

// A program folder with its example presets, and the services of a start.
class StartupTest : public ::testing::Test {
protected:
    StartupTest() {
        EXPECT_EQ(
            SavePresetFile(dir.filePath(kExamplesFileName).toStdString(), NamedSlots("Example ")),
            "");
    }

    SkarnelStartup& Start(const QString& argument) {
        startup = std::make_unique<SkarnelStartup>(
            StartupServices{backend, dialogs, screenSaver, store, pacer, dir.path()}, argument);
        outcome = startup->Start([this](GeneratorWindow& g) {
            // The splash exists from before the window; record its fade.
            pacer.splash = startup->splash();
            g.installEventFilter(&shownWatch);
        });
        return *startup;
    }
    QString ButtonCaption(int slot) { return startup->generator().presets().button(slot)->text(); }
    QString WritePresets(const QString& name, const std::string& prefix) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(SavePresetFile(path.toStdString(), NamedSlots(prefix)), "");
        return path;
    }

    // Notices whether the generator window was ever shown.
    struct ShownWatch : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            shown = shown || event->type() == QEvent::Show;
            return false;
        }
        bool shown = false;
    } shownWatch;

    QTemporaryDir dir;
    SimulatedBackend backend;
    ScriptedDialogs dialogs;
    FakeScreenSaver screenSaver;
    MemorySettingsStore store;
    RecordingPacer pacer;
    RecordingHelpViewer help;
    std::unique_ptr<SkarnelStartup> startup;
    SkarnelStartup::Outcome outcome{};
};

TEST_F(StartupTest, WithoutArgumentTheSplashFadesAndTheExamplesAreLoaded) {
    QtMessages::all().clear();
    {
        const QtMessages collect;
        Start("");
    }
    // The offscreen platform takes no window opacity: the splash shows
    // without fading rather than have Qt complain at every step.
    EXPECT_FALSE(QtMessages::all().join('\n').contains("opacity"))
        << QtMessages::all().join('\n').toStdString();
    EXPECT_EQ(outcome, SkarnelStartup::Outcome::kRunEventLoop);
    EXPECT_TRUE(startup->generator().isVisible());
    EXPECT_EQ(ButtonCaption(1), "Example 1");
    EXPECT_EQ(ButtonCaption(4), "Example 4");
    EXPECT_EQ(startup->splash(), nullptr) << "destroyed after the fade-out";

    // Fade in 16..240 with 20 ms waits, hold 7 x 50 ms at 240, fade out 240..16.
    std::vector<std::pair<int, int>> expected;
    for (int i = 1; i <= 15; ++i) {
        expected.push_back({20, 16 * i});
    }
    for (int i = 0; i < 7; ++i) {
        expected.push_back({50, 240});
    }
    for (int i = 1; i <= 15; ++i) {
        expected.push_back({20, 256 - 16 * i});
    }
    EXPECT_EQ(pacer.waits, expected);
    EXPECT_EQ(pacer.eventRounds, 37) << "events are handled after every wait";
}

TEST_F(StartupTest, NoSplashStartsTheSameWindowsWithoutTheSplash) {
    Start("/nosplash");
    EXPECT_TRUE(pacer.waits.empty());
    EXPECT_EQ(ButtonCaption(2), "Example 2");
    EXPECT_TRUE(startup->generator().isVisible());
    EXPECT_FALSE(startup->settings().isVisible());
    EXPECT_FALSE(startup->about().isVisible());
    EXPECT_EQ(startup->generator().windowTitle(), "Skarnel");
}

// The windows' titles are the program's own: Qt appends an application
// display name, where one is set, to every title it gives the desktop
// ("Output Settings — Skarnel"), so none may be set; the desktop still knows
// the program by its name and desktop entry.
TEST_F(StartupTest, WindowTitlesAreThePrograms) {
    Start("/nosplash");
    startup->settings().show();
    EXPECT_EQ(startup->settings().windowTitle(), "Output Settings");
    ASSERT_NE(startup->settings().windowHandle(), nullptr);
    EXPECT_EQ(startup->settings().windowHandle()->title(), "Output Settings");
    startup->settings().close();

    SetApplicationIdentity();
    EXPECT_EQ(QGuiApplication::applicationName(), "Skarnel");
    EXPECT_EQ(QGuiApplication::desktopFileName(), "org.orvane.Skarnel");
    // Without a display name of its own, the display name is the
    // application name, whatever that is at the moment.
    QGuiApplication::setApplicationName("Probe");
    const QString displayName = QGuiApplication::applicationDisplayName();
    SetApplicationIdentity();
    EXPECT_EQ(displayName, "Probe") << "a display name is set and would end every title";
}

TEST_F(StartupTest, PresetFileArgumentReplacesTheExamples) {
    const QString path = WritePresets("mine.wbq", "Mine ");
    // The examples must not be read at all: a damaged example file stays unseen.
    QFile examples(dir.filePath(kExamplesFileName));
    ASSERT_TRUE(examples.open(QIODevice::WriteOnly | QIODevice::Truncate));
    examples.close();

    Start(path);
    EXPECT_EQ(outcome, SkarnelStartup::Outcome::kRunEventLoop);
    EXPECT_EQ(ButtonCaption(1), "Mine 1");
    EXPECT_EQ(ButtonCaption(3), "Mine 3");
    EXPECT_EQ(dialogs.shown, QStringList{kWelcomeMessage});
}

TEST_F(StartupTest, UnrecognisedFileArgumentsLoadNothingAndSayNothing) {
    // A missing preset file, and an existing one whose extension is in capitals.
    const QString capitals = WritePresets("LOUD.WBQ", "Loud ");
    for (const QString& argument : {dir.filePath("missing.wbq"), capitals}) {
        dialogs.shown.clear();
        Start(argument);
        EXPECT_EQ(outcome, SkarnelStartup::Outcome::kRunEventLoop);
        EXPECT_TRUE(startup->plan().scriptPath.isEmpty());
        EXPECT_TRUE(startup->plan().presetPath.isEmpty());
        // The slots keep what the window gave them at start.
        EXPECT_EQ(ButtonCaption(1), "Memory 1") << argument.toStdString();
        EXPECT_EQ(dialogs.shown, QStringList{kWelcomeMessage});
    }
}

TEST_F(StartupTest, PresetFileArgumentThatCannotBeReadShowsTheLoadsMessage) {
    // A file the system refuses to read (even for root): reading the process's
    // own memory from its start fails.
    const QString path = dir.filePath("unreadable.wbq");
    ASSERT_TRUE(QFile::link("/proc/self/mem", path));
    Start(path);
    ASSERT_EQ(dialogs.shown.size(), 2);  // the welcome question, then the load's message
    EXPECT_TRUE(dialogs.shown[1].contains("unreadable.wbq")) << dialogs.shown[1].toStdString();
    EXPECT_EQ(ButtonCaption(1), "Memory 1");
}

TEST_F(StartupTest, ScriptArgumentRunsWithTheWindowHiddenAndEnds) {
    PresetSlots presets{};
    presets[0].name = "Short";
    presets[0].settings.period = "0.3";
    presets[0].settings.loop = false;
    ASSERT_EQ(SavePresetFile(dir.filePath("short.vlm").toStdString(), presets), "");
    const QString script = dir.filePath("run.wbs");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString("play 1 %1\r\nend\r\n").arg(dir.filePath("short.vlm")).toUtf8());
    file.close();
    backend.SetPaced(true);
    // 8000 Hz and the smallest buffers, so the short period fills a start.
    const std::vector<SettingValue> stored{
        {"Duration", "7"}, {"Fs", std::int32_t{0}}, {"BufferSize", std::int32_t{0}}};
    store.Save(SettingsKeyPath(), stored);

    Start(script);
    EXPECT_EQ(dialogs.shown, QStringList{kWelcomeMessage});
    EXPECT_EQ(outcome, SkarnelStartup::Outcome::kEnd);
    EXPECT_FALSE(shownWatch.shown) << "the generator window is never shown";
    EXPECT_EQ(startup->generator().scripts().window().label(), "Line 2: end ");
    EXPECT_FALSE(backend.Played().empty());
    // The examples are not loaded, and the window's settings are not stored.
    EXPECT_EQ(ButtonCaption(1), "Short");
    const std::optional<SettingsValues> after = store.Load(SettingsKeyPath());
    ASSERT_TRUE(after);
    std::string duration;
    EXPECT_EQ(after->ReadText("Duration", duration), ReadStatus::kOk);
    EXPECT_EQ(duration, "7");
    EXPECT_EQ(after->size(), 3u);
}

// A script that reported a failure ends the program as failed, so a calling
// script can tell (the program then exits with 1).
TEST_F(StartupTest, AScriptThatFailedEndsAsFailed) {
    const QString script = dir.filePath("gone.wbs");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString("play 1 %1\r\nend\r\n").arg(dir.filePath("gone.vlm")).toUtf8());
    file.close();
    Start(script);
    EXPECT_EQ(outcome, SkarnelStartup::Outcome::kEndFailed);
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_TRUE(dialogs.shown[1].startsWith("FILE NOT FOUND")) << dialogs.shown[1].toStdString();
}

TEST_F(StartupTest, WelcomeQuestionOpensTheIntroductionAndStaysAwayOnceTicked) {
    dialogs.answers = {true};
    dialogs.ticks = {true};
    // The introduction opens in front of the window: after the window has
    // been shown, never before (the window's first show would cover it).
    bool windowShownFirst = false;
    help.onTopic = [&](int) { windowShownFirst = shownWatch.shown; };
    Start("/nosplash");
    ASSERT_EQ(dialogs.titles, QStringList{"Welcome"});
    EXPECT_EQ(help.topics, std::vector<int>{kIntroductionHelp});
    EXPECT_TRUE(windowShownFirst) << "the introduction opened before the window";
    // F1 in the welcome question explains the program.
    EXPECT_EQ(dialogs.contexts, std::vector<int>{kIntroductionHelp});
    help.onTopic = nullptr;

    dialogs.shown.clear();
    dialogs.answers = {false};
    Start("/nosplash");
    EXPECT_TRUE(dialogs.shown.isEmpty()) << "not asked again, whatever was answered";
}

// Other programs may drive the window only once it is ready: after the
// welcome question, with its settings loaded and its engine prepared (a start
// asked for during the question used to read an empty period).
TEST_F(StartupTest, CommandsAreOpenedOnlyToAReadyWindow) {
    dialogs.answers = {false};
    startup = std::make_unique<SkarnelStartup>(
        StartupServices{backend, dialogs, screenSaver, store, pacer, dir.path()}, "/nosplash");
    QStringList askedBeforeReady;
    std::string periodAtReady;
    bool shownAtReady = true;
    startup->Start({}, [&](GeneratorWindow& g) {
        askedBeforeReady = dialogs.titles;
        periodAtReady = g.model().values().period;
        shownAtReady = g.isVisible();
        g.ExecuteCommand(kCommandStart, 0, 0);  // as a caller would, at once
    });
    EXPECT_EQ(askedBeforeReady, QStringList{"Welcome"});
    EXPECT_EQ(periodAtReady, "10");
    EXPECT_FALSE(shownAtReady);
    EXPECT_TRUE(startup->generator().audioOut().Running());
    EXPECT_EQ(dialogs.shown, QStringList{kWelcomeMessage}) << dialogs.Last().toStdString();
}

// A store another process holds is waited for; one that stays held is said
// so, and the reset values the window then shows never replace the user's.
TEST_F(StartupTest, ABusyStoreIsWaitedForAndNeverWrittenOverWithDefaults) {
    // A whole set of stored values, with the user's period.
    dialogs.answers = {false};
    dialogs.ticks = {true};
    Start("/nosplash");
    startup->generator().close();
    startup.reset();
    dialogs.shown.clear();
    store.Save(SettingsKeyPath(), {{"Duration", std::string("7")}});

    store.HoldForLoads(kStoreReadAttempts - 1);
    Start("/nosplash");
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
    EXPECT_EQ(startup->generator().model().values().period, "7");

    startup.reset();
    dialogs.shown.clear();
    store.HoldForLoads(1000);
    const int saves = store.saveCount();
    Start("/nosplash");
    EXPECT_EQ(dialogs.shown, QStringList{kStoreBusyMessage}) << "a note, and no welcome question";
    EXPECT_EQ(startup->generator().model().values().period, "10");  // the reset value
    startup->generator().close();
    startup.reset();
    EXPECT_EQ(store.saveCount(), saves);
    store.HoldForLoads(0);
    std::string duration;
    EXPECT_EQ(store.Load(SettingsKeyPath())->ReadText("Duration", duration), ReadStatus::kOk);
    EXPECT_EQ(duration, "7");
}

TEST_F(StartupTest, AboutWindowKeepsTheGeneratorFromInputUntilItCloses) {
    Start("/nosplash");
    GeneratorWindow& generator = startup->generator();
    generator.findChild<QAction*>("About1")->trigger();
    AboutWindow& about = startup->about();
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(about.isModal());
    EXPECT_FALSE(generator.isEnabled());
    EXPECT_EQ(about.ui.Version->text(), "Version 1.0");

    about.ui.btnHelp->click();
    EXPECT_EQ(help.topics.back(), kAboutHelp);
    about.ui.btnOK->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_TRUE(generator.isEnabled());
}

}  // namespace
}  // namespace skarnel::testing
