#include "generator/channel_panel.h"

#include <QAction>

#include "engine/crest_modulation.h"
#include "engine/live_settings.h"
#include "generator/hover_label.h"
#include "generator/list_icons.h"

namespace skarnel {

namespace {

const char* const kCrestItems[kCrestFactorCount] = {"1.42:1", "2:1", "3:1", "4:1",
                                                    "6:1",    "8:1", "10:1"};
const char* const kFilterItems[] = {"None",     "Peaking",   "High Pass",
                                    "Low Pass", "Band Pass", "Notch"};
const char* const kNoiseItems[] = {"White Noise", "Pink Noise"};
const char* const kModFunctionItems[] = {"Sine ", "Cosine", "Square", "Triangular"};

}  // namespace

ChannelPanel::ChannelPanel(Channel side, QWidget* parent) : QGroupBox(parent), side_(side) {
    ui.setupUi(this);
    NameControls();
    FillLists();

    const bool left = side == kLeft;
    setTitle(left ? "Left Channel" : "Right Channel");
    ui.noiseFunction->setToolTip(left ? "Waveform of the Left Channel/mono Signal"
                                      : "Waveform of the right channel Signal");
    const QString amplitudeHint = left ? "Signal Amplitude of the left/mono Channel"
                                       : "Signal Amplitude of the right stereo Channel";
    ui.amplitude->setToolTip(amplitudeHint);
    ui.amplitudeSlider->setToolTip(amplitudeHint);
    ui.modulationOn->setToolTip(left ? "Amplitude Modulation of the left/mono Channel"
                                     : "Amplitude Modulation of the right stereo Channel");

    copyFromOther_ = new QAction(
        left ? "&Use Settings from Right Channel" : "&Use Settings from Left Channel", this);
    addAction(copyFromOther_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    crestLink_ = HoverLink::Attach(ui.crestFactorLabel);
}

void ChannelPanel::NameControls() {
    struct SideName {
        QWidget* widget;
        const char* left;
        const char* right;
    };
    // The objectName of every control on each side.
    const SideName names[] = {
        {ui.onTick, "Lefttick", "RightTick"},
        {ui.noiseFunction, "WaveFormLeft", "WaveFormRight"},
        {ui.crestFactor, "cboCrestFactorL", "cboCrestFactorR"},
        {ui.filterType, "cboFilterTypeL1", "cboFilterTypeR1"},
        {ui.frequency, "txtFZeroL", "txtFZeroR"},
        {ui.gain, "txtGainL", "txtGainR"},
        {ui.q, "txtQL", "txtQR"},
        {ui.amplitude, "AmplitudeLeft", "AmplitudeRight"},
        {ui.amplitudeSlider, "AmplitudeSliderLeft", "AmplitudeSliderRight"},
        {ui.modulationOn, "ModulationOnLeft", "ModulationOnRight"},
        {ui.modFunction, "ModFunctionLeft", "ModFunctionRight"},
        {ui.modDepth, "ModDepthLeftEdit", "ModDepthRightEdit"},
        {ui.modPeriod, "ModPeriodLeftEdit", "ModPeriodRightEdit"},
        {ui.modPhase, "ModPhaseLeftEdit", "ModPhaseRightEdit"},
    };
    const bool left = side_ == kLeft;
    for (const SideName& name : names) {
        name.widget->setObjectName(left ? name.left : name.right);
    }
    // Labels and groups keep their role name with the side appended.
    const QString suffix = left ? "Left" : "Right";
    const QList<QWidget*> others = {ui.noiseFunctionLabel, ui.crestFactorLabel, ui.filterGroup,
                                    ui.amplitudeGroup,     ui.amplitudeUnit,    ui.modulationGroup};
    for (QWidget* w : others) {
        w->setObjectName(w->objectName() + suffix);
    }
    setObjectName(left ? "LeftChannelPanel" : "RightChannelPanel");
}

void ChannelPanel::FillLists() {
    for (int i = 0; i < 2; ++i) {
        ui.noiseFunction->addItem(NoiseFunctionIcon(i), kNoiseItems[i]);
    }
    for (const char* item : kCrestItems) {
        ui.crestFactor->addItem(item);
    }
    for (const char* item : kFilterItems) {
        ui.filterType->addItem(item);
    }
    for (int i = 0; i < 4; ++i) {
        ui.modFunction->addItem(ModFunctionIcon(i), kModFunctionItems[i]);
    }
    // The choices of a window just built; the reset or the stored settings
    // replace them before the window is shown.
    ui.noiseFunction->setCurrentIndex(kWhiteNoise);
    ui.crestFactor->setCurrentIndex(4);
    ui.filterType->setCurrentIndex(kFilterNone);
    ui.modFunction->setCurrentIndex(kModCosine);
}

void ChannelPanel::SetTextGrey(QWidget* widget, bool grey) {
    QPalette palette = widget->palette();
    const QColor colour = grey ? QColor(128, 128, 128) : QPalette().color(QPalette::WindowText);
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

}  // namespace skarnel
