// The channel value entries: validation when the user leaves them and the
// live values they feed to the engine while the user types.
#include <vector>

#include "analysis/expected_level.h"
#include "analysis/level_text.h"
#include "app/window_settings.h"
#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "generator_fixture.h"
#include "persistence/settings_store.h"

namespace skarnel::testing {
namespace {

class EntriesTest : public GeneratorTest {
protected:
    // The entry's text after typing `text` into it and leaving it.
    QString Left(const char* name, const QString& text) {
        TypeAndLeave(name, text);
        return Entry(name)->text();
    }
    // Types into an entry key by key, replacing its text, without leaving it.
    void Type(const char* name, const QString& text) {
        QLineEdit* entry = Entry(name);
        entry->setFocus();
        entry->selectAll();
        QTest::keyClicks(entry, text);
    }
    ChannelEngineState& Engine(Channel c) { return window->engine().state.channels[c]; }
    const GeneratorSettings& Model() { return window->model().values(); }
    // Moves the keyboard focus into an entry and out again, typing nothing.
    void Visit(const char* name) {
        Entry(name)->setFocus();
        window->findChild<QPushButton*>("btnPause")->setFocus();
        QApplication::processEvents();
    }
};

TEST_F(EntriesTest, AmplitudeIsClampedRoundedAndFollowsItsSlider) {
    QSlider* slider = Find<QSlider>("AmplitudeSliderLeft");
    EXPECT_EQ(Left("AmplitudeLeft", "-3.456"), "-3.46");
    EXPECT_EQ(slider->value(), 346);
    EXPECT_EQ(Engine(kLeft).linearAmplitude, LinearAmplitude(-3.46L));

    EXPECT_EQ(Left("AmplitudeLeft", "5"), "0");
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(Left("AmplitudeLeft", "-150"), "-100");
    EXPECT_EQ(slider->value(), 10000);
    EXPECT_EQ(Left("AmplitudeLeft", "abc"), "0");
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(Left("AmplitudeLeft", "-3,5"), "-3.5");
    EXPECT_EQ(slider->value(), 350);
    EXPECT_EQ(Engine(kLeft).linearAmplitude, LinearAmplitude(-3.5L));

    slider->setValue(1234);
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-12.34");
    EXPECT_EQ(Engine(kLeft).linearAmplitude, LinearAmplitude(-12.34L));

    // While typing, a readable text is live at once and an unreadable one
    // (the comma is accepted only on leaving) keeps the last value.
    Pick("cboChannels", kStereo);
    Type("AmplitudeRight", "-20");
    EXPECT_EQ(Engine(kRight).linearAmplitude, LinearAmplitude(-20.0L));
    QTest::keyClicks(Entry("AmplitudeRight"), ",5");
    EXPECT_EQ(Engine(kRight).linearAmplitude, LinearAmplitude(-20.0L));
    window->findChild<QPushButton*>("btnPause")->setFocus();
    EXPECT_EQ(Entry("AmplitudeRight")->text(), "-20.5");
    EXPECT_EQ(Find<QSlider>("AmplitudeSliderRight")->value(), 2050);
    EXPECT_EQ(Engine(kRight).linearAmplitude, LinearAmplitude(-20.5L));
    EXPECT_EQ(Engine(kLeft).linearAmplitude, LinearAmplitude(-12.34L));
}

TEST_F(EntriesTest, PeriodDepthAndPhaseAreClampedOnLeaving) {
    // The period keeps the float32 value of the text, to ten decimals; the
    // entry shows the shortest text of that float32 value.
    EXPECT_EQ(Left("Duration", "0.05"), "0.1");
    EXPECT_EQ(Model().period, "0.1000000015");
    EXPECT_EQ(Left("Duration", "0.3"), "0.3");
    EXPECT_EQ(Model().period, "0.3000000119");
    EXPECT_EQ(Left("Duration", "0.1"), "0.1");
    EXPECT_EQ(Model().period, "0.1000000015");
    EXPECT_EQ(Left("Duration", "text"), "1");
    EXPECT_EQ(Left("Duration", "2.5"), "2.5");
    EXPECT_EQ(Model().period, "2.5");

    Box("ModulationOnLeft")->setChecked(true);
    EXPECT_EQ(Left("ModDepthLeftEdit", "150"), "100");
    EXPECT_EQ(Left("ModDepthLeftEdit", "-5"), "0");
    EXPECT_EQ(Left("ModDepthLeftEdit", "?"), "100");
    EXPECT_EQ(Left("ModPhaseLeftEdit", "-90"), "0");
    EXPECT_EQ(Left("ModPhaseLeftEdit", "450"), "450");
    EXPECT_FLOAT_EQ(Engine(kLeft).modPhase, ModPhaseRadians(450.0L));
}

TEST_F(EntriesTest, FilterFrequencyIsLimitedByTheSamplingFrequency) {
    Pick("cboFilterTypeL1", kFilterLowPass);
    settings->ui.cboFsList->setCurrentIndex(3);
    emit settings->ui.cboFsList->activated(3);
    EXPECT_EQ(Left("txtFZeroL", "30000"), "22050");
    // Leaving the left frequency prepares the engine with it.
    EXPECT_EQ(Engine(kLeft).filterFrequency, 22050.0);
    EXPECT_EQ(Left("txtFZeroL", "0"), "1");
    EXPECT_EQ(Engine(kLeft).filterFrequency, 1.0);
    EXPECT_EQ(Left("txtFZeroL", "?"), "1000");

    settings->ui.cboFsList->setCurrentIndex(0);
    emit settings->ui.cboFsList->activated(0);
    EXPECT_EQ(Left("txtFZeroL", "30000"), "4000");
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
}

TEST_F(EntriesTest, ModulationPeriodAndDepthFeedTheEngine) {
    Box("ModulationOnLeft")->setChecked(true);
    EXPECT_EQ(Left("ModPeriodLeftEdit", "1.23456"), "1.235");
    EXPECT_FLOAT_EQ(Engine(kLeft).modPeriod, 1.235f);
    // The comma is not accepted here.
    EXPECT_EQ(Left("ModPeriodLeftEdit", "0,5"), "1");
    EXPECT_EQ(Engine(kLeft).modPeriod, 1.0f);

    // While the signal plays, "0" on the way to "0.5" is a step of typing:
    // the signal plays on with its period until a number arrives.
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_TRUE(window->audioOut().Running());
    Type("ModPeriodLeftEdit", "0");
    EXPECT_TRUE(window->audioOut().Running());
    EXPECT_EQ(Entry("ModPeriodLeftEdit")->text(), "0");
    EXPECT_EQ(Engine(kLeft).modPeriod, 1.0f);
    Type("ModPeriodLeftEdit", "0.");
    Type("ModPeriodLeftEdit", "0.5");
    EXPECT_TRUE(window->audioOut().Running());
    EXPECT_EQ(Engine(kLeft).modPeriod, 0.5f);
    // A period of 0 left as it is stops the signal.
    EXPECT_EQ(Left("ModPeriodLeftEdit", "0"), "1");
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_EQ(Entry("ModPeriodLeftEdit")->text(), "1");
    EXPECT_EQ(Engine(kLeft).modPeriod, 1.0f);
    HandleNotifications();
    EXPECT_EQ(window->windowTitle(), "Skarnel");
    // While stopped, 0 is only a value.
    Type("ModPeriodLeftEdit", "0");
    EXPECT_EQ(Entry("ModPeriodLeftEdit")->text(), "0");
    EXPECT_EQ(Engine(kLeft).modPeriod, 0.0f);

    // Each depth entry feeds its own channel, whatever the other one holds.
    Pick("cboChannels", kStereo);
    Box("ModulationOnRight")->setChecked(true);
    Entry("ModDepthLeftEdit")->setText("");
    const float leftDepth = Engine(kLeft).modDepth;
    Type("ModDepthRightEdit", "5");
    EXPECT_FLOAT_EQ(Engine(kRight).modDepth, 0.05f);
    EXPECT_EQ(Engine(kLeft).modDepth, leftDepth);
    Entry("ModDepthLeftEdit")->setText("30");
    Type("ModDepthRightEdit", "7");
    EXPECT_FLOAT_EQ(Engine(kRight).modDepth, 0.07f);
    EXPECT_FLOAT_EQ(Engine(kLeft).modDepth, 0.3f);
    // Emptying the entry keeps the last value.
    Entry("ModDepthRightEdit")->clear();
    EXPECT_FLOAT_EQ(Engine(kRight).modDepth, 0.07f);
}

// A validated number shows as the shortest text of its float32 value while
// the value, the store and the engine keep the validated text.
TEST_F(EntriesTest, ValidatedNumbersShowShortWhileTheValueKeepsTheirText) {
    // Typing shows as typed, and the value takes it as typed.
    Type("Duration", "0.1000000015");
    EXPECT_EQ(Entry("Duration")->text(), "0.1000000015");
    window->findChild<QPushButton*>("btnPause")->setFocus();
    EXPECT_EQ(Entry("Duration")->text(), "0.1");
    // Leaving without typing validates the value's text, not the one shown.
    Visit("Duration");
    EXPECT_EQ(Entry("Duration")->text(), "0.1");
    EXPECT_EQ(Model().period, "0.1000000015");
    // The engine reads the kept text: 0.1000000015 s is 1102.50002 frames at
    // 11025 Hz, where 0.1 s would round (to even) to 1102.
    window->RunGuarded([this] { window->PrepareEngineFromWindow(); });
    EXPECT_EQ(window->engine().state.periodSamples, 1103);
    MemorySettingsStore store;
    SaveWindowSettings(store, *window);
    std::string stored;
    store.Load(SettingsKeyPath())->ReadText("Duration", stored);
    EXPECT_EQ(stored, "0.1000000015");

    Pick("cboFilterTypeL1", kFilterPeaking);
    EXPECT_EQ(Left("txtFZeroL", "1000.3"), "1000.3");
    EXPECT_EQ(Model().channels[kLeft].frequency, "1000.29999");
    EXPECT_EQ(Left("Duration", "1E20"), "1E20");
    EXPECT_EQ(Model().period, "1.00000002004088E20");
    Box("ModulationOnLeft")->setChecked(true);
    EXPECT_EQ(Left("ModDepthLeftEdit", "0.00005"), "5E-5");
    EXPECT_EQ(Left("ModDepthLeftEdit", "33.3"), "33.3");
    // "= Left" copies the kept text; the right entry shows it short too.
    Pick("cboChannels", kStereo);
    Box("chkAsLeft")->setChecked(true);
    EXPECT_EQ(Model().channels[kRight].modDepth, "33.2999992371");
    EXPECT_EQ(Entry("ModDepthRightEdit")->text(), "33.3");
}

// A decimal comma in a filter gain or Q is read alike on both sides: leaving
// the entry validates it before any preparation reads it.
TEST_F(EntriesTest, FilterGainAndQTakeTheDecimalCommaOnBothSides) {
    Pick("cboChannels", kStereo);
    Pick("cboFilterTypeL1", kFilterPeaking);
    Pick("cboFilterTypeR1", kFilterPeaking);
    for (const char* name : {"txtGainL", "txtGainR"}) {
        EXPECT_EQ(Left(name, "3,5"), "3.5") << name;
    }
    for (const char* name : {"txtQL", "txtQR"}) {
        EXPECT_EQ(Left(name, "2,5"), "2.5") << name;
    }
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
    for (const int c : {kLeft, kRight}) {
        EXPECT_EQ(Model().channels[c].gain, "3.5") << c;
        EXPECT_EQ(Model().channels[c].q, "2.5") << c;
    }
    // The left filter took effect as its entries were left (a peaking filter
    // without gain would have b0 == a0); the right one takes effect at the
    // next preparation, with the same coefficients.
    const ChannelEngineState left = Engine(kLeft);
    EXPECT_NE(left.b0, left.a0);
    window->RunGuarded([this] { window->PrepareEngineFromWindow(); });
    const auto coefficients = [](const ChannelEngineState& s) {
        return std::vector<double>{s.b0, s.b1, s.b2, s.a0, s.a1, s.a2};
    };
    EXPECT_EQ(coefficients(Engine(kLeft)), coefficients(left));
    EXPECT_EQ(coefficients(Engine(kRight)), coefficients(left));
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
}

}  // namespace
}  // namespace skarnel::testing

namespace skarnel::testing {
namespace {

// Beside each level entry, the RMS level its noise and crest factor give:
// it follows the amplitude, the crest choice and the noise function.
TEST_F(EntriesTest, TheRmsReadoutFollowsLevelNoiseAndCrestFactor) {
    const auto readout = [this](const char* name) { return Find<QLabel>(name)->text(); };
    const auto expected = [](double amplitude, int noise, int crest) {
        return QString::fromUtf8("\u2248 ") +
               QString::fromStdString(DbfsText(amplitude + RmsBelowAmplitudeDb(noise, crest))) +
               " dBFS RMS";
    };
    EXPECT_EQ(readout("rmsReadoutLeft"), expected(0, kPinkNoise, 4));
    // The example preset "Pink -20 dBFS RMS": pink 4:1 at -8.1 dBFS.
    TypeAndLeave("AmplitudeLeft", "-8.1");
    Pick("cboCrestFactorL", 3);
    EXPECT_EQ(readout("rmsReadoutLeft"), expected(-8.1, kPinkNoise, 3));
    EXPECT_NEAR(-8.1 + RmsBelowAmplitudeDb(kPinkNoise, 3), -20.0, 0.15);
    // 1.42:1 is where white and pink differ most (4.8 dB against 3.0 dB).
    Pick("cboCrestFactorL", 0);
    EXPECT_EQ(readout("rmsReadoutLeft"), expected(-8.1, kPinkNoise, 0));
    Pick("WaveFormLeft", kWhiteNoise);
    EXPECT_EQ(readout("rmsReadoutLeft"), expected(-8.1, kWhiteNoise, 0));
    EXPECT_NE(expected(-8.1, kWhiteNoise, 0), expected(-8.1, kPinkNoise, 0));
    // While the entry holds no number there is nothing to show.
    Entry("AmplitudeLeft")->setText("-");
    EXPECT_EQ(readout("rmsReadoutLeft"), "");
}

}  // namespace
}  // namespace skarnel::testing
