#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

TEST_F(GeneratorTest, NewWindowShowsTheStartState) {
    EXPECT_EQ(window->windowTitle(), "Skarnel");
    EXPECT_EQ(List("cboChannels")->currentText(), "Mono");
    for (const char* side : {"Left", "Right"}) {
        EXPECT_EQ(List(qPrintable(QString("WaveForm") + side))->currentText(), "Pink Noise");
        EXPECT_EQ(Entry(qPrintable(QString("Amplitude") + side))->text(), "0");
        EXPECT_EQ(Entry(qPrintable(QString("ModPeriod") + side + "Edit"))->text(), "1");
        EXPECT_EQ(Entry(qPrintable(QString("ModDepth") + side + "Edit"))->text(), "100");
        EXPECT_EQ(Entry(qPrintable(QString("ModPhase") + side + "Edit"))->text(), "0");
        EXPECT_EQ(List(qPrintable(QString("ModFunction") + side))->currentText(), "Sine ");
        EXPECT_FALSE(Box(qPrintable(QString("ModulationOn") + side))->isChecked());
    }
    EXPECT_EQ(List("cboCrestFactorL")->currentText(), "6:1");
    EXPECT_EQ(List("cboFilterTypeR1")->currentText(), "None");
    EXPECT_EQ(Entry("txtFZeroL")->text(), "1000");
    EXPECT_EQ(Entry("txtGainR")->text(), "0");
    EXPECT_EQ(Entry("txtQL")->text(), "1");
    EXPECT_EQ(Entry("Duration")->text(), "10");
    EXPECT_TRUE(Box("Loop")->isChecked());
    EXPECT_EQ(List("WaveDevice")->currentText(), "Windows Default");
    EXPECT_EQ(window->engine().state.periodSamples, 10 * 11025);
    EXPECT_EQ(window->engine().state.left().crestExponent, 0.955f);
    EXPECT_EQ(settings->ui.cboFsList->currentText(), "11025");
    EXPECT_EQ(settings->ui.cboQuant->currentText(), "16");
    EXPECT_EQ(settings->ui.cboBufferSize->currentText(), "16384");
    EXPECT_EQ(settings->ui.cboBuffers->currentText(), "4");
    EXPECT_TRUE(settings->ui.chkDisableSS->isChecked());
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
}

}  // namespace
}  // namespace skarnel::testing
