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
    if (on) {
        // Kept with their resolve masks: a label that inherited its palette
        // and font inherits them again after the hover, and follows later
        // theme changes.
        normalPalette_ = label_->palette();
        normalFont_ = label_->font();
        QPalette link = normalPalette_;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            link.setColor(group, QPalette::WindowText, normalPalette_.color(group, QPalette::Link));
        }
        label_->setPalette(link);
        QFont underlined = normalFont_;
        underlined.setUnderline(true);
        label_->setFont(underlined);
    } else {
        label_->setPalette(normalPalette_);
        label_->setFont(normalFont_);
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
