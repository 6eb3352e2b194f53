#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include "analysis/level_text.h"
#include "engine/reference_renderer.h"
#include "generator/export_progress_window.h"
#include "generator/script_control.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator_fixture.h"
#include "persistence/settings_store.h"
#include "settings/choice_lists.h"

namespace skarnel::testing {
namespace {

class ExportTest : public GeneratorTest {
protected:
    ExportTest() { window->SetStore(&store); }

    QString Export(const QString& name) {
        const QString path = dir.filePath(name);
        dialogs.paths.push_back(path);
        window->findChild<QAction*>("SaveWaveFile1")->trigger();
        return path;
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static std::uint32_t U32(const QByteArray& b, int at) {
        return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8 |
               static_cast<std::uint8_t>(b[at + 2]) << 16 |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24;
    }
    void PickRate(int item) {
        settings->ui.cboFsList->setCurrentIndex(item);
        settings->OnSampleRateChosen();
    }

    MemorySettingsStore store;
    QTemporaryDir dir;
};

// An export that clipped says how many samples in the status bar, counted as
// the unclipped computation puts them out of range; the next export that
// stays within range takes the note away.
TEST_F(ExportTest, AnExportThatClippedSaysHowManySamples) {
    store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});  // no hint
    PickRate(SampleRateItem(48000));
    Pick("cboChannels", kMono);
    TypeAndLeave("Duration", "1");
    Pick("WaveFormLeft", kWhiteNoise);
    Pick("cboCrestFactorL", 0);  // 1.42:1
    Entry("txtFZeroL")->setText("1000");
    Pick("cboFilterTypeL1", kFilterHighPass);
    window->RunGuarded([this] { window->PrepareEngineFromWindow(); });
    UniformRandom random(ProcessRandom().seed());
    SignalEngine reference(random);
    reference.state = window->engine().state;
    reference.live = window->engine().live;
    std::uint64_t outOfRange = 0;
    for (int i = 0; i < 48000; ++i) {
        const std::int32_t v = ReferenceRenderSample(reference, kWhiteNoise);
        outOfRange += static_cast<std::uint64_t>(v > 32767 || v < -32768);
        AdvanceFrameCounter(reference.state.sampleCounter);
    }
    ASSERT_GT(outOfRange, 1000u);

    Export("clipped.wav");
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
    EXPECT_EQ(window->statusBar()->currentMessage(),
              QString::fromStdString(GroupedCount(outOfRange)) +
                  " samples were clipped: lower the amplitude or the filter gain");

    TypeAndLeave("AmplitudeLeft", "-10");
    Export("within.wav");
    EXPECT_EQ(window->statusBar()->currentMessage(), "");
}

// The files are read back by outside programs too: sox's soxi and Python's
// wave module must agree with the header we meant to write.
TEST_F(ExportTest, WritesOnePeriodThatOtherProgramsRead) {
    store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});  // no hint
    PickRate(0);                                                   // 8000 Hz
    TypeAndLeave("Duration", "0.1");
    Box("Loop")->setChecked(true);
    const QString path = Export("mono.wav");
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs[0].title, "Save wave file");
    EXPECT_EQ(dialogs.fileDialogs[0].initialName, "0.1000000015s ");
    const QByteArray wav = Read(path);
    ASSERT_EQ(wav.size(), 1644);
    EXPECT_EQ(U32(wav, 4), 1636u);
    EXPECT_EQ(U32(wav, 24), 8000u);
    EXPECT_EQ(U32(wav, 40), 1600u);
    EXPECT_TRUE(Box("Loop")->isChecked());  // restored
    EXPECT_TRUE(window->isEnabled());
    EXPECT_FALSE(window->exporter().progressWindow().isVisible());
    // The first progress window is centred at the size it shows with.
    const QWidget& wait = window->exporter().progressWindow();
    const QPoint off =
        wait.geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(off.manhattanLength(), 2) << off.x() << "," << off.y();
    EXPECT_GE(wait.width(), wait.minimumSizeHint().width());

    QStringList soxiSays;
    for (const char* field : {"-r", "-c", "-b", "-s"}) {  // soxi answers one field a call
        QProcess soxi;
        soxi.start("soxi", {field, path});
        ASSERT_TRUE(soxi.waitForFinished(10000));
        soxiSays << QString(soxi.readAllStandardOutput()).trimmed();
    }
    EXPECT_EQ(soxiSays, QStringList({"8000", "1", "16", "800"}));
    QProcess python;
    python.start("python3", {"-c",
                             "import sys,wave; w=wave.open(sys.argv[1]); print(w.getframerate(), "
                             "w.getnchannels(), w.getsampwidth(), w.getnframes())",
                             path});
    ASSERT_TRUE(python.waitForFinished(10000));
    EXPECT_EQ(QString(python.readAllStandardOutput()).trimmed(), "8000 1 2 800");
}

TEST_F(ExportTest, StereoGatesAndSeparateDrawsWithAsLeft) {
    store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});
    Pick("cboChannels", kStereo);
    Box("chkAsLeft")->setChecked(true);
    TypeAndLeave("Duration", "0.2");
    const QByteArray asLeft = Read(Export("asleft.wav"));
    ASSERT_EQ(asLeft.size(), 44 + 4 * 2205);
    int differing = 0;
    for (int f = 0; f < 2205; ++f) {
        differing += asLeft.mid(44 + 4 * f, 2) != asLeft.mid(46 + 4 * f, 2);
    }
    EXPECT_GT(differing, 2000);  // the right chain draws its own noise

    Box("chkAsLeft")->setChecked(false);
    Box("Lefttick")->setChecked(false);
    const QByteArray gated = Read(Export("gated.wav"));
    ASSERT_EQ(gated.size(), 44 + 4 * 2205);
    for (int f = 0; f < 2205; ++f) {
        ASSERT_EQ(gated.mid(44 + 4 * f, 2), QByteArray(2, '\0')) << f;
    }
}

TEST_F(ExportTest, FailuresAndCancelAreReportedAndLeaveTheRightFiles) {
    store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});
    dialogs.paths.push_back("/dev/full");
    window->findChild<QAction*>("SaveWaveFile1")->trigger();
    // The message, and the system's reason on a line of its own.
    EXPECT_EQ(dialogs.Last(), "File Access Error, cannot write file.\nNo space left on device.");

    const QString missing = dir.filePath("no/such/folder.wav");
    dialogs.paths.push_back(missing);
    window->findChild<QAction*>("SaveWaveFile1")->trigger();
    EXPECT_TRUE(dialogs.Last().contains(missing) && dialogs.Last().contains("No such file"))
        << dialogs.Last().toStdString();

    const QString folder = dir.filePath("folder.wav");  // a folder in the file's place
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.wav"));
    dialogs.paths.push_back(folder);
    window->findChild<QAction*>("SaveWaveFile1")->trigger();
    EXPECT_EQ(dialogs.Last(), "Cannot create file \"" + folder + "\". Is a directory.");

    bool& cancel = window->exporter().progressWindow().cancelRequested();
    cancel = true;  // Cancel pressed before the first progress point
    const QString cancelled = Export("cancelled.wav");
    EXPECT_FALSE(QFile::exists(cancelled));
    EXPECT_FALSE(cancel);
    EXPECT_TRUE(window->isEnabled());

    QFile kept(dir.filePath("kept.wav"));  // an earlier export outlives a cancelled one
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4);
    kept.close();
    cancel = true;
    EXPECT_EQ(Read(Export("kept.wav")), "kept");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"folder.wav", "kept.wav"}));
}

// Closing the window while it exports cancels the export: the program can
// end instead of writing on, hidden, with its D-Bus name still taken.
TEST_F(ExportTest, ClosingTheWindowCancelsTheExport) {
    store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});
    TypeAndLeave("Duration", "3600");  // far longer than the test waits
    QFile kept(dir.filePath("kept.wav"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4);
    kept.close();
    bool closed = false;
    QObject::connect(window.get(), &GeneratorWindow::closed, [&closed] { closed = true; });
    // Comes while the export shows its progress window.
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    Export("kept.wav");
    EXPECT_TRUE(closed);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Read(dir.filePath("kept.wav")), "kept");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"kept.wav"}));
    EXPECT_FALSE(window->exporter().progressWindow().isVisible());
}

TEST_F(ExportTest, CdFormatHintAdjustsOnlyOnYes) {
    dialogs.answers = {false};
    Export("no.wav");
    ASSERT_EQ(dialogs.titles.size(), 1);
    EXPECT_EQ(dialogs.titles[0], "Hint");
    // F1 in the hint explains exports (the File menu's page).
    EXPECT_EQ(dialogs.contexts, std::vector<int>{kFileMenuHelp});
    EXPECT_EQ(window->engine().state.sampleRate, 11025);
    EXPECT_EQ(List("cboChannels")->currentIndex(), kMono);

    dialogs.answers = {true};
    dialogs.ticks = {true};
    const QByteArray cd = Read(Export("yes.wav"));
    EXPECT_EQ(U32(cd, 24), 44100u);
    EXPECT_EQ(cd[22], 2);
    EXPECT_EQ(settings->ui.cboFsList->currentText(), "44100");
    std::int32_t flag = 0;
    EXPECT_EQ(store.Load(SettingsKeyPath())->ReadInteger("CDformat", flag), ReadStatus::kOk);

    PickRate(4);  // 48000: the hint would apply, but it is suppressed now
    const int questions = dialogs.titles.size();
    EXPECT_EQ(U32(Read(Export("suppressed.wav")), 24), 48000u);
    EXPECT_EQ(dialogs.titles.size(), questions);
}

}  // namespace
}  // namespace skarnel::testing
