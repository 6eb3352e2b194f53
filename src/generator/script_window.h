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

    // The line being run.
    void SetLabel(const QString& text) { ui.Label1->setText(text); }
    QString label() const { return ui.Label1->text(); }

signals:
    void hidden();
    void nextPressed();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    Ui::ScriptWindow ui;
};

}  // namespace skarnel
