#include "perftest/performance_test.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>

#include "numtext/number_format.h"
#include "platform/help_router.h"

namespace skarnel {

namespace {

// The opening box and three of the announcements offer the help page on
// performance: what the test measures and what to do when it fails.
constexpr int kHelpTopic = kPerformanceHelp;
constexpr int kNoHelp = 0;
const QString kTitle = QStringLiteral("Skarnel");

constexpr int kCdRate = 44100;
constexpr int kHalfCdRate = 22050;
// Rendering 10 s of signal must take at most this long; a little less is
// only marginal.
constexpr std::uint32_t kRealTimeMs = 10000;
constexpr std::uint32_t kComfortableMs = 9000;

const char* const kIntro =
    "This test will check the performance and compatibility of your computer. Please set your "
    "loudspeaker volume to a low but audible level. Press OK to start or cancel to abort.";
const char* const kFileMissing =
    "Preset file not found. Please re-install application before trying again.";
const char* const kFirstTest =
    "First test: Measuring the time it takes to generate a stereo 10 second tone at 44.1kHz "
    "Sampling frequency (CD quality). If this is well under 10 seconds, your computer is fine "
    "for CD quality signals.";
const char* const kTookPrefix = "It took ";
const char* const kNotFastEnough =
    " seconds to generate a 10 second stereo CD quality signal. Your computer is not fast enough "
    "to run tests at full stereo CD quality. Check the help files for possible improvements.";
const char* const kMarginal =
    " seconds to generate a 10 second stereo CD quality signal. Your computer is marginally fast "
    "enough to run tests at full stereo CD quality. Check the help files for possible "
    "improvements.";
const char* const kFastEnough =
    " seconds to generate a 10 second stereo CD quality signal. Your computer is fast enough to "
    "run tests at full stereo CD quality.";

const char* const kMono22050 =
    "Next test: A 5 second, 1kHz mono sine wave signal at 22050Hz sampling frequency. Please do "
    "not touch any of the controls during play.";
const char* const kMono44100 =
    "Last test: A 5 second, 1kHz MONO sine wave signal at 44.1 kHz sampling frequency. Check if "
    "your computer freezes or fails to respond during signal playback. Please try to move the "
    "Generator window around on the desktop.";
const char* const kStereo =
    "Next test: A 5 sec stereo wave at 44.1 kHz sampling rate. Check if your computer freezes or "
    "fails to respond during signal playback. Please do not touch any of the controls during "
    "play, but do try to move the Generator window on the desktop.";
const char* const kModulated =
    "Last test: A 5 second, 1kHz stereo MODULATED sine wave signal at 44.1 kHz sampling "
    "frequency. Check if your computer freezes or fails to respond during signal playback. "
    "Please try to move the Generator window around on the desktop.";

const char* const kHeardTone = "Did you hear any tone at all?";
const char* const kFroze = "Did your computer stop to respond or freeze during playback?";

const char* const kNoSoundPrefix = "If you did not hear anything, your sound card (";
const char* const kNoSound22050 =
    ") cannot play 16 bit files at 22.05kHz. You could try other sampling rates.";
const char* const kNoSoundMono44100 =
    ") cannot play 16 bit mono files at 44.1kHz, which is very unusual. You could try other "
    "sampling rates.";
const char* const kNoSound44100 =
    ") cannot play 16 bit files at 44.1kHz, which is very unusual. You could try other sampling "
    "rates.";

const char* const kTooSlowMono =
    "Your computer might be too slow for 44.1 kHz sampling frequency. The program will be set to "
    "22.05kHz samplingrate";
const char* const kTooSlowStereo =
    "Your computer might be too slow for 44.1 kHz sampling frequency stereo signals. Please "
    "choose a lower samplingrate in \"Compatibility settings\" when playing stereo signals";
const char* const kTooSlowModulated =
    "Your computer might be too slow for 44.1 kHz sampling frequency modulated stereo signals. "
    "Please choose a lower samplingrate in \"Compatibility settings\" when playing modulated "
    "stereo signals";
const char* const kCongratulations =
    "Congratulations, your computer can handle the most complex signal generation at CD quality "
    "and is perfectly suitable for use with this program.";

class Test {
public:
    Test(PerformanceTestHost& host, Dialogs& dialogs, MillisecondClock& clock)
        : host_(host), dialogs_(dialogs), clock_(clock) {}

    void Run() {
        if (!dialogs_.Announce(kIntro, kHelpTopic)) {
            return;
        }
        const QString file = QDir(host_.ProgramFolder()).filePath(kCompatibilityTestFile);
        if (!QFileInfo::exists(file)) {
            dialogs_.Note(kFileMissing);
            return;
        }
        if (const std::string error = host_.LoadPresetFile(file); !error.empty()) {
            dialogs_.Note(QString::fromStdString(error));
            return;
        }
        remembered_ = host_.SampleRateChoice();
        Select(kCdRate);
        host_.RecallMemory(4);
        if (!dialogs_.Announce(kFirstTest, kHelpTopic)) {
            host_.SelectSampleRateChoice(remembered_);
            return;
        }
        const std::uint32_t start = clock_.Now();
        host_.WriteWaveFile(kNullDevice);
        const std::uint32_t elapsed = static_cast<std::uint32_t>(clock_.Now() - start);

        const char* verdict = elapsed > kRealTimeMs      ? kNotFastEnough
                              : elapsed > kComfortableMs ? kMarginal
                                                         : kFastEnough;
        dialogs_.Note(kTookPrefix + SecondsText(elapsed) + verdict);
        if (elapsed > kRealTimeMs) {
            MonoTests();
        } else if (elapsed < kRealTimeMs) {
            StereoTests();
        }
    }

private:
    // t / 1000 in its shortest decimal form: 2531 gives "2.531", 10000 "10".
    static QString SecondsText(std::uint32_t milliseconds) {
        return QString::fromStdString(FormatNumber(milliseconds / 1000.0L));
    }

    void Select(int hz) { host_.SelectSampleRateChoice(host_.SampleRateChoiceOf(hz)); }

    bool Heard() { return dialogs_.Ask(kHeardTone, kTitle); }
    bool Froze() { return dialogs_.Ask(kFroze, kTitle); }
    void NoSound(const char* ending) {
        dialogs_.Note(kNoSoundPrefix + host_.OutputDeviceText() + ending);
    }

    // Selects the rate, announces the step and plays it; false when the user
    // cancelled instead, which puts the sample rate back.
    bool PlayAt(int hz, const char* announcement) {
        Select(hz);
        if (!dialogs_.Announce(announcement, kHelpTopic)) {
            host_.SelectSampleRateChoice(remembered_);
            return false;
        }
        host_.Play();
        return true;
    }

    void MonoTests() {
        host_.RecallMemory(1);
        if (!PlayAt(kHalfCdRate, kMono22050)) {
            return;
        }
        if (!Heard()) {
            NoSound(kNoSound22050);
        }
        if (!PlayAt(kCdRate, kMono44100)) {
            return;
        }
        if (!Heard()) {
            NoSound(kNoSoundMono44100);
            return;
        }
        if (Froze()) {
            dialogs_.Note(kTooSlowMono);
            Select(kHalfCdRate);
        }
    }

    void StereoTests() {
        host_.RecallMemory(2);
        if (!dialogs_.Announce(kStereo, kHelpTopic)) {
            return;
        }
        host_.Play();
        if (!Heard()) {
            NoSound(kNoSound44100);
        } else if (Froze()) {
            dialogs_.Note(kTooSlowStereo);
            Select(kHalfCdRate);
            return;
        }
        host_.RecallMemory(3);
        if (!dialogs_.Announce(kModulated, kNoHelp)) {
            return;
        }
        host_.Play();
        if (Froze()) {
            dialogs_.Note(kTooSlowModulated);
            Select(kHalfCdRate);
        } else {
            dialogs_.Note(kCongratulations);
        }
    }

    PerformanceTestHost& host_;
    Dialogs& dialogs_;
    MillisecondClock& clock_;
    int remembered_ = -1;
};

}  // namespace

std::uint32_t SteadyMillisecondClock::Now() {
    using namespace std::chrono;
    // Only differences count, so the counter may wrap as a tick counter does.
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CompatibilityTest(PerformanceTestHost& host, Dialogs& dialogs, MillisecondClock& clock) {
    Test(host, dialogs, clock).Run();
}

}  // namespace skarnel
