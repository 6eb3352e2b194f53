#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <limits>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "generator/script_control.h"
#include "generator/window_commands.h"
#include "generator_fixture.h"
#include "platform/command_bus.h"

namespace skarnel::testing {
namespace {

class CommandTest : public GeneratorTest {
protected:
    CommandTest()
        : bus({[this](std::uint32_t n, std::int32_t a, std::int32_t b) {
                   ++delivered;
                   window->ExecuteCommand(n, a, b);
               },
               [] { return false; }, [] { return false; }, [] { return false; }, nullptr}) {
        window->SetCommandBus(&bus);
    }

    LocalCommandBus bus;
    int delivered = 0;
};

TEST_F(CommandTest, EachCommandChangesWhatItNames) {
    window->ExecuteCommand(kCommandPeriod, 3, 0);
    EXPECT_EQ(Entry("Duration")->text(), "0.3");  // after the period check, shown short
    EXPECT_EQ(window->model().values().period, "0.3000000119");
    window->ExecuteCommand(kCommandPeriod, 0, 0);
    EXPECT_EQ(Entry("Duration")->text(), "0.1");  // the check's minimum
    EXPECT_EQ(window->model().values().period, "0.1000000015");

    window->ExecuteCommand(kCommandChannels, 2, 0);
    EXPECT_EQ(List("cboChannels")->currentIndex(), kStereo);
    EXPECT_FALSE(Box("Lefttick")->isChecked());
    EXPECT_TRUE(Box("RightTick")->isChecked());
    EXPECT_EQ(window->engine().state.left().gate, 0);

    window->ExecuteCommand(kCommandAmplitudeL, -6, 0);
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-6");
    EXPECT_EQ(window->engine().state.left().linearAmplitude, LinearAmplitude(-6.0L));
    EXPECT_EQ(Find<QSlider>("AmplitudeSliderLeft")->value(), 600);  // the entry's check ran

    // Values go through the rules typed values go through: a level above
    // 0 dBFS used to play wrapped full-scale noise.
    window->ExecuteCommand(kCommandAmplitudeR, 40, 0);
    EXPECT_EQ(Entry("AmplitudeRight")->text(), "0");
    EXPECT_EQ(window->engine().state.right().linearAmplitude, 1.0f);
    window->ExecuteCommand(kCommandAmplitudeL, -150, 0);
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-100");
    window->ExecuteCommand(kCommandModDepth, 1000000, -5);
    EXPECT_EQ(window->model().channel(kLeft).modDepth, "100");
    EXPECT_EQ(window->model().channel(kRight).modDepth, "0");
    EXPECT_EQ(window->engine().state.left().modDepth, 1.0f);
    EXPECT_EQ(window->engine().state.right().modDepth, 0.0f);
    window->ExecuteCommand(kCommandModPhase, -90, 450);
    EXPECT_EQ(window->model().channel(kLeft).modPhase, "0");
    EXPECT_EQ(window->model().channel(kRight).modPhase, "450");
    window->ExecuteCommand(kCommandAmplitudeL, -6, 0);

    window->ExecuteCommand(kCommandModPeriod, 2, 7);
    window->ExecuteCommand(kCommandModFunction, 3, 2);
    EXPECT_EQ(Entry("ModPeriodRightEdit")->text(), "7");
    EXPECT_EQ(window->engine().state.right().modPeriod, 7.0f);
    EXPECT_EQ(List("ModFunctionLeft")->currentIndex(), kModTriangular);

    // A noise list set by command leaves the engine as the same pick in the
    // window does: the crest exponent follows the noise (a pink exponent on
    // white noise plays far hotter than the window shows).
    window->ExecuteCommand(kCommandNoiseL, kWhiteNoise, 0);
    EXPECT_EQ(List("WaveFormLeft")->currentIndex(), kWhiteNoise);
    const float commanded = window->engine().state.left().crestExponent;
    Pick("WaveFormLeft", kPinkNoise);
    EXPECT_EQ(window->engine().state.left().crestExponent, kCrestExponentsPink[4]);
    Pick("WaveFormLeft", kWhiteNoise);
    EXPECT_EQ(window->engine().state.left().crestExponent, commanded);
    EXPECT_NE(commanded, kCrestExponentsPink[4]);
    window->ExecuteCommand(kCommandNoiseR, kWhiteNoise, 0);
    EXPECT_EQ(window->engine().state.right().crestExponent, commanded);

    // The device list follows with its handling, so the next start uses it.
    window->ExecuteCommand(kCommandDevice, 1, 0);
    EXPECT_EQ(List("WaveDevice")->currentIndex(), 2);
    EXPECT_EQ(window->audioOut().WaveDevice(), 1u);
}

TEST_F(CommandTest, PresetsStoreAndRecallThroughTheCommand) {
    window->ExecuteCommand(kCommandAmplitudeL, -12, 0);
    window->ExecuteCommand(kCommandPreset, 1, 2);  // store slot 2
    EXPECT_EQ(window->presets().records()[1].settings.channels[kLeft].amplitude, "-12");
    window->ExecuteCommand(kCommandAmplitudeL, -3, 0);
    window->ExecuteCommand(kCommandStart, 0, 0);
    HandleNotifications();
    ASSERT_TRUE(window->audioOut().Running());
    window->ExecuteCommand(kCommandPreset, 0, 2);  // recall stops playback first
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-12");
}

// Any 32-bit values: nothing crashes, slots outside 1..4 do nothing, unknown
// numbers are ignored.
TEST_F(CommandTest, ArbitraryArgumentsChangeNothingHarmful) {
    const auto before = window->presets().records();
    const std::int32_t extremes[] = {std::numeric_limits<std::int32_t>::min(), -1, 5,
                                     std::numeric_limits<std::int32_t>::max()};
    for (const std::int32_t v : extremes) {
        window->ExecuteCommand(kCommandPreset, 1, v);
        window->ExecuteCommand(kCommandPreset, 0, v);
        window->ExecuteCommand(kCommandDevice, v, v);
        window->ExecuteCommand(kCommandPeriod, v, v);
        window->ExecuteCommand(kCommandModFunction, v, v);
        window->ExecuteCommand(0x4FF, v, v);
        window->ExecuteCommand(static_cast<std::uint32_t>(v), v, v);
    }
    EXPECT_EQ(window->presets().records(), before);
    EXPECT_GE(List("WaveDevice")->currentIndex(), 0);
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
}

// With sync on, ON, OFF and Pause go out as commands (to every window; here
// the local bus reaches this one) and the sender starts through its own copy.
TEST_F(CommandTest, SyncSendsTheCommandsToEveryWindow) {
    Box("chkSync")->setChecked(true);
    EXPECT_EQ(delivered, 1);  // the box's own broadcast
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    EXPECT_EQ(delivered, 2);
    EXPECT_TRUE(window->audioOut().Running());
    window->findChild<QPushButton*>("btnPause")->click();
    EXPECT_TRUE(window->audioOut().Paused());
    window->findChild<QPushButton*>("btnOFF")->click();
    EXPECT_EQ(delivered, 4);
    EXPECT_FALSE(window->audioOut().Running());
}

// While a script waits, commands from outside that would change what it
// plays are answered without effect; what stops or holds playback acts.
TEST_F(CommandTest, DuringAScriptOnlyStopAndPauseAct) {
    QTemporaryDir dir;
    const QString script = WriteScript(dir, "wait.wbs", "delay 0.3\nend\n");
    bool looked = false;
    QTimer::singleShot(50, window.get(), [&] {
        window->ExecuteCommand(kCommandAmplitudeL, -6, 0);
        window->ExecuteCommand(kCommandPreset, 1, 2);
        window->ExecuteCommand(kCommandStart, 0, 0);
        EXPECT_EQ(Entry("AmplitudeLeft")->text(), "0");
        EXPECT_EQ(backend.OpenCount(), 0);
        window->ExecuteCommand(kCommandPause, 0, 0);
        EXPECT_TRUE(window->audioOut().Paused());
        window->ExecuteCommand(kCommandPause, 0, 0);
        looked = true;
    });
    const PresetSlots before = window->presets().records();
    window->scripts().Run(script);
    EXPECT_TRUE(looked);
    EXPECT_EQ(window->presets().records(), before);
    // Afterwards the same command acts again.
    window->ExecuteCommand(kCommandAmplitudeL, -6, 0);
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-6");
}

}  // namespace
}  // namespace skarnel::testing
