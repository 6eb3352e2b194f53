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
    if (on == highlighted_) {
        return;
    }
    highlighted_ = on;
    QFont font = label_->font();
    font.setUnderline(on);
    label_->setFont(font);
    if (on) {
        // Kept with its resolve mask: a label that inherited its palette
        // inherits again after the hover, and follows later theme changes.
        normal_ = label_->palette();
        QPalette link = normal_;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            link.setColor(group, QPalette::WindowText, normal_.color(group, QPalette::Link));
        }
        label_->setPalette(link);
    } else {
        label_->setPalette(normal_);
    }
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
