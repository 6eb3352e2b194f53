#pragma once

#include <QDialog>

#include "ui_tfrm_script_popup.h"

namespace skarnel {

// The small window of a running script: the line being run, Cancel (ends
// after the current command) and Next (cuts the current wait short and
// ends). Hiding it in any way emits hidden(), which enables the generator.
class TfrmScriptPopup : public QDialog {
    Q_OBJECT
public:
    explicit TfrmScriptPopup(QWidget* parent = nullptr);
    Ui::TfrmScriptPopup ui;

signals:
    void hidden();
    void nextPressed();

protected:
    void hideEvent(QHideEvent* event) override;
};

}  // namespace skarnel
