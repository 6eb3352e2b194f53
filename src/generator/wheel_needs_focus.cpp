#include "generator/wheel_needs_focus.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QScrollBar>
#include <QWidget>

namespace skarnel {

void WheelNeedsFocus::InstallWithin(QWidget* root) {
    auto* filter = new WheelNeedsFocus(root);
    const auto install = [filter](QWidget* control) {
        // Strong, not wheel focus: the wheel must not hand out the focus.
        control->setFocusPolicy(Qt::StrongFocus);
        control->installEventFilter(filter);
    };
    for (QAbstractSlider* slider : root->findChildren<QAbstractSlider*>()) {
        // A scroll bar is what the wheel is meant to move.
        if (qobject_cast<QScrollBar*>(slider) == nullptr) {
            install(slider);
        }
    }
    for (QComboBox* list : root->findChildren<QComboBox*>()) {
        install(list);
    }
    for (QAbstractSpinBox* spin : root->findChildren<QAbstractSpinBox*>()) {
        install(spin);
    }
}

bool WheelNeedsFocus::eventFilter(QObject* watched, QEvent* event) {
    auto* control = static_cast<QWidget*>(watched);
    if (event->type() != QEvent::Wheel || control->hasFocus()) {
        return QObject::eventFilter(watched, event);
    }
    // Handed to the scroll area that holds the control, as if the wheel had
    // turned over an empty part of it (the application would not pass it
    // on by itself: a control that takes no wheel still swallows it).
    for (QWidget* holder = control->parentWidget(); holder != nullptr;
         holder = holder->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(holder)) {
            QCoreApplication::sendEvent(area->viewport(), event);
            return true;
        }
    }
    event->ignore();
    return true;
}

}  // namespace skarnel
