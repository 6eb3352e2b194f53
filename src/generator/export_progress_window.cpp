#include "generator/export_progress_window.h"

namespace skarnel {

bool exportCancelled = false;

ExportProgressWindow::ExportProgressWindow(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui.btnCancel, &QPushButton::clicked, this, [] { exportCancelled = true; });
}

void ExportProgressWindow::reject() {
    exportCancelled = true;
}

}  // namespace skarnel
