#include "settings_dialog/output_settings_dialog.h"

#include <QCloseEvent>
#include <QShortcut>

#include "platform/help_router.h"

namespace skarnel {

namespace {

// Item order and count are part of the stored format: the settings keep indexes.
const char* const kFrequencies[] = {"8000", "11025", "22050", "44100", "48000", "96000", "192000"};
const char* const kQuantizations[] = {"8", "16", "24"};
const char* const kBufferSizes[] = {"4096", "8192", "16384", "32768", "64536"};
const char* const kBufferCounts[] = {"2", "3", "4"};

int ItemNumber(const QComboBox* box) {
    return box->currentText().toInt();
}

}  // namespace

OutputSettingsDialog::OutputSettingsDialog(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlag(Qt::Tool);
    for (const char* item : kFrequencies) {
        ui.cboFsList->addItem(item);
    }
    for (const char* item : kQuantizations) {
        ui.cboQuant->addItem(item);
    }
    for (const char* item : kBufferSizes) {
        ui.cboBufferSize->addItem(item);
    }
    for (const char* item : kBufferCounts) {
        ui.cboBuffers->addItem(item);
    }
    SetDefaults();
    samplingFrequency_ = ItemNumber(ui.cboFsList);

    // Only the user's picks count as changes; the program sets items silently.
    connect(ui.cboFsList, &QComboBox::activated, this, &OutputSettingsDialog::OnSampleRateChosen);
    for (QComboBox* box : {ui.cboQuant, ui.cboBufferSize, ui.cboBuffers}) {
        connect(box, &QComboBox::activated, this, &OutputSettingsDialog::offRequested);
    }
    connect(ui.btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(ui.btnHelp, &QPushButton::clicked, this, [] { ShowHelpTopic(kOutputSettingsHelp); });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [] { ShowHelpTopic(kOutputSettingsHelp); });
}

void OutputSettingsDialog::SetDefaults() {
    ui.cboFsList->setCurrentIndex(1);
    ui.cboQuant->setCurrentIndex(1);
    ui.cboBufferSize->setCurrentIndex(2);
    ui.cboBuffers->setCurrentIndex(2);
    ui.chkDisableSS->setChecked(true);
}

void OutputSettingsDialog::ApplyChosenFrequency() {
    samplingFrequency_ = ItemNumber(ui.cboFsList);
    emit samplingFrequencyChanged(samplingFrequency_);
}

void OutputSettingsDialog::OnSampleRateChosen() {
    emit offRequested();
    samplingFrequency_ = ItemNumber(ui.cboFsList);
    emit samplingFrequencyChanged(samplingFrequency_);
}

int OutputSettingsDialog::QuantizationBits() const {
    return ItemNumber(ui.cboQuant);
}
int OutputSettingsDialog::BufferCount() const {
    return ItemNumber(ui.cboBuffers);
}
int OutputSettingsDialog::BufferBytes() const {
    return ItemNumber(ui.cboBufferSize);
}
bool OutputSettingsDialog::DisableScreenSaver() const {
    return ui.chkDisableSS->isChecked();
}

void OutputSettingsDialog::closeEvent(QCloseEvent* event) {
    QDialog::closeEvent(event);
    emit closedByUser();
}

}  // namespace skarnel
