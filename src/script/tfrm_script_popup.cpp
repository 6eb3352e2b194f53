#include "script/tfrm_script_popup.h"

namespace skarnel {

TfrmScriptPopup::TfrmScriptPopup(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlag(Qt::Tool);
    connect(ui.Button1, &QPushButton::clicked, this, &QWidget::hide);
    connect(ui.Button2, &QPushButton::clicked, this, [this] {
        emit nextPressed();
        hide();
    });
}

void TfrmScriptPopup::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    emit hidden();
}

}  // namespace skarnel
