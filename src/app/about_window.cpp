#include "app/about_window.h"

#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QScreen>

#include "platform/help_router.h"
#include "base/product_info.h"

namespace skarnel {

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    ui.setupUi(this);
    ui.ProductName->setText(kProductTitle);
    ui.Version->setText(QString("Version ") + kProductVersion);
    ui.imgIcon->setPixmap(QIcon(":/app/skarnel-64.png").pixmap(64, 64));
    connect(ui.btnOK, &QPushButton::clicked, this, &QWidget::close);
    connect(ui.btnHelp, &QPushButton::clicked, this, [] { ShowHelpTopic(kAboutHelp); });
    connect(ui.lblLink, &QLabel::linkActivated, this, [this] {
        if (openWebPage) {
            openWebPage();
        }
    });
}

void AboutWindow::ShowFor(QWidget* owner) {
    owner_ = owner;
    if (owner_ != nullptr) {
        owner_->setEnabled(false);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->geometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
}

void AboutWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (owner_ != nullptr) {
        owner_->setEnabled(true);
        owner_ = nullptr;
    }
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ShowHelpTopic(kAboutHelp);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace skarnel
