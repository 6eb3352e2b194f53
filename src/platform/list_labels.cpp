#include "platform/list_labels.h"

#include <QComboBox>
#include <QLabel>
#include <QWidget>

namespace skarnel {

namespace {

QLabel* LabelInFrontOf(QComboBox& list) {
    QWidget* parent = list.parentWidget();
    if (parent == nullptr) {
        return nullptr;
    }
    for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == &list) {
            return label;
        }
    }
    return nullptr;
}

}  // namespace

void LabelListsForScreenReaders(QWidget& root) {
    for (QComboBox* list : root.findChildren<QComboBox*>()) {
        const QString name = list->accessibleName();
        if (name.isEmpty() || list->isEditable() || list->parentWidget() == nullptr) {
            continue;
        }
        QLabel* label = LabelInFrontOf(*list);
        if (label == nullptr) {
            // A list with no caption on screen (the output device, a filter
            // type under its group's title) still needs one to be read by.
            label = new QLabel(name, list->parentWidget());
            label->setBuddy(list);
            label->hide();
        }
        // The caption on screen is short ("Function"); what is read says
        // the side and the role.
        label->setAccessibleName(name);
    }
}

}  // namespace skarnel
