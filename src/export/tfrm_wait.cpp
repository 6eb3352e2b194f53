#include "export/tfrm_wait.h"

namespace skarnel {

bool exportCancelled = false;

TfrmWait::TfrmWait(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui.btnCancel, &QPushButton::clicked, this, [] { exportCancelled = true; });
}

void TfrmWait::reject() {
    exportCancelled = true;
}

}  // namespace skarnel
