#pragma once

#include <QDialog>
#include <cstdint>

#include "ui_output_settings_dialog.h"

namespace skarnel {

// The "Output Settings" tool window. Its lists hold the output format for the
// whole program; the sampling frequency shown is the program's. Every pick
// stops playback (offRequested) so nothing plays on in a format the boxes no
// longer show. Shown without being modal; closing it re-enables the generator.
class OutputSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OutputSettingsDialog(QWidget* parent = nullptr);

    Ui::OutputSettingsDialog ui;

    std::int32_t SamplingFrequency() const noexcept { return samplingFrequency_; }
    int QuantizationBits() const;
    int BufferCount() const;
    int BufferBytes() const;
    bool DisableScreenSaver() const;

    // The item of the sampling-frequency list, and choosing one as the user
    // does (OFF, then the new frequency); a frequency the list lacks is
    // ignored.
    int SampleRateItem() const;
    void ChooseSampleRateItem(int item);
    void ChooseSamplingFrequency(std::int32_t hz);

    // Sets the default items of a first start.
    void SetDefaults();
    // The program's sampling frequency becomes the chosen item's, without
    // the OFF command of a user's pick (start-up).
    void ApplyChosenFrequency();

signals:
    void offRequested();
    void samplingFrequencyChanged(std::int32_t hz);
    void closedByUser();

public slots:
    // A frequency picked (by the user or the program): OFF, then the new
    // program-wide sampling frequency.
    void OnSampleRateChosen();

public:
    void done(int result) override;

private:
    std::int32_t samplingFrequency_ = 11025;
};

}  // namespace skarnel
