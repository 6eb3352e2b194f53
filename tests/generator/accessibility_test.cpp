// What a screen reader hears: every control of every window has a name of
// its own (the two channel panels are alike, so a name must say the side), a
// list is read by its current item and by a label that says what it is for,
// and the labels in front of fields are their buddies.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <map>

#include "generator/export_progress_window.h"
#include "generator/script_control.h"
#include "generator/script_window.h"
#include "generator/wave_export.h"
#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

QString AccessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face == nullptr ? QString() : face->text(QAccessible::Name);
}

// The names of the labels a control is labelled by, as a screen reader
// finds them.
QStringList LabelNames(QWidget* widget) {
    QStringList names;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (face == nullptr) {
        return names;
    }
    for (const auto& [label, relation] : face->relations(QAccessible::Label)) {
        names << label->text(QAccessible::Name);
    }
    return names;
}

// What a control is called when a screen reader comes to it: a list by its
// labels (its own name is its current item), anything else by its name.
QString CalledBy(QWidget* widget) {
    if (qobject_cast<QComboBox*>(widget) != nullptr) {
        return LabelNames(widget).join(", ");
    }
    return AccessibleName(widget);
}

bool IsControl(QWidget* widget) {
    return qobject_cast<QAbstractButton*>(widget) != nullptr ||
           qobject_cast<QComboBox*>(widget) != nullptr ||
           (qobject_cast<QLineEdit*>(widget) != nullptr &&
            qobject_cast<QComboBox*>(widget->parentWidget()) == nullptr) ||
           qobject_cast<QAbstractSlider*>(widget) != nullptr ||
           qobject_cast<QProgressBar*>(widget) != nullptr;
}

class AccessibilityTest : public GeneratorTest {
protected:
    // Every control of `window` has a name, and no two share one.
    static void ExpectNamedOnce(QWidget& window) {
        std::map<QString, QString> owners;  // name -> objectName
        for (QWidget* widget : window.findChildren<QWidget*>()) {
            if (!IsControl(widget) || widget->inherits("QScrollBar")) {
                continue;
            }
            const QString name = CalledBy(widget);
            EXPECT_FALSE(name.trimmed().isEmpty())
                << window.objectName().toStdString() << ": " << widget->objectName().toStdString()
                << " has no name";
            const auto [at, added] = owners.emplace(name, widget->objectName());
            EXPECT_TRUE(added) << window.objectName().toStdString() << ": \"" << name.toStdString()
                               << "\" names both " << at->second.toStdString() << " and "
                               << widget->objectName().toStdString();
        }
        EXPECT_FALSE(owners.empty());
    }
};

TEST_F(AccessibilityTest, EveryControlHasANameOfItsOwn) {
    ExpectNamedOnce(*window);
    ExpectNamedOnce(*settings);
    ExpectNamedOnce(window->scripts().window());
    ExpectNamedOnce(window->exporter().progressWindow());

    // The side and the role, for the two look-alike panels.
    EXPECT_EQ(AccessibleName(Find<QLineEdit>("AmplitudeLeft")), "Left channel amplitude in dBFS");
    EXPECT_EQ(AccessibleName(Find<QLineEdit>("txtQR")), "Right filter Q");
    // A memory button says its slot; the preset's name is its description.
    auto* memory = Find<QAbstractButton>("btnMemory2");
    EXPECT_EQ(AccessibleName(memory), "Memory slot 2");
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(memory);
    EXPECT_FALSE(face->text(QAccessible::Description).isEmpty());
}

// A list is read by its current item, follows it, can be walked item by
// item, and is labelled by what it is for, side included.
TEST_F(AccessibilityTest, AListIsReadByItsCurrentItemAndLabelledByWhatItChooses) {
    const std::pair<const char*, const char*> lists[] = {
        {"cboCrestFactorL", "Left crest factor"},
        {"WaveFormRight", "Right noise function"},
        {"cboChannels", "Channel mode"},
        {"cboFilterTypeL1", "Left filter type"},
        {"ModFunctionRight", "Right modulation function"},
        {"WaveDevice", "Output device"},
        {"cboBufferSize", "Buffer size"},
    };
    for (const auto& [object, purpose] : lists) {
        SCOPED_TRACE(object);
        auto* box = Find<QComboBox>(object);
        EXPECT_TRUE(LabelNames(box).contains(purpose)) << LabelNames(box).join(", ").toStdString();
        EXPECT_EQ(AccessibleName(box), box->currentText());
        box->setCurrentIndex((box->currentIndex() + 1) % box->count());
        EXPECT_EQ(AccessibleName(box), box->currentText());
        QAccessibleInterface* items = QAccessible::queryAccessibleInterface(box)->child(0);
        ASSERT_NE(items, nullptr);
        EXPECT_EQ(items->childCount(), box->count());
    }
}

TEST_F(AccessibilityTest, LabelsInFrontOfFieldsAreTheirBuddies) {
    for (QWidget* root :
         {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(settings.get())}) {
        for (QLabel* label : root->findChildren<QLabel*>()) {
            // The role labels ("Frequency", "Channels"); units, readouts and
            // captions are no field's label.
            const QString name = label->objectName();
            if (!name.contains("Label") || name.startsWith("crestFactorLink")) {
                continue;
            }
            EXPECT_NE(label->buddy(), nullptr) << name.toStdString();
        }
    }
}

}  // namespace
}  // namespace skarnel::testing
