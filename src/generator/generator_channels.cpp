// The channel panels' behaviour: live values while typing, validation on
// leaving an entry, channel modes, "= Left", copying between channels, and the
// window's start state. Every handler is written once for a channel index;
// the differences between left and right are named where they occur.
#include <QLineEdit>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/rounding.h"
#include "generator/exit_watcher.h"
#include "generator/generator_window.h"
#include "numtext/decimal_entry.h"
#include "numtext/entry_rules.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

namespace {

std::optional<long double> Read(const QLineEdit* entry) {
    return TryReadNumber(entry->text().toStdString());
}

void Validate(QLineEdit* entry, const EntryRule& rule) {
    entry->setText(QString::fromStdString(rule.Apply(entry->text().toStdString())));
}

int Other(int channel) {
    return channel == kLeft ? kRight : kLeft;
}

}  // namespace

bool GeneratorWindow::AsLeft() const {
    return ui.chkAsLeft->isChecked();
}
bool GeneratorWindow::Stereo() const {
    return ui.cboChannels->currentIndex() == kStereo;
}

void GeneratorWindow::WatchExit(QLineEdit* entry, std::function<void()> onExit) {
    new ExitWatcher(entry, [this, onExit = std::move(onExit)] { RunGuarded(onExit); });
}

void GeneratorWindow::ConnectChannel(int c) {
    Ui::ChannelPanel& p = ch(c);
    connect(p.amplitude, &QLineEdit::textChanged, this, [this, c] { AmplitudeChanged(c); });
    connect(p.amplitudeSlider, &QSlider::valueChanged, this,
            [this, c](int position) { SliderMoved(c, position); });
    connect(p.modPeriod, &QLineEdit::textChanged, this, [this, c] { ModPeriodChanged(c); });
    connect(p.modDepth, &QLineEdit::textChanged, this, [this, c] { ModDepthChanged(c); });
    connect(p.modPhase, &QLineEdit::textChanged, this, [this, c] { ModPhaseChanged(c); });
    WatchExit(p.amplitude, [this, c] { FinishAmplitudeEntry(c); });
    WatchExit(p.modPeriod, [this, c] { FinishModPeriodEntry(c); });
    WatchExit(p.modDepth, [this, c] { FinishModDepthEntry(c); });
    WatchExit(p.modPhase, [this, c] { FinishModPhaseEntry(c); });
    WatchExit(p.frequency, [this, c] { FinishFilterFrequencyEntry(c); });
    WatchExit(p.gain, [this, c] { FinishFilterGainEntry(c); });
    WatchExit(p.q, [this, c] { FinishFilterQEntry(c); });

    connect(p.onTick, &QCheckBox::toggled, this, &GeneratorWindow::OnChannelTickToggled);
    connect(p.modulationOn, &QCheckBox::toggled, this, [this, c] { OnModulationToggled(c); });
    connect(p.crestFactor, &QComboBox::activated, this, [this, c] { OnCrestFactorChanged(c); });
    connect(p.filterType, &QComboBox::activated, this,
            [this, c] { RunGuarded([this, c] { OnFilterTypeChanged(c); }); });
    if (c == kLeft) {
        connect(p.noiseFunction, &QComboBox::activated, this,
                &GeneratorWindow::OnLeftNoiseFunctionChanged);
        // The left modulation-function list runs the left noise-function change.
        connect(p.modFunction, &QComboBox::activated, this,
                &GeneratorWindow::OnLeftNoiseFunctionChanged);
    } else {
        connect(p.noiseFunction, &QComboBox::activated, this,
                &GeneratorWindow::OnRightNoiseFunctionChanged);
    }
    connect(panels_[c]->copyFromOtherAction(), &QAction::triggered, this,
            [this, c] { CopyChannel(Other(c), c); });
}

// ------------------------------------------------------------ live values

void GeneratorWindow::AmplitudeChanged(int c) {
    if (const auto v = Read(ch(c).amplitude)) {
        engine_.state.channels[c].linearAmplitude = LinearAmplitude(*v);
    }
    if (c == kLeft && AsLeft()) {
        CopyChannel(kLeft, kRight);
        FinishAmplitudeEntry(kRight);
    }
}

void GeneratorWindow::SliderMoved(int c, int position) {
    ch(c).amplitude->setText(QString::fromStdString(FormatNumber(position * -0.01L)));
}

void GeneratorWindow::ModPeriodChanged(int c) {
    QLineEdit* entry = ch(c).modPeriod;
    ChannelEngineState& engine = engine_.state.channels[c];
    if (!entry->text().isEmpty()) {
        const auto v = Read(entry);
        if (!v) {
            return;  // unreadable: no live value, no zero test
        }
        engine.modPeriod = ModPeriodSeconds(*v);
    }
    // A period of 0 would divide by zero in the playing signal.
    if (engine.modPeriod == 0.0f && audioOutput_.Running()) {
        audioOutput_.StopImmediately();
        entry->setText("1");
    }
}

void GeneratorWindow::ModDepthChanged(int c) {
    if (const auto v = Read(ch(c).modDepth); v && !ch(c).modDepth->text().isEmpty()) {
        engine_.state.channels[c].modDepth = ModDepthFraction(*v);
    }
}

void GeneratorWindow::ModPhaseChanged(int c) {
    if (const auto v = Read(ch(c).modPhase)) {
        engine_.state.channels[c].modPhase = ModPhaseRadians(*v);
    }
}

// ------------------------------------------------------------ leaving entries

void GeneratorWindow::FinishAmplitudeEntry(int c) {
    Validate(ch(c).amplitude, kAmplitudeRule);
    const long double v = ReadNumber(ch(c).amplitude->text().toStdString());
    ch(c).amplitudeSlider->setValue(Round(v * -100.0L));
}

void GeneratorWindow::FinishPeriodEntry() {
    Validate(ui.Duration, kPeriodRule);
}

void GeneratorWindow::FinishModPeriodEntry(int c) {
    QLineEdit* entry = ch(c).modPeriod;
    if (const auto v = Read(entry)) {
        engine_.state.channels[c].modPeriod = ModPeriodSeconds(*v);
        entry->setText(
            QString::fromStdString(FormatNumber(std::nearbyint(*v * 1000.0L) / 1000.0L)));
    } else {
        engine_.state.channels[c].modPeriod = 1.0f;
        entry->setText("1");
    }
}

void GeneratorWindow::FinishModDepthEntry(int c) {
    Validate(ch(c).modDepth, kModDepthRule);
}

void GeneratorWindow::FinishModPhaseEntry(int c) {
    Validate(ch(c).modPhase, kModPhaseRule);
}

// The left filter entries take effect at once (preparation); the right ones
// are validated like the left and take effect at the next preparation.
void GeneratorWindow::FinishFilterFrequencyEntry(int c) {
    Validate(ch(c).frequency, FilterFrequencyRule(engine_.state.sampleRate));
    if (c == kLeft) {
        PrepareEngineFromWindow();
    }
}

void GeneratorWindow::FinishFilterGainEntry(int c) {
    if (c == kLeft) {
        PrepareEngineFromWindow();
    } else {
        Validate(ch(c).gain, kFilterGainRule);
    }
}

void GeneratorWindow::FinishFilterQEntry(int c) {
    if (c == kLeft) {
        PrepareEngineFromWindow();
    } else {
        Validate(ch(c).q, kFilterQRule);
    }
}

// ------------------------------------------------------------ channel modes

void GeneratorWindow::OnChannelModeChanged() {
    if (ui.cboChannels->currentIndex() == kMono) {
        ch(kLeft).onTick->setChecked(true);
        ch(kRight).onTick->setChecked(true);
        OnChannelTickToggled();
    }
    const bool r = RightChannelOwn();
    ch(kLeft).onTick->setEnabled(r);
    Ui::ChannelPanel& right = ch(kRight);
    for (QWidget* w :
         {static_cast<QWidget*>(right.onTick), static_cast<QWidget*>(right.filterGroup),
          static_cast<QWidget*>(right.amplitude), static_cast<QWidget*>(right.amplitudeSlider),
          static_cast<QWidget*>(right.amplitudeUnit),
          static_cast<QWidget*>(right.noiseFunctionLabel),
          static_cast<QWidget*>(right.modulationOn), static_cast<QWidget*>(right.noiseFunction),
          static_cast<QWidget*>(right.crestFactor)}) {
        w->setEnabled(r);
    }
    ui.chkAsLeft->setEnabled(Stereo());
    for (QWidget* w :
         {static_cast<QWidget*>(right.noiseFunction), static_cast<QWidget*>(right.filterGroup),
          static_cast<QWidget*>(right.amplitudeGroup)}) {
        ChannelPanel::SetTextGrey(w, !r);
    }
    OnModulationToggled(kRight);
}

void GeneratorWindow::OnChannelTickToggled() {
    const bool leftOn = ch(kLeft).onTick->isChecked();
    const bool rightOn = ch(kRight).onTick->isChecked();
    engine_.state.left().gate = leftOn ? 1 : 0;
    engine_.state.right().gate = rightOn ? 1 : 0;
    const bool any = leftOn || rightOn;
    ui.SaveWaveFile1->setEnabled(any);
    if (any) {
        if (hasOutputDevice_) {
            ui.btnON->setEnabled(true);
            ui.mnuOFF->setEnabled(true);
        }
    } else {
        audioOutput_.StopImmediately();
        ui.btnON->setEnabled(false);
        ui.mnuOFF->setEnabled(false);
    }
}

void GeneratorWindow::OnAsLeftToggled() {
    if (AsLeft()) {
        CopyChannel(kLeft, kRight);
    }
    OnChannelModeChanged();
}

void GeneratorWindow::OnModulationToggled(int c) {
    Ui::ChannelPanel& p = ch(c);
    const bool ticked = p.modulationOn->isChecked();
    // The right side follows "= Left" instead of its own box while it is ticked.
    const bool enabled = c == kLeft ? ticked : ticked && !AsLeft();
    for (QWidget* w :
         {static_cast<QWidget*>(p.modPeriodLabel), static_cast<QWidget*>(p.modPeriodUnit),
          static_cast<QWidget*>(p.modDepthUnit), static_cast<QWidget*>(p.modFunctionLabel),
          static_cast<QWidget*>(p.modDepthLabel), static_cast<QWidget*>(p.modPhaseLabel),
          static_cast<QWidget*>(p.modPeriod), static_cast<QWidget*>(p.modDepth),
          static_cast<QWidget*>(p.modFunction), static_cast<QWidget*>(p.modPhase)}) {
        w->setEnabled(enabled);
    }
    ChannelPanel::SetTextGrey(p.modFunction, !enabled);
    if (c == kLeft) {
        if (AsLeft()) {
            ch(kRight).modulationOn->setChecked(ticked);
        }
        FinishAmplitudeEntry(kLeft);
        FinishAmplitudeEntry(kRight);
    } else {
        FinishAmplitudeEntry(kRight);
    }
    engine_.state.channels[c].modGain = 1.0f;
}

void GeneratorWindow::OnLeftNoiseFunctionChanged() {
    if (AsLeft()) {
        ch(kRight).noiseFunction->setCurrentIndex(ch(kLeft).noiseFunction->currentIndex());
        OnCrestFactorChanged(kRight);
    }
    OnCrestFactorChanged(kLeft);
}

void GeneratorWindow::OnRightNoiseFunctionChanged() {
    OnCrestFactorChanged(kRight);
}

void GeneratorWindow::OnCrestFactorChanged(int c) {
    ChannelEngineState& engine = engine_.state.channels[c];
    engine.crestExponent =
        SelectCrestExponent(ch(c).noiseFunction->currentIndex(), ch(c).crestFactor->currentIndex(),
                            engine.crestExponent);
}

void GeneratorWindow::OnFilterTypeChanged(int) {
    PrepareEngineFromWindow();
}

// Copies on tick, noise function, modulation, amplitude and crest factor; the
// filter, "= Left" and the channel mode stay.
void GeneratorWindow::CopyChannel(int from, int to) {
    Ui::ChannelPanel& src = ch(from);
    Ui::ChannelPanel& dst = ch(to);
    dst.onTick->setChecked(src.onTick->isChecked());
    dst.noiseFunction->setCurrentIndex(src.noiseFunction->currentIndex());
    if (to == kLeft) {
        OnLeftNoiseFunctionChanged();  // copying into the left runs its noise-function change
    }
    dst.modulationOn->setChecked(src.modulationOn->isChecked());
    dst.amplitude->setText(src.amplitude->text());
    dst.modPeriod->setText(src.modPeriod->text());
    dst.modDepth->setText(src.modDepth->text());
    dst.modFunction->setCurrentIndex(src.modFunction->currentIndex());
    dst.modPhase->setText(src.modPhase->text());
    dst.crestFactor->setCurrentIndex(src.crestFactor->currentIndex());
    OnCrestFactorChanged(to);
}

// ------------------------------------------------------------ start state

void GeneratorWindow::ResetSettings() {
    // The reset puts "0" into an amplitude entry by moving its slider to 0,
    // which acts only when the slider moves. An amplitude typed (or loaded)
    // but not yet validated has not moved its slider, and would survive the
    // reset; validating it first brings the slider to the text.
    FinishAmplitudeEntry(kLeft);
    FinishAmplitudeEntry(kRight);
    ch(kLeft).amplitudeSlider->setValue(0);
    ch(kLeft).modulationOn->setChecked(false);
    ch(kLeft).noiseFunction->setCurrentIndex(kPinkNoise);
    OnLeftNoiseFunctionChanged();
    ch(kRight).amplitudeSlider->setValue(0);
    ch(kRight).modulationOn->setChecked(false);
    ch(kRight).noiseFunction->setCurrentIndex(kPinkNoise);
    for (int c = 0; c < kChannelCount; ++c) {
        ch(c).filterType->setCurrentIndex(kFilterNone);
        ch(c).frequency->setText("1000");
        ch(c).gain->setText("0");
        ch(c).q->setText("1");
    }
    for (int c = 0; c < kChannelCount; ++c) {
        ch(c).crestFactor->setCurrentIndex(4);
    }
    OnCrestFactorChanged(kLeft);
    OnCrestFactorChanged(kRight);
    ui.Duration->setText("10");
    FinishPeriodEntry();
    ui.Loop->setChecked(true);
    ui.cboChannels->setCurrentIndex(kMono);
    OnChannelModeChanged();
    for (int c = 0; c < kChannelCount; ++c) {
        ch(c).modPeriod->setText("1");
        ch(c).modDepth->setText("100");
        ch(c).modFunction->setCurrentIndex(kModSine);
        ch(c).modPhase->setText("0");
    }
    ui.WaveDevice->setCurrentIndex(0);
    audioOutput_.SetWaveDevice(kDefaultWaveDevice);
    OnModulationToggled(kLeft);
    OnModulationToggled(kRight);
}

}  // namespace skarnel
