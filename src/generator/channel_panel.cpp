#include "generator/channel_panel.h"

#include <QAction>
#include <QEvent>

#include "generator/hover_label.h"
#include "generator/list_icons.h"
#include "generator/tick_mark_style.h"
#include "settings/choice_lists.h"

namespace skarnel {

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
    TickMarkStyle::Apply(ui.amplitudeSlider);
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
        const char* role;  // what a screen reader says after the side
    };
    // The objectName of every control on each side, and its accessible
    // name: the two panels are alike, so the name says the side first.
    const SideName names[] = {
        {ui.onTick, "Lefttick", "RightTick", "channel on"},
        {ui.noiseFunction, "WaveFormLeft", "WaveFormRight", "noise function"},
        {ui.crestFactor, "cboCrestFactorL", "cboCrestFactorR", "crest factor"},
        {ui.filterType, "cboFilterTypeL1", "cboFilterTypeR1", "filter type"},
        {ui.frequency, "txtFZeroL", "txtFZeroR", "filter frequency in Hz"},
        {ui.gain, "txtGainL", "txtGainR", "filter gain in dB"},
        {ui.q, "txtQL", "txtQR", "filter Q"},
        {ui.amplitude, "AmplitudeLeft", "AmplitudeRight", "channel amplitude in dBFS"},
        {ui.amplitudeSlider, "AmplitudeSliderLeft", "AmplitudeSliderRight",
         "channel amplitude slider in dBFS"},
        {ui.modulationOn, "ModulationOnLeft", "ModulationOnRight", "amplitude modulation on"},
        {ui.modFunction, "ModFunctionLeft", "ModFunctionRight", "modulation function"},
        {ui.modDepth, "ModDepthLeftEdit", "ModDepthRightEdit", "modulation depth in percent"},
        {ui.modPeriod, "ModPeriodLeftEdit", "ModPeriodRightEdit", "modulation period in seconds"},
        {ui.modPhase, "ModPhaseLeftEdit", "ModPhaseRightEdit", "modulation phase in degrees"},
    };
    const bool left = side_ == kLeft;
    const QString sideWord = left ? "Left" : "Right";
    for (const SideName& name : names) {
        name.widget->setObjectName(left ? name.left : name.right);
        name.widget->setAccessibleName(sideWord + " " + name.role);
    }
    ui.rmsReadout->setAccessibleName(sideWord + " expected RMS level");
    // Labels and groups keep their role name with the side appended.
    const QString suffix = left ? "Left" : "Right";
    const QList<QWidget*> others = {ui.noiseFunctionLabel, ui.crestFactorLabel, ui.filterGroup,
                                    ui.amplitudeGroup,     ui.amplitudeUnit,    ui.rmsReadout,
                                    ui.modulationGroup};
    for (QWidget* w : others) {
        w->setObjectName(w->objectName() + suffix);
    }
    setObjectName(left ? "LeftChannelPanel" : "RightChannelPanel");
}

void ChannelPanel::FillLists() {
    // Which item each list shows is the window's settings' business.
    for (const char* item : kNoiseFunctionItems) {
        ui.noiseFunction->addItem(item);
    }
    for (const char* item : kCrestFactorItems) {
        ui.crestFactor->addItem(item);
    }
    for (const char* item : kFilterTypeItems) {
        ui.filterType->addItem(item);
    }
    for (const char* item : kModFunctionItems) {
        ui.modFunction->addItem(item);
    }
    DrawListIcons();
}

QList<QWidget*> ChannelPanel::TabStops() const {
    QList<QWidget*> stops;
    for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
        if (isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) != 0) {
            stops.append(w);
        }
    }
    return stops;
}

void ChannelPanel::DrawListIcons() {
    const QPalette colours = palette();
    for (int i = 0; i < ui.noiseFunction->count(); ++i) {
        ui.noiseFunction->setItemIcon(i, NoiseFunctionIcon(i, colours));
    }
    for (int i = 0; i < ui.modFunction->count(); ++i) {
        ui.modFunction->setItemIcon(i, ModFunctionIcon(i, colours));
    }
}

void ChannelPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        DrawListIcons();
    }
    QGroupBox::changeEvent(event);
}

}  // namespace skarnel
