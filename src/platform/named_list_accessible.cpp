#include "platform/named_list_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>

namespace skarnel {

namespace {

class NamedListAccessible : public QAccessibleWidget {
public:
    explicit NamedListAccessible(QComboBox* list)
        : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return list()->accessibleName();
            case QAccessible::Value:
                return list()->currentText();
            default:
                return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) {
            list()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* NamedListFactory(const QString& /*className*/, QObject* object) {
    auto* list = qobject_cast<QComboBox*>(object);
    if (list == nullptr || list->isEditable() || list->accessibleName().isEmpty()) {
        return nullptr;
    }
    return new NamedListAccessible(list);
}

}  // namespace

void InstallNamedListAccessibility() {
    // Qt keeps one entry per factory, so installing again changes nothing.
    QAccessible::installFactory(NamedListFactory);
}

}  // namespace skarnel
