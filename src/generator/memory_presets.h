#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <string>

#include "persistence/preset_file.h"

class QAction;
class QLineEdit;
class QPushButton;
class QWidget;

namespace skarnel {

class Dialogs;
class GeneratorModel;

// The window's four memory slots: the buttons that recall them, their Store
// and Rename entries, the Presets menu and the preset files of the File menu.
// Slots are numbered 1 to 4; other numbers are ignored.
class MemoryPresets : public QObject {
    Q_OBJECT
public:
    static constexpr int kSlotCount = 4;

    struct Widgets {
        std::array<QPushButton*, kSlotCount> buttons;
        std::array<QAction*, kSlotCount> recallEntries;
        std::array<QAction*, kSlotCount> storeEntries;
        QAction* loadFile;
        QAction* saveFile;
    };
    // What the slots ask of their window: recall a slot into it, stop its
    // output (before a file dialog), and learn when a rename starts or ends
    // (Enter ends a rename instead of pressing the default button).
    struct Window {
        QWidget* widget;
        std::function<void(int slot)> recall;
        std::function<void()> stopOutput;
        std::function<void()> renamingChanged;
    };
    MemoryPresets(Widgets widgets, Window window, const GeneratorModel& model, Dialogs& dialogs);

    PresetSlots& records() noexcept { return slots_; }
    QPushButton* button(int slot) const;
    bool renaming() const noexcept { return renamingSlot_ != 0; }

    // Copies the window's settings into a slot as they stand: nothing is
    // validated and the output is left alone. The slot keeps its name.
    void Store(int slot);
    // An inline field over the button takes the new name; Enter or leaving it
    // ends the rename.
    void Rename(int slot);
    // Fills every slot from the window, named "Memory 1".."Memory 4".
    void FillFromWindow();
    // Loads a preset file into the slots ("" or the message of a failure) and
    // shows the slot names on the buttons.
    std::string Load(const QString& path);
    void LoadCommand();
    void SaveAsCommand();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FinishRename();
    void ShowNames();
    // Shows a slot's name on its button, cut with "..." to the button's width
    // (the whole name then in the hint), so a long name cannot widen the
    // window.
    void ShowCaption(int slot);

    Widgets widgets_;
    Window window_;
    const GeneratorModel& model_;
    Dialogs& dialogs_;
    PresetSlots slots_{};
    QLineEdit* renameField_ = nullptr;
    QString buttonHint_;  // the buttons' own hint
    int renamingSlot_ = 0;
    bool buttonsSized_ = false;  // a button has had its size from a layout
};

}  // namespace skarnel
