#include <sys/stat.h>
#include <QFileInfo>
#include <QTemporaryDir>

#include "generator/script_control.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator_fixture.h"
#include "perftest/performance_test.h"
#include "persistence/preset_file.h"

namespace skarnel::testing {
namespace {

class FixedClock : public MillisecondClock {
public:
    std::uint32_t Now() override {
        const std::uint32_t now = next;
        next += step;
        return now;
    }
    std::uint32_t next = 1000;
    std::uint32_t step = 0;
};

bool NullDeviceIntact() {
    struct stat st {};
    return ::stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode);
}

// The real test file beside the program, timed by the real clock into the
// null device; the test is cancelled at the next announcement, so nothing
// plays. The measured time is printed for the record.
TEST_F(GeneratorTest, PerformanceTestTimesTheShippedSignalIntoTheNullDevice) {
    window->shell().SetProgramFolder(SKARNEL_PROGRAM_DIR);
    dialogs.answers = {true, true, false, false};
    window->findChild<QAction*>("CompatibilityTest1")->trigger();

    ASSERT_GE(dialogs.shown.size(), 4);
    const QString verdict = dialogs.shown[2];
    EXPECT_TRUE(verdict.startsWith("It took ")) << verdict.toStdString();
    std::cout << "[ measured ] " << verdict.section(' ', 2, 2).toStdString()
              << " s for 10 s of stereo at 44.1 kHz\n";
    EXPECT_TRUE(NullDeviceIntact());
    EXPECT_EQ(window->presets().button(4)->text(), "Test Timing 10 s");
    EXPECT_TRUE(window->isEnabled());
}

// The whole fast-machine path on a device that plays in real time: both
// plays run to their end while the window keeps handling events.
TEST_F(GeneratorTest, PerformanceTestPlaysTheStereoSignalsToTheirEnd) {
    backend.SetPaced(true);
    QTemporaryDir folder;
    PresetSlots presets{};
    for (MemoryPreset& preset : presets) {
        preset.settings.period = "0.3";
        preset.settings.loop = false;
        preset.settings.channelMode = kStereo;
        preset.name = "Short";
    }
    presets[2].settings.channels[kLeft].modulationOn = true;
    presets[2].settings.channels[kRight].modulationOn = true;
    ASSERT_EQ(SavePresetFile(folder.filePath(kCompatibilityTestFile).toStdString(), presets), "");
    window->shell().SetProgramFolder(folder.path());
    FixedClock clock;
    clock.step = 2531;
    window->SetPerformanceClock(&clock);

    // OK, OK, OK to the stereo test, a tone was heard, no freeze, OK to the
    // modulated test, no freeze.
    dialogs.answers = {true, true, true, true, false, true, false};
    window->findChild<QAction*>("CompatibilityTest1")->trigger();
    EXPECT_TRUE(dialogs.shown.contains(
        "It took 2.531 seconds to generate a 10 second stereo CD quality signal. Your computer "
        "is fast enough to run tests at full stereo CD quality."));
    EXPECT_TRUE(dialogs.Last().startsWith("Congratulations")) << dialogs.Last().toStdString();
    EXPECT_EQ(settings->ui.cboFsList->currentText(), "44100");
    EXPECT_FALSE(window->audioOut().Running());
    // Both plays reached the device: one alone is at most a period of 0.3 s.
    EXPECT_GT(backend.Played().size(), 13230u * 4u);
}

}  // namespace
}  // namespace skarnel::testing
