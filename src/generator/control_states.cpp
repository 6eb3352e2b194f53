// The one place that decides which of the generator window's controls are
// enabled, greyed, locked and checked. Handlers change values and then call
// UpdateControlStates(); nothing else enables or disables a control.
#include <QMenu>
#include <QPushButton>

#include "generator/generator_window.h"
#include "generator/live_view.h"
#include "generator/status_lamp.h"
#include "persistence/settings_store.h"
#include "ui_generator_window.h"

namespace skarnel {

namespace {

void Enable(std::initializer_list<QWidget*> widgets, bool enabled) {
    for (QWidget* w : widgets) {
        w->setEnabled(enabled);
    }
}

}  // namespace

QString GeneratorWindow::WindowTitle(bool playing) {
    const QString product = QString::fromUtf8(kProductName.data(), qsizetype(kProductName.size()));
    return playing ? "ON - " + product : product;
}

void GeneratorWindow::UpdateControlStates() {
    const bool playing = audioOutput_.Running();
    const bool stereo = model_.Stereo();
    // The right channel has settings of its own: Stereo without "= Left".
    const bool rightOwn = model_.RightChannelOwn();
    const bool anyOn = model_.AnyChannelOn();
    const bool renaming = presets_ != nullptr && presets_->renaming();

    // A running export or script holds the window; its own small window is
    // what reacts meanwhile.
    const bool held = modal_ == ModalOperation::kExport || modal_ == ModalOperation::kScript;
    ui->headerWidget->setEnabled(!held);
    ui->centralWidget->setEnabled(!held);  // the scroll bars stay usable
    menuBar()->setEnabled(!held);
    // Menus are windows of their own, which a disabled parent does not reach.
    for (QMenu* menu : {ui->mnuFile, ui->mnuTools, ui->mnuView, ui->mnuHelp}) {
        menu->setEnabled(!held);
    }

    // Window-wide values: locked while a signal plays.
    Enable({ui->cboChannels, ui->WaveDevice, ui->Duration, ui->Loop}, !playing);
    ui->chkAsLeft->setEnabled(stereo);
    if (!playing) {
        liveView_->ShowEmptyChannels(stereo ? 2 : 1);  // mono shows one row
    }
    for (int slot = 1; slot <= MemoryPresets::kSlotCount; ++slot) {
        presets_->button(slot)->setEnabled(!playing);
    }
    ui->mnuPresets->setEnabled(!playing && !held);
    // Right after a reset, Ctrl+Z undoes it; after any change it resets, even
    // when a later change happens to lead back to the reset values.
    if (!ResetUndoable()) {
        beforeReset_.reset();
    }
    const bool undoable = ResetUndoable() && !playing && !held;
    ui->mnuUndoReset->setEnabled(undoable);
    ui->mnuUndoReset->setShortcut(undoable ? QKeySequence(Qt::CTRL | Qt::Key_Z) : QKeySequence());
    ui->mnuResetSettings->setShortcut(undoable ? QKeySequence()
                                               : QKeySequence(Qt::CTRL | Qt::Key_Z));

    // Starting needs a channel to play; the button also needs a device,
    // while the menu entry still tries and reports why it cannot. Stopping
    // stays possible whenever something plays.
    ui->btnON->setEnabled(anyOn && hasOutputDevice());
    ui->mnuON->setEnabled(anyOn);
    ui->mnuOFF->setEnabled((anyOn && hasOutputDevice()) || playing);
    ui->SaveWaveFile1->setEnabled(anyOn);

    // The playing look.
    QPushButton* defaultButton = renaming ? nullptr : playing ? ui->btnOFF : ui->btnON;
    for (QPushButton* b : {ui->btnON, ui->btnOFF}) {
        b->setDefault(b == defaultButton);
    }
    defaultButton_ = defaultButton;
    QFont pauseFont = ui->btnPause->font();
    pauseFont.setBold(audioOutput_.Paused());
    ui->btnPause->setFont(pauseFont);
    ui->LED->SetColour(playing ? StatusLamp::kPlaying : StatusLamp::kStopped);
    setWindowTitle(WindowTitle(playing));

    for (int c = 0; c < kChannelCount; ++c) {
        Ui::ChannelPanel& p = panels_[c]->ui;
        // The left side is always its own; the right one only with rightOwn.
        const bool own = c == kLeft || rightOwn;
        // A channel that is not its own shows its settings greyed: each
        // control disabled, and the amplitude group's title with them. Only
        // enabled states change here, never palettes: a palette set at every
        // toggle was a new key for caches that grew with each one while the
        // window painted.
        p.amplitudeGroup->setEnabled(own);
        p.onTick->setEnabled(rightOwn);  // Mono and "= Left" fix both ticks
        Enable({p.filterGroup, p.amplitudeSlider, p.amplitudeUnit, p.noiseFunctionLabel,
                p.crestFactorLabel, p.modulationOn, p.noiseFunction, p.crestFactor},
               own);
        p.amplitude->setEnabled(own && !playing);
        const FilterFieldsEnabled filter = model_.filterEntries(c);
        p.frequency->setEnabled(filter.frequency);
        p.gain->setEnabled(filter.gain);
        p.q->setEnabled(filter.q);
        // The right modulation follows "= Left" instead of its own box while
        // it is ticked.
        const bool modulation = model_.channel(c).modulationOn && (c == kLeft || !model_.AsLeft());
        Enable(
            {p.modPeriodLabel, p.modPeriodUnit, p.modDepthUnit, p.modFunctionLabel, p.modDepthLabel,
             p.modPhaseLabel, p.modPhaseUnit, p.modPeriod, p.modDepth, p.modFunction, p.modPhase},
            modulation);
    }
}

}  // namespace skarnel
