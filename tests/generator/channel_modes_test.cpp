// Channel modes, on ticks, "= Left", copying between the panels, modulation
// boxes and filter types: what they grey and what they hand the engine.
#include <QAction>
#include <vector>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

class ChannelModesTest : public GeneratorTest {
protected:
    Ui::ChannelPanel& Side(Channel c) { return window->panel(c)->ui; }
    ChannelEngineState& Engine(Channel c) { return window->engine().state.channels[c]; }
    // The right side's own controls, which Mono and "= Left" grey.
    std::vector<QWidget*> RightOwnControls() {
        Ui::ChannelPanel& r = Side(kRight);
        return {r.onTick,    r.noiseFunction,   r.crestFactor,  r.filterGroup,
                r.amplitude, r.amplitudeSlider, r.modulationOn, r.noiseFunctionLabel};
    }
    void ExpectRightEnabled(bool enabled) {
        for (QWidget* w : RightOwnControls()) {
            EXPECT_EQ(w->isEnabled(), enabled) << w->objectName().toStdString();
        }
        EXPECT_EQ(GreyText(Side(kRight).noiseFunction), !enabled);
        if (!enabled) {
            // Greyed means every word of the side too, not only its controls
            // (the modulation's words follow its own rule, checked below).
            for (const QLabel* label : window->panel(kRight)->findChildren<QLabel*>()) {
                if (!label->objectName().startsWith("mod")) {
                    EXPECT_FALSE(label->isEnabled()) << label->text().toStdString();
                }
            }
        }
    }
    std::vector<QWidget*> ModulationControls(Channel c) {
        Ui::ChannelPanel& p = Side(c);
        return {p.modPeriod, p.modDepth, p.modFunction, p.modPhase, p.modPeriodLabel};
    }
    void ExpectModulationEnabled(Channel c, bool enabled) {
        for (QWidget* w : ModulationControls(c)) {
            EXPECT_EQ(w->isEnabled(), enabled) << w->objectName().toStdString();
        }
        // Its words and units with it.
        for (const QLabel* label : window->panel(c)->findChildren<QLabel*>()) {
            if (label->objectName().startsWith("mod")) {
                EXPECT_EQ(label->isEnabled(), enabled) << label->objectName().toStdString();
            }
        }
    }
    void ExpectStartActions(bool enabled) {
        EXPECT_EQ(window->findChild<QPushButton*>("btnON")->isEnabled(), enabled);
        EXPECT_EQ(window->findChild<QAction*>("mnuOFF")->isEnabled(), enabled);
        EXPECT_EQ(window->findChild<QAction*>("SaveWaveFile1")->isEnabled(), enabled);
    }
};

TEST_F(ChannelModesTest, MonoTicksAndGreysTheRightSide) {
    Pick("cboChannels", kStereo);
    ExpectRightEnabled(true);
    EXPECT_TRUE(Box("chkAsLeft")->isEnabled());
    EXPECT_TRUE(Box("Lefttick")->isEnabled());
    Box("RightTick")->setChecked(false);
    EXPECT_EQ(Engine(kRight).gate, 0);
    EXPECT_EQ(Engine(kLeft).gate, 1);
    Box("ModulationOnRight")->setChecked(true);

    Pick("cboChannels", kMono);
    for (const char* tick : {"Lefttick", "RightTick"}) {
        EXPECT_TRUE(Box(tick)->isChecked()) << tick;
        EXPECT_FALSE(Box(tick)->isEnabled()) << tick;
    }
    EXPECT_EQ(Engine(kLeft).gate, 1);
    EXPECT_EQ(Engine(kRight).gate, 1);
    ExpectRightEnabled(false);
    EXPECT_FALSE(Box("chkAsLeft")->isEnabled());
    // The right modulation entries follow the right box and "= Left" only.
    ExpectModulationEnabled(kRight, true);
    // Playing locks the amplitude entries; the end of the lock keeps the mode's greying.
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    EXPECT_TRUE(Entry("AmplitudeLeft")->isEnabled());
    ExpectRightEnabled(false);

    Pick("cboChannels", kStereo);
    ExpectRightEnabled(true);
    Box("chkAsLeft")->setChecked(true);
    ExpectRightEnabled(false);
    ExpectModulationEnabled(kRight, false);
    EXPECT_FALSE(Box("Lefttick")->isEnabled());
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
    ExpectRightEnabled(false);
    Pick("cboChannels", kMono);
    EXPECT_FALSE(Box("chkAsLeft")->isEnabled());
    EXPECT_TRUE(Box("chkAsLeft")->isChecked());
    Pick("cboChannels", kStereo);
    EXPECT_TRUE(Box("chkAsLeft")->isEnabled());
    EXPECT_TRUE(Box("chkAsLeft")->isChecked());
    ExpectRightEnabled(false);
}

TEST_F(ChannelModesTest, BothTicksOffStopsAndDisablesStarting) {
    Pick("cboChannels", kStereo);
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    Box("Lefttick")->setChecked(false);
    EXPECT_TRUE(window->audioOut().Running());
    ExpectStartActions(true);
    Box("RightTick")->setChecked(false);
    EXPECT_FALSE(window->audioOut().Running());
    ExpectStartActions(false);
    HandleNotifications();
    EXPECT_EQ(window->windowTitle(), "Skarnel");

    Box("RightTick")->setChecked(true);
    ExpectStartActions(true);
    EXPECT_EQ(Engine(kLeft).gate, 0);
    EXPECT_EQ(Engine(kRight).gate, 1);
    window->findChild<QPushButton*>("btnON")->click();
    EXPECT_TRUE(window->audioOut().Running());

    // Without an output device a tick never enables starting.
    SimulatedBackend silent(std::vector<std::string>{});
    ScriptedDialogs silentDialogs;
    FakeScreenSaver silentSaver;
    GeneratorWindow bare(silent, silentDialogs, silentSaver);
    bare.ResetSettings();
    EXPECT_EQ(silentDialogs.Last(), "No Soundcard driver found. No sound output possible.");
    EXPECT_FALSE(bare.findChild<QPushButton*>("btnON")->isEnabled());
    EXPECT_TRUE(bare.findChild<QAction*>("SaveWaveFile1")->isEnabled());
    bare.findChild<QComboBox*>("cboChannels")->setCurrentIndex(kStereo);
    emit bare.findChild<QComboBox*>("cboChannels")->activated(kStereo);
    bare.panel(kLeft)->ui.onTick->setChecked(false);
    bare.panel(kRight)->ui.onTick->setChecked(false);
    bare.panel(kRight)->ui.onTick->setChecked(true);
    EXPECT_FALSE(bare.findChild<QPushButton*>("btnON")->isEnabled());
    EXPECT_FALSE(bare.findChild<QAction*>("mnuOFF")->isEnabled());
    EXPECT_TRUE(bare.findChild<QAction*>("SaveWaveFile1")->isEnabled());
    // The menu's ON still tries, and reports why it cannot.
    bare.findChild<QAction*>("mnuON")->trigger();
    EXPECT_EQ(silentDialogs.Last(),
              "Sound Device Error: \r" + QString::fromStdString(silent.ErrorText(kDeviceNoDriver)));
}

TEST_F(ChannelModesTest, AsLeftMakesTheRightChannelRepeatTheLeft) {
    Pick("cboChannels", kStereo);
    TypeAndLeave("AmplitudeLeft", "-12");
    Pick("WaveFormLeft", kWhiteNoise);
    Pick("cboCrestFactorL", 2);
    Box("ModulationOnLeft")->setChecked(true);
    TypeAndLeave("ModPeriodLeftEdit", "2");
    TypeAndLeave("ModDepthLeftEdit", "40");
    Pick("ModFunctionLeft", kModSquare);
    TypeAndLeave("ModPhaseLeftEdit", "30");
    Box("RightTick")->setChecked(false);
    Pick("cboFilterTypeR1", kFilterPeaking);
    TypeAndLeave("txtFZeroR", "500");
    TypeAndLeave("txtGainR", "6");

    Box("chkAsLeft")->setChecked(true);
    EXPECT_EQ(Entry("AmplitudeRight")->text(), "-12");
    EXPECT_EQ(Find<QSlider>("AmplitudeSliderRight")->value(), 1200);
    EXPECT_EQ(List("WaveFormRight")->currentIndex(), kWhiteNoise);
    EXPECT_EQ(List("cboCrestFactorR")->currentIndex(), 2);
    EXPECT_TRUE(Box("ModulationOnRight")->isChecked());
    EXPECT_EQ(Entry("ModPeriodRightEdit")->text(), "2");
    EXPECT_EQ(Entry("ModDepthRightEdit")->text(), "40");
    EXPECT_EQ(List("ModFunctionRight")->currentIndex(), kModSquare);
    EXPECT_EQ(Entry("ModPhaseRightEdit")->text(), "30");
    EXPECT_TRUE(Box("RightTick")->isChecked());
    EXPECT_EQ(List("cboFilterTypeR1")->currentIndex(), kFilterPeaking);
    EXPECT_EQ(Entry("txtFZeroR")->text(), "500");
    EXPECT_EQ(Entry("txtGainR")->text(), "6");
    EXPECT_EQ(Engine(kRight).crestExponent, kCrestExponentsWhite[2]);
    EXPECT_EQ(Engine(kRight).linearAmplitude, LinearAmplitude(-12.0L));
    EXPECT_EQ(Engine(kRight).modPeriod, 2.0f);
    EXPECT_FLOAT_EQ(Engine(kRight).modDepth, 0.4f);
    EXPECT_EQ(Engine(kRight).gate, 1);
    ExpectRightEnabled(false);
    ExpectModulationEnabled(kRight, false);

    // The left side's changes carry over while "= Left" is ticked.
    TypeAndLeave("AmplitudeLeft", "-6");
    EXPECT_EQ(Entry("AmplitudeRight")->text(), "-6");
    EXPECT_EQ(Find<QSlider>("AmplitudeSliderRight")->value(), 600);
    EXPECT_EQ(Engine(kRight).linearAmplitude, LinearAmplitude(-6.0L));
    Pick("WaveFormLeft", kPinkNoise);
    EXPECT_EQ(List("WaveFormRight")->currentIndex(), kPinkNoise);
    EXPECT_EQ(Engine(kRight).crestExponent, kCrestExponentsPink[2]);
    Box("ModulationOnLeft")->setChecked(false);
    EXPECT_FALSE(Box("ModulationOnRight")->isChecked());

    Box("chkAsLeft")->setChecked(false);
    ExpectRightEnabled(true);
    Box("ModulationOnRight")->setChecked(true);
    ExpectModulationEnabled(kRight, true);
}

TEST_F(ChannelModesTest, CopyingAndNoiseChangesDeriveTheCrestExponent) {
    Pick("cboChannels", kStereo);
    Pick("WaveFormLeft", kWhiteNoise);
    Pick("cboCrestFactorL", 6);
    EXPECT_EQ(Engine(kLeft).crestExponent, kCrestExponentsWhite[6]);
    Pick("cboCrestFactorR", 1);
    EXPECT_EQ(Engine(kRight).crestExponent, kCrestExponentsPink[1]);
    Pick("WaveFormRight", kWhiteNoise);
    EXPECT_EQ(Engine(kRight).crestExponent, kCrestExponentsWhite[1]);
    EXPECT_EQ(Engine(kLeft).crestExponent, kCrestExponentsWhite[6]);
    Pick("WaveFormRight", kPinkNoise);
    Pick("cboFilterTypeL1", kFilterNotch);

    window->panel(kRight)->copyFromOtherAction()->trigger();
    EXPECT_EQ(List("WaveFormRight")->currentIndex(), kWhiteNoise);
    EXPECT_EQ(List("cboCrestFactorR")->currentIndex(), 6);
    EXPECT_EQ(Engine(kRight).crestExponent, kCrestExponentsWhite[6]);
    EXPECT_EQ(List("cboFilterTypeR1")->currentIndex(), kFilterNone);

    Pick("WaveFormRight", kPinkNoise);
    Pick("cboCrestFactorR", 0);
    TypeAndLeave("AmplitudeRight", "-30");
    window->panel(kLeft)->copyFromOtherAction()->trigger();
    EXPECT_EQ(List("WaveFormLeft")->currentIndex(), kPinkNoise);
    EXPECT_EQ(List("cboCrestFactorL")->currentIndex(), 0);
    EXPECT_EQ(Engine(kLeft).crestExponent, kCrestExponentsPink[0]);
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-30");
    EXPECT_EQ(Engine(kLeft).linearAmplitude, LinearAmplitude(-30.0L));
    EXPECT_EQ(List("cboFilterTypeL1")->currentIndex(), kFilterNotch);
}

TEST_F(ChannelModesTest, ModulationBoxesGreyTheirEntriesAndResetTheGain) {
    Pick("cboChannels", kStereo);
    for (Channel c : {kLeft, kRight}) {
        QCheckBox* box = Side(c).modulationOn;
        box->setChecked(true);
        ExpectModulationEnabled(c, true);
        Engine(c).modGain = 0.25f;
        box->setChecked(false);
        ExpectModulationEnabled(c, false);
        EXPECT_EQ(Engine(c).modGain, 1.0f);
        EXPECT_TRUE(GreyText(Side(c).modFunction));
    }
}

TEST_F(ChannelModesTest, FilterTypesPrepareTheEngineAndItsEntries) {
    Pick("cboChannels", kStereo);
    for (Channel c : {kLeft, kRight}) {
        Ui::ChannelPanel& p = Side(c);
        EXPECT_FALSE(p.frequency->isEnabled());
        p.q->setText("3");
        p.frequency->setText("700");
        Pick(qPrintable(p.filterType->objectName()), kFilterHighPass);
        EXPECT_EQ(p.q->text(), "1");
        EXPECT_EQ(Engine(c).filterFrequency, 700.0);
        EXPECT_TRUE(p.frequency->isEnabled());
        EXPECT_FALSE(p.gain->isEnabled());
        EXPECT_FALSE(p.q->isEnabled());
        Pick(qPrintable(p.filterType->objectName()), kFilterPeaking);
        EXPECT_TRUE(p.gain->isEnabled());
        EXPECT_TRUE(p.q->isEnabled());
    }

    // An unreadable filter text surfaces as the error of the next preparation.
    Entry("txtQR")->setText("x");
    window->findChild<QPushButton*>("btnON")->click();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.Last(), "'x' is not a valid floating point value");
    EXPECT_EQ(backend.OpenCount(), 0);
    EXPECT_FALSE(window->audioOut().Running());
    Pick("cboFilterTypeL1", kFilterLowPass);
    EXPECT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(backend.OpenCount(), 0);
    HandleNotifications();
    EXPECT_EQ(window->windowTitle(), "Skarnel");
}

}  // namespace
}  // namespace skarnel::testing
