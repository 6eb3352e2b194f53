#include "script/tfrm_script_popup.h"

#include <QShortcut>

#include "platform/help_router.h"

namespace skarnel {

TfrmScriptPopup::TfrmScriptPopup(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlag(Qt::Tool);
    connect(ui.Button1, &QPushButton::clicked, this, &QWidget::hide);
    connect(ui.Button2, &QPushButton::clicked, this, [this] {
        emit nextPressed();
        hide();
    });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [] { ShowHelpTopic(kScriptHelp); });
}

void TfrmScriptPopup::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    emit hidden();
}

}  // namespace skarnel
