#include "generator/script_window.h"

#include <QShortcut>

#include "platform/help_router.h"

namespace skarnel {

ScriptWindow::ScriptWindow(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    // A tool window without title-bar buttons: Cancel and Next end it.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui.Button1, &QPushButton::clicked, this, &QWidget::hide);
    connect(ui.Button2, &QPushButton::clicked, this, [this] {
        emit nextPressed();
        hide();
    });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [] { ShowHelpTopic(kScriptHelp); });
}

void ScriptWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    emit hidden();
}

}  // namespace skarnel
