#pragma once

#include <QDialog>

#include "ui_export_progress_window.h"

namespace skarnel {

// The progress window of a WAV export: a small tool window without title-bar
// buttons. Its Cancel (or Esc) only raises the cancel request; the writer
// reads and clears it.
class ExportProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ExportProgressWindow(QWidget* parent = nullptr);

    void ShowProgress(int percent);
    int progress() const;
    bool& cancelRequested() noexcept { return cancelRequested_; }

    // Esc presses Cancel; nothing closes the window but the export itself.
    void reject() override;

protected:
    // Takes the keyboard focus, so that Esc reaches Cancel.
    void showEvent(QShowEvent* event) override;

private:
    Ui::ExportProgressWindow ui;
    bool cancelRequested_ = false;
};

}  // namespace skarnel
