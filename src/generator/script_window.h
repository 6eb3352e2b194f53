#pragma once

#include <QDialog>

#include "ui_script_window.h"

namespace skarnel {

// The small window of a running script: the line being run, Cancel (ends
// after the current command) and Next (cuts the current wait short and
// ends). Hiding it in any way emits hidden(), which enables the generator.
class ScriptWindow : public QDialog {
    Q_OBJECT
public:
    explicit ScriptWindow(QWidget* parent = nullptr);
    Ui::ScriptWindow ui;

signals:
    void hidden();
    void nextPressed();

protected:
    void hideEvent(QHideEvent* event) override;
};

}  // namespace skarnel
