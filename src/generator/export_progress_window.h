#pragma once

#include <QDialog>

#include "ui_export_progress_window.h"

namespace skarnel {

// The program's request to cancel a running WAV export: set by the progress
// window's Cancel (or Esc), read and cleared by the writer.
extern bool exportCancelled;

// The progress window of a WAV export: a small tool window without title-bar
// buttons. Its Cancel only raises exportCancelled; the writer acts on it.
class ExportProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ExportProgressWindow(QWidget* parent = nullptr);
    Ui::ExportProgressWindow ui;

    // Esc presses Cancel; nothing closes the window but the export itself.
    void reject() override;
};

}  // namespace skarnel
