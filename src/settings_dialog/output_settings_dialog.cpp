#include "settings_dialog/output_settings_dialog.h"

#include <QShortcut>

#include "platform/help_router.h"
#include "platform/list_labels.h"
#include "settings/choice_lists.h"

namespace skarnel {

namespace {

template <std::size_t N>
void Fill(QComboBox* list, const std::array<std::int32_t, N>& items) {
    for (const std::int32_t item : items) {
        list->addItem(QString::number(item));
    }
}

int ItemNumber(const QComboBox* box) {
    return box->currentText().toInt();
}

}  // namespace

OutputSettingsDialog::OutputSettingsDialog(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlag(Qt::Tool);
    // What each list is for, said to screen readers by its label; the list
    // itself is read by its current item.
    ui.cboFsList->setAccessibleName("Sampling frequency");
    ui.cboQuant->setAccessibleName("Sample size in bits");
    ui.cboBufferSize->setAccessibleName("Buffer size");
    ui.cboBuffers->setAccessibleName("Number of buffers");
    LabelListsForScreenReaders(*this);
    // The items' order and count are part of the stored format: the store
    // keeps indexes.
    Fill(ui.cboFsList, kSampleRateItems);
    Fill(ui.cboQuant, kQuantizationItems);
    Fill(ui.cboBufferSize, kBufferSizeItems);
    Fill(ui.cboBuffers, kBufferCountItems);
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

int OutputSettingsDialog::SampleRateItem() const {
    return ui.cboFsList->currentIndex();
}

void OutputSettingsDialog::ChooseSampleRateItem(int item) {
    ui.cboFsList->setCurrentIndex(item);
    OnSampleRateChosen();
}

void OutputSettingsDialog::ChooseSamplingFrequency(std::int32_t hz) {
    const int item = skarnel::SampleRateItem(hz);
    if (item >= 0) {
        ChooseSampleRateItem(item);
    }
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

// Every way of closing ends here: the Close button and the title bar through
// close() and reject(), Escape through reject() alone.
void OutputSettingsDialog::done(int result) {
    QDialog::done(result);
    emit closedByUser();
}

}  // namespace skarnel
