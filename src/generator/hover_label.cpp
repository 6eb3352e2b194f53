#include "generator/hover_label.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

namespace skarnel {

HoverLink* HoverLink::Attach(QLabel* label) {
    return new HoverLink(label);
}

HoverLink::HoverLink(QLabel* label) : QObject(label), label_(label) {
    label->setAttribute(Qt::WA_Hover);
    label->installEventFilter(this);
}

void HoverLink::SetHighlighted(bool on) {
    QFont font = label_->font();
    font.setUnderline(on);
    label_->setFont(font);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, on ? Qt::blue : Qt::black);
    label_->setPalette(palette);
}

bool HoverLink::eventFilter(QObject* watched, QEvent* event) {
    if (watched == label_) {
        switch (event->type()) {
            case QEvent::Enter:
                SetHighlighted(true);
                break;
            case QEvent::Leave:
                SetHighlighted(false);
                break;
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                    emit clicked();
                }
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace skarnel
