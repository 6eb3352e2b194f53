#pragma once

#include <QDialog>

#include "ui_tfrm_wait.h"

namespace skarnel {

// The program's request to cancel a running WAV export: set by the progress
// window's Cancel (or Esc), read and cleared by the writer.
extern bool exportCancelled;

// The progress window of a WAV export: a small tool window without title-bar
// buttons. Its Cancel only raises exportCancelled; the writer acts on it.
class TfrmWait : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWait(QWidget* parent = nullptr);
    Ui::TfrmWait ui;

    // Esc presses Cancel; nothing closes the window but the export itself.
    void reject() override;
};

}  // namespace skarnel
