// The performance test's dialogue against a recording host and a set clock:
// which tests the timing leads to, what each answer and Cancel leaves behind,
// the texts that carry the measured time and the device, and the help topics.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "perftest/performance_test.h"
#include "platform/help_router.h"
#include "scripted_dialogs.h"

namespace skarnel::testing {
namespace {

using Log = std::vector<std::string>;

const int kRates[] = {8000, 11025, 22050, 44100, 48000, 96000, 192000};

class RecordingHost : public PerformanceTestHost {
public:
    explicit RecordingHost(Log& log) : log_(log) {}

    QString ProgramFolder() const override { return folder; }
    std::string LoadPresetFile(const QString& path) override {
        log_.push_back("load " + QDir(folder).relativeFilePath(path).toStdString());
        return loadError;
    }
    void RecallMemory(int slot) override { log_.push_back("recall " + std::to_string(slot)); }
    int SampleRateChoice() const override { return choice; }
    void SelectSampleRateChoice(int item) override {
        choice = item;
        log_.push_back("rate " + std::to_string(kRates[item]));
    }
    int SampleRateChoiceOf(int hz) const override {
        return static_cast<int>(std::find(std::begin(kRates), std::end(kRates), hz) -
                                std::begin(kRates));
    }
    void WriteWaveFile(const QString& path) override {
        log_.push_back("write " + path.toStdString());
    }
    void Play() override { log_.push_back("play"); }
    QString OutputDeviceText() const override { return "Speakers (USB)"; }

    QString folder;
    std::string loadError;
    int choice = 1;  // 11025 Hz when the test begins

private:
    Log& log_;
};

// Reads `start` first, then `start + elapsed`.
class SetClock : public MillisecondClock {
public:
    SetClock(Log& log, std::uint32_t start, std::uint32_t elapsed)
        : log_(log), next_(start), elapsed_(elapsed) {}
    std::uint32_t Now() override {
        log_.push_back("tick");
        const std::uint32_t now = next_;
        next_ += elapsed_;
        return now;
    }

private:
    Log& log_;
    std::uint32_t next_;
    std::uint32_t elapsed_;
};

const QString kSlow = "Your computer is not fast enough";
const QString kMarginal = "Your computer is marginally fast enough";
const QString kFast = "Your computer is fast enough";
const QString kMonoAt22050 = "Next test: A 5 second, 1kHz mono";
const QString kMonoAt44100 = "Last test: A 5 second, 1kHz MONO";
const QString kStereo = "Next test: A 5 sec stereo";
const QString kModulated = "Last test: A 5 second, 1kHz stereo MODULATED";
const QString kHeard = "Did you hear any tone at all?";
const QString kFroze = "Did your computer stop to respond or freeze during playback?";

const Log kUpToTiming = {
    "load Compatibility Test.vlm", "rate 44100", "recall 4", "tick", "write /dev/null", "tick"};

Log Concat(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PerformanceTest : public ::testing::Test {
protected:
    PerformanceTest() : host(log) {
        host.folder = dir.path();
        QFile file(QDir(dir.path()).filePath("Compatibility Test.vlm"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    }

    void Run(std::uint32_t elapsedMs, std::vector<bool> answers = {},
             std::uint32_t startMs = 1000) {
        dialogs.answers.assign(answers.begin(), answers.end());
        SetClock clock(log, startMs, elapsedMs);
        CompatibilityTest(host, dialogs, clock);
    }
    bool Shows(const QString& beginning) const {
        return std::any_of(dialogs.shown.begin(), dialogs.shown.end(),
                           [&](const QString& s) { return s.startsWith(beginning); });
    }

    QTemporaryDir dir;
    Log log;
    RecordingHost host;
    ScriptedDialogs dialogs;
};

TEST_F(PerformanceTest, TimingGivesTheVerdictAndChoosesTheNextTests) {
    struct Case {
        std::uint32_t start;
        std::uint32_t elapsed;
        QString seconds;
        QString verdict;
        QString next;  // the announcement that follows, or "" when the test ends
    };
    const Case cases[] = {
        {1000, 10001, "10.001", kSlow, kMonoAt22050},
        {1000, 10000, "10", kMarginal, ""},
        {1000, 9001, "9.001", kMarginal, kStereo},
        {1000, 9000, "9", kFast, kStereo},
        {1000, 2531, "2.531", kFast, kStereo},
        // The tick counter wraps around between the two readings.
        {0xFFFFFFFFu - 20, 50, "0.05", kFast, kStereo},
        {0xFFFFFFFFu - 5000, 10001, "10.001", kSlow, kMonoAt22050},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds.toStdString());
        log.clear();
        dialogs.shown.clear();
        Run(c.elapsed, {true, true, false}, c.start);  // Cancel at the announcement after
        ASSERT_GE(dialogs.shown.size(), 3);
        const QString& note = dialogs.shown[2];
        EXPECT_TRUE(note.startsWith("It took " + c.seconds +
                                    " seconds to generate a 10 second stereo CD quality signal. " +
                                    c.verdict))
            << note.toStdString();
        EXPECT_EQ(dialogs.shown.size(), c.next.isEmpty() ? 3 : 4);
        if (!c.next.isEmpty()) {
            EXPECT_TRUE(dialogs.shown[3].startsWith(c.next));
        }
    }
    // Exactly 10 s leaves the rate at 44100 Hz and plays nothing.
    log.clear();
    Run(10000);
    EXPECT_EQ(log, kUpToTiming);
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(44100));
}

TEST_F(PerformanceTest, SlowMachinePlaysMonoAt22050ThenAt44100) {
    Run(10001, {true, true, true, true, true, true, false});  // no freeze
    EXPECT_EQ(log, Concat(kUpToTiming, {"recall 1", "rate 22050", "play", "rate 44100", "play"}));
    EXPECT_EQ(dialogs.shown.size(), 8);
    EXPECT_EQ(dialogs.shown.back(), kFroze);
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(44100));
    // The opening box and the two mono announcements offer the performance
    // page.
    const int p = kPerformanceHelp;
    EXPECT_EQ(dialogs.helpTopics, (std::vector<int>{p, p, 0, p, 0, p, 0, 0}));
    EXPECT_EQ(dialogs.titles, QStringList({"Skarnel", "Skarnel", "Skarnel"}));

    // A freeze at 44.1 kHz sets 22050 Hz.
    log.clear();
    dialogs.shown.clear();
    Run(10001);
    EXPECT_EQ(dialogs.shown.back(),
              "Your computer might be too slow for 44.1 kHz sampling frequency. The program "
              "will be set to 22.05kHz samplingrate");
    EXPECT_EQ(log.back(), "rate 22050");
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(22050));
}

TEST_F(PerformanceTest, NoToneReportsTheDevice) {
    // Nothing heard at 22050 Hz: the note, then the test goes on at 44.1 kHz;
    // nothing heard there either: the note ends the test without asking about
    // a freeze.
    Run(10001, {true, true, true, false, true, false});
    const QString card = "If you did not hear anything, your sound card (Speakers (USB))";
    EXPECT_EQ(dialogs.shown[5],
              card + " cannot play 16 bit files at 22.05kHz. You could try other sampling rates.");
    EXPECT_TRUE(dialogs.shown[6].startsWith(kMonoAt44100));
    EXPECT_EQ(dialogs.shown.back(), card +
                                        " cannot play 16 bit mono files at 44.1kHz, which is "
                                        "very unusual. You could try other sampling rates.");
    EXPECT_FALSE(Shows(kFroze));
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(44100));

    // Stereo: the note, then the modulated test follows all the same.
    log.clear();
    dialogs.shown.clear();
    Run(5000, {true, true, true, false, true, false});
    EXPECT_EQ(dialogs.shown[5], card +
                                    " cannot play 16 bit files at 44.1kHz, which is very "
                                    "unusual. You could try other sampling rates.");
    EXPECT_TRUE(dialogs.shown[6].startsWith(kModulated));
}

TEST_F(PerformanceTest, FastMachinePlaysStereoThenModulated) {
    Run(5000, {true, true, true, true, false, true, false});
    EXPECT_EQ(log, Concat(kUpToTiming, {"recall 2", "play", "recall 3", "play"}));
    EXPECT_EQ(dialogs.shown.back(),
              "Congratulations, your computer can handle the most complex signal generation at "
              "CD quality and is perfectly suitable for use with this program.");
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(44100));
    // The stereo announcement offers the performance page, the modulated one
    // no help.
    const int p = kPerformanceHelp;
    EXPECT_EQ(dialogs.helpTopics, (std::vector<int>{p, p, 0, p, 0, 0, 0, 0, 0}));

    // A freeze in stereo: 22050 Hz, and no modulated test.
    log.clear();
    dialogs.shown.clear();
    Run(5000, {true, true, true, true, true});
    EXPECT_EQ(dialogs.shown.back(),
              "Your computer might be too slow for 44.1 kHz sampling frequency stereo signals. "
              "Please choose a lower samplingrate in \"Compatibility settings\" when playing "
              "stereo signals");
    EXPECT_EQ(log, Concat(kUpToTiming, {"recall 2", "play", "rate 22050"}));

    // A freeze in the modulated test: 22050 Hz.
    log.clear();
    dialogs.shown.clear();
    Run(5000, {true, true, true, true, false, true, true});
    EXPECT_EQ(dialogs.shown.back(),
              "Your computer might be too slow for 44.1 kHz sampling frequency modulated stereo "
              "signals. Please choose a lower samplingrate in \"Compatibility settings\" when "
              "playing modulated stereo signals");
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(22050));
}

TEST_F(PerformanceTest, CancelRestoresTheRateOnlyUntilTheStereoTests) {
    // At the opening box nothing happens at all.
    Run(5000, {false});
    EXPECT_TRUE(log.empty());

    // At the first test the presets stay loaded, the rate is restored.
    Run(5000, {true, false});
    EXPECT_EQ(log, (Log{"load Compatibility Test.vlm", "rate 44100", "recall 4", "rate 11025"}));
    EXPECT_EQ(host.choice, 1);

    // At either mono announcement the rate is restored too.
    log.clear();
    Run(10001, {true, true, false});
    EXPECT_EQ(log.back(), "rate 11025");
    log.clear();
    Run(10001, {true, true, true, true, false});
    EXPECT_EQ(log,
              Concat(kUpToTiming, {"recall 1", "rate 22050", "play", "rate 44100", "rate 11025"}));

    // At the stereo announcement 44100 Hz stays.
    log.clear();
    Run(5000, {true, true, false});
    EXPECT_EQ(log, Concat(kUpToTiming, {"recall 2"}));
    EXPECT_EQ(host.choice, host.SampleRateChoiceOf(44100));
}

TEST_F(PerformanceTest, MissingOrUnreadableFileEndsTheTest) {
    QFile::remove(QDir(dir.path()).filePath("Compatibility Test.vlm"));
    Run(5000);
    EXPECT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.Last(),
              "Preset file not found. Please re-install application before trying again.");
    EXPECT_EQ(dialogs.helpTopics, (std::vector<int>{kPerformanceHelp, 0}));
    EXPECT_TRUE(log.empty());

    // A file that is there but cannot be read: its message.
    QFile(QDir(dir.path()).filePath("Compatibility Test.vlm")).open(QIODevice::WriteOnly);
    host.loadError = "Cannot open \"Compatibility Test.vlm\": Permission denied.";
    dialogs.shown.clear();
    Run(5000);
    EXPECT_EQ(dialogs.Last(), QString::fromStdString(host.loadError));
    EXPECT_EQ(log, (Log{"load Compatibility Test.vlm"}));
}

}  // namespace
}  // namespace skarnel::testing
