#include "generator/export_progress_window.h"

namespace skarnel {

ExportProgressWindow::ExportProgressWindow(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui.ProgressBar1->setAccessibleName("Export progress");
    connect(ui.btnCancel, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });
}

void ExportProgressWindow::ShowProgress(int percent) {
    ui.ProgressBar1->setValue(percent);
}

int ExportProgressWindow::progress() const {
    return ui.ProgressBar1->value();
}

// However the export was started (keys, menu, mouse), the window that shows
// its progress is the one the keyboard talks to: the generator window is
// disabled meanwhile, and Esc there would be lost while the export ran on.
void ExportProgressWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    raise();
    activateWindow();
    ui.btnCancel->setFocus();
}

void ExportProgressWindow::reject() {
    cancelRequested_ = true;
}

}  // namespace skarnel
