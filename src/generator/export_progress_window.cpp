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

void ExportProgressWindow::reject() {
    cancelRequested_ = true;
}

}  // namespace skarnel
