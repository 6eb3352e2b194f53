// The four memory presets of the window: store, recall, rename, and loading
// and saving them as preset files.
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include "generator/generator_window.h"
#include "numtext/entry_rules.h"
#include "platform/dialogs.h"

namespace skarnel {

namespace {

constexpr int kSlotCount = 4;
constexpr int kShortTextLength = 255;

bool ValidSlot(int slot) {
    return slot >= 1 && slot <= kSlotCount;
}

std::string Short(const QString& text) {
    return text.left(kShortTextLength).toStdString();
}
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QPushButton* GeneratorWindow::memoryButton(int slot) const {
    switch (slot) {
        case 1:
            return ui.btnMemory1;
        case 2:
            return ui.btnMemory2;
        case 3:
            return ui.btnMemory3;
        case 4:
            return ui.btnMemory4;
        default:
            return nullptr;
    }
}

void GeneratorWindow::ConnectPresets() {
    const std::array<QAction*, kSlotCount> recall = {ui.mnuRecallPreset1, ui.mnuRecallPreset2,
                                                     ui.mnuRecallPreset3, ui.mnuRecallPreset4};
    const std::array<QAction*, kSlotCount> store = {ui.mnuStorePreset1, ui.mnuStorePreset2,
                                                    ui.mnuStorePreset3, ui.mnuStorePreset4};
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        QPushButton* button = memoryButton(slot);
        connect(button, &QPushButton::clicked, this, [this, slot] { RecallMemory(slot); });
        connect(recall[slot - 1], &QAction::triggered, this, [this, slot] { RecallMemory(slot); });
        connect(store[slot - 1], &QAction::triggered, this, [this, slot] { StoreMemory(slot); });
        auto* menu = new QMenu(button);
        QAction* storeEntry = menu->addAction("Store", this, [this, slot] { StoreMemory(slot); });
        if (slot == 1) {
            storeEntry->setToolTip("Store settings in this memory position");
            menu->setToolTipsVisible(true);
        }
        menu->addAction("Rename", this, [this, slot] { RenameMemory(slot); });
        connect(button, &QWidget::customContextMenuRequested, this,
                [button, menu](const QPoint& at) { menu->popup(button->mapToGlobal(at)); });
    }
    connect(ui.mnuResetSettings, &QAction::triggered, this, &GeneratorWindow::ResetSettings);
    connect(ui.LoadPresets1, &QAction::triggered, this, &GeneratorWindow::LoadPresetsCommand);
    connect(ui.SavePresetsAs1, &QAction::triggered, this, &GeneratorWindow::SavePresetsAsCommand);

    renameField_ = new QLineEdit(this);
    renameField_->setObjectName("MemoryNameEdit");
    renameField_->setFrame(false);
    renameField_->hide();
    renameField_->setEnabled(false);
    renameField_->installEventFilter(this);
}

// Copies the window's settings into a slot as they stand: nothing is
// validated and the output is left alone. The slot keeps its name.
void GeneratorWindow::StoreMemory(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    MemoryPreset& p = presets_[slot - 1];
    p.period = Short(ui.Duration->text());
    p.loop = ui.Loop->isChecked();
    p.mono = ui.cboChannels->currentIndex() == kMono;
    p.asLeft = ui.chkAsLeft->isChecked();
    for (int c = 0; c < kChannelCount; ++c) {
        const Ui::ChannelPanel& from = ch(c);
        const auto to = PresetChannelOf(p, c);
        to.amplitude = Short(from.amplitude->text());
        to.noiseFunction = from.noiseFunction->currentIndex();
        to.modulation = from.modulationOn->isChecked();
        to.on = from.onTick->isChecked();
        to.modPeriod = Short(from.modPeriod->text());
        to.modDepth = Short(from.modDepth->text());
        to.modFunction = from.modFunction->currentIndex();
        to.modPhase = Short(from.modPhase->text());
        to.crestFactor = from.crestFactor->currentIndex();
        to.filterType = from.filterType->currentIndex();
        to.frequency = from.frequency->text().toStdString();
        to.gain = from.gain->text().toStdString();
        to.q = from.q->text().toStdString();
    }
}

void GeneratorWindow::ValidateFilterAndPrepare(QLineEdit* entry, const EntryRule& rule) {
    entry->setText(QString::fromStdString(rule.Apply(entry->text().toStdString())));
    PrepareEngineFromWindow();
}

// Applies a slot in a fixed order; every entry set has the consequences of the
// user's change. A filter text the preparation cannot read ends the recall
// with the error (RunGuarded); the entries set before keep their values.
void GeneratorWindow::RecallMemory(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    RunGuarded([this, slot] {
        MemoryPreset p = presets_[slot - 1];  // a copy: handlers may store
        const auto left = PresetChannelOf(p, kLeft);
        const auto right = PresetChannelOf(p, kRight);
        audioOutput_.StopImmediately();

        ch(kLeft).amplitude->setText(Q(left.amplitude));
        ch(kLeft).noiseFunction->setCurrentIndex(left.noiseFunction);
        OnLeftNoiseFunctionChanged();
        ch(kLeft).modulationOn->setChecked(left.modulation);

        ch(kRight).amplitude->setText(Q(right.amplitude));
        ch(kRight).noiseFunction->setCurrentIndex(right.noiseFunction);
        ch(kRight).modulationOn->setChecked(right.modulation);

        ui.Duration->setText(Q(p.period));
        FinishPeriodEntry();
        ui.Loop->setChecked(p.loop);
        ui.cboChannels->setCurrentIndex(p.mono ? kMono : kStereo);
        OnChannelModeChanged();
        ch(kLeft).onTick->setChecked(left.on);
        ch(kRight).onTick->setChecked(right.on);

        for (const int c : {kLeft, kRight}) {
            ch(c).modPeriod->setText(Q(PresetChannelOf(p, c).modPeriod));
        }
        for (const int c : {kLeft, kRight}) {
            ch(c).modDepth->setText(Q(PresetChannelOf(p, c).modDepth));
        }
        for (const int c : {kLeft, kRight}) {
            ch(c).modFunction->setCurrentIndex(PresetChannelOf(p, c).modFunction);
        }
        for (const int c : {kLeft, kRight}) {
            ch(c).modPhase->setText(Q(PresetChannelOf(p, c).modPhase));
        }
        FinishAmplitudeEntry(kLeft);
        FinishAmplitudeEntry(kRight);
        for (const int c : {kLeft, kRight}) {
            ch(c).crestFactor->setCurrentIndex(PresetChannelOf(p, c).crestFactor);
        }
        OnCrestFactorChanged(kLeft);
        OnCrestFactorChanged(kRight);
        ui.chkAsLeft->setChecked(p.asLeft);

        // The left frequency is not validated here; the other five filter
        // texts are, each followed by preparation.
        ch(kLeft).filterType->setCurrentIndex(left.filterType);
        OnFilterTypeChanged(kLeft);
        ch(kLeft).frequency->setText(Q(left.frequency));
        ch(kLeft).gain->setText(Q(left.gain));
        ValidateFilterAndPrepare(ch(kLeft).gain, kFilterGainRule);
        ch(kLeft).q->setText(Q(left.q));
        ValidateFilterAndPrepare(ch(kLeft).q, kFilterQRule);

        ch(kRight).filterType->setCurrentIndex(right.filterType);
        OnFilterTypeChanged(kRight);
        ch(kRight).frequency->setText(Q(right.frequency));
        ValidateFilterAndPrepare(ch(kRight).frequency,
                                 FilterFrequencyRule(engine_.state.sampleRate));
        ch(kRight).gain->setText(Q(right.gain));
        ValidateFilterAndPrepare(ch(kRight).gain, kFilterGainRule);
        ch(kRight).q->setText(Q(right.q));
        ValidateFilterAndPrepare(ch(kRight).q, kFilterQRule);

        if (ui.mnuAutostart->isChecked()) {
            OnCommand();
        }
    });
}

// An inline field over the button takes the new name; Enter or leaving it
// ends the rename.
void GeneratorWindow::RenameMemory(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    QPushButton* button = memoryButton(slot);
    renamingSlot_ = slot;
    SetDefaultButton(nullptr);
    button->setText(QString());
    renameField_->setGeometry(
        button->geometry().translated(button->parentWidget()->mapTo(this, QPoint(0, 0))));
    QPalette palette = renameField_->palette();
    palette.setColor(QPalette::Base, button->palette().color(QPalette::Button));
    renameField_->setPalette(palette);
    renameField_->clear();
    renameField_->setEnabled(true);
    renameField_->show();
    renameField_->raise();
    renameField_->setFocus();
}

void GeneratorWindow::FinishRename() {
    if (renamingSlot_ == 0) {
        return;
    }
    const int slot = renamingSlot_;
    renamingSlot_ = 0;
    const QString name = renameField_->text();
    memoryButton(slot)->setText(name);
    presets_[slot - 1].name = Short(name);
    SetDefaultButton(ui.btnON);
    renameField_->hide();
    renameField_->setEnabled(false);
}

bool GeneratorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == renameField_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                FinishRename();
                return true;  // Enter ends the rename; it does not press ON
            }
        } else if (event->type() == QEvent::FocusOut) {
            FinishRename();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void GeneratorWindow::FillMemoryFromWindow() {
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        StoreMemory(slot);
        presets_[slot - 1].name = "Memory " + std::to_string(slot);
    }
    ShowPresetNames();
}

void GeneratorWindow::ShowPresetNames() {
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        memoryButton(slot)->setText(Q(presets_[slot - 1].name));
    }
}

std::string GeneratorWindow::LoadPresets(const QString& path) {
    const std::string error = LoadPresetFile(path.toStdString(), presets_);
    if (error.empty()) {
        ShowPresetNames();
    }
    return error;
}

void GeneratorWindow::LoadPresetsCommand() {
    audioOutput_.StopImmediately();
    const std::optional<QString> path =
        dialogs_.OpenFile({"Open preset file", "Velmor Presets", "*.vlm", "vlm", {}, false, {}});
    if (!path) {
        return;
    }
    const std::string error = LoadPresets(*path);
    if (!error.empty()) {
        dialogs_.Note(QString::fromStdString(error));
    }
}

void GeneratorWindow::SavePresetsAsCommand() {
    audioOutput_.StopImmediately();
    std::optional<QString> path =
        dialogs_.SaveFile({"Save VLM presets", "VLM presets", "*.vlm", "vlm", {}, false, {}});
    if (!path) {
        return;
    }
    if (QFileInfo(*path).suffix().isEmpty()) {
        *path += ".vlm";
    }
    const std::string error = SavePresetFile(path->toStdString(), presets_);
    if (!error.empty()) {
        dialogs_.Note(QString::fromStdString(error));
    }
}

}  // namespace skarnel
