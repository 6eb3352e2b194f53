#include "generator/memory_presets.h"

#include <QStyle>
#include <QTextDocument>
#include <algorithm>

#include <QAction>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "platform/dialogs.h"
#include "settings/generator_model.h"

namespace skarnel {

namespace {

constexpr int kShortTextLength = 255;

bool ValidSlot(int slot) {
    return slot >= 1 && slot <= MemoryPresets::kSlotCount;
}

}  // namespace

MemoryPresets::MemoryPresets(Widgets widgets, Window window, const GeneratorModel& model,
                             Dialogs& dialogs)
    : QObject(window.widget),
      widgets_(widgets),
      window_(std::move(window)),
      model_(model),
      dialogs_(dialogs) {
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        QPushButton* b = button(slot);
        // The caption is the preset's name; the name a screen reader gives
        // the button says which slot it is.
        b->setAccessibleName(QString("Memory slot %1").arg(slot));
        const auto recall = [this, slot] { window_.recall(slot); };
        connect(b, &QPushButton::clicked, this, recall);
        connect(widgets_.recallEntries[slot - 1], &QAction::triggered, this, recall);
        connect(widgets_.storeEntries[slot - 1], &QAction::triggered, this,
                [this, slot] { Store(slot); });
        auto* menu = new QMenu(b);
        QAction* storeEntry = menu->addAction("Store", this, [this, slot] { Store(slot); });
        if (slot == 1) {
            storeEntry->setToolTip("Store settings in this memory position");
            menu->setToolTipsVisible(true);
        }
        menu->addAction("Rename", this, [this, slot] { Rename(slot); });
        connect(b, &QWidget::customContextMenuRequested, this,
                [b, menu](const QPoint& at) { menu->popup(b->mapToGlobal(at)); });
        // The row shares its width among the buttons, whatever their names.
        QSizePolicy policy = b->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Ignored);
        b->setSizePolicy(policy);
        b->installEventFilter(this);
    }
    buttonHint_ = button(1)->toolTip();
    connect(widgets_.loadFile, &QAction::triggered, this, &MemoryPresets::LoadCommand);
    connect(widgets_.saveFile, &QAction::triggered, this, &MemoryPresets::SaveAsCommand);

    renameField_ = new QLineEdit(window_.widget);
    renameField_->setObjectName("MemoryNameEdit");
    renameField_->setAccessibleName("Memory slot name");
    renameField_->setFrame(false);
    renameField_->hide();
    renameField_->setEnabled(false);
    renameField_->installEventFilter(this);
}

QPushButton* MemoryPresets::button(int slot) const {
    return ValidSlot(slot) ? widgets_.buttons[slot - 1] : nullptr;
}

void MemoryPresets::Store(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    slots_[slot - 1].settings = model_.PresetValues();
}

void MemoryPresets::Rename(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    QPushButton* b = button(slot);
    renamingSlot_ = slot;
    window_.renamingChanged();
    b->setText(QString());
    renameField_->setGeometry(
        b->geometry().translated(b->parentWidget()->mapTo(window_.widget, QPoint(0, 0))));
    QPalette palette = renameField_->palette();
    palette.setColor(QPalette::Base, b->palette().color(QPalette::Button));
    renameField_->setPalette(palette);
    renameField_->clear();
    renameField_->setEnabled(true);
    renameField_->show();
    renameField_->raise();
    renameField_->setFocus();
}

void MemoryPresets::FinishRename() {
    if (renamingSlot_ == 0) {
        return;
    }
    const int slot = renamingSlot_;
    renamingSlot_ = 0;
    const QString name = renameField_->text();
    slots_[slot - 1].name = name.left(kShortTextLength).toStdString();
    ShowCaption(slot);
    renameField_->hide();
    renameField_->setEnabled(false);
    window_.renamingChanged();
}

bool MemoryPresets::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange) {
        buttonsSized_ = buttonsSized_ || event->type() == QEvent::Resize;
        for (int slot = 1; slot <= kSlotCount; ++slot) {
            if (watched == button(slot) && slot != renamingSlot_) {
                ShowCaption(slot);
            }
        }
    }
    if (watched == renameField_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                FinishRename();
                return true;  // Enter ends the rename; it does not press ON
            }
        } else if (event->type() == QEvent::FocusOut) {
            FinishRename();
        }
    }
    return QObject::eventFilter(watched, event);
}

void MemoryPresets::FillFromWindow() {
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        Store(slot);
        slots_[slot - 1].name = "Memory " + std::to_string(slot);
    }
    ShowNames();
}

void MemoryPresets::ShowNames() {
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        ShowCaption(slot);
    }
}

void MemoryPresets::ShowCaption(int slot) {
    QPushButton* b = button(slot);
    const QString name = QString::fromStdString(slots_[slot - 1].name);
    // The room for text: the button less its frame and padding.
    const int room = std::max(b->width() - 2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin) -
                                  2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth),
                              0);
    // A window that was never shown has not sized its buttons, and their
    // width says nothing yet: the whole name shows until the first resize.
    const QString caption =
        buttonsSized_ ? b->fontMetrics().elidedText(name, Qt::ElideRight, room) : name;
    // A name comes from a file: "&" is a letter, not a mnemonic, and a tag in
    // it is text, not markup (a tooltip would render it).
    b->setText(QString(caption).replace('&', "&&"));
    b->setToolTip(
        Qt::convertFromPlainText(caption == name ? buttonHint_ : name + "\n" + buttonHint_));
    b->setAccessibleDescription(name);
}

std::string MemoryPresets::Load(const QString& path) {
    const std::string error = LoadPresetFile(path.toStdString(), slots_);
    if (error.empty()) {
        ShowNames();
    }
    return error;
}

void MemoryPresets::LoadCommand() {
    window_.stopOutput();
    const std::optional<QString> path =
        dialogs_.OpenFile({"Open preset file", "Velmor Presets", "*.vlm", "vlm", {}, false, {}});
    if (!path) {
        return;
    }
    const std::string error = Load(*path);
    if (!error.empty()) {
        dialogs_.Note(QString::fromStdString(error));
    }
}

void MemoryPresets::SaveAsCommand() {
    window_.stopOutput();
    std::optional<QString> path =
        dialogs_.SaveFile({"Save VLM presets", "VLM presets", "*.vlm", "vlm", {}, false, {}});
    if (!path) {
        return;
    }
    if (QFileInfo(*path).suffix().isEmpty()) {
        *path += ".vlm";
    }
    const std::string error = SavePresetFile(path->toStdString(), slots_);
    if (!error.empty()) {
        dialogs_.Note(QString::fromStdString(error));
    }
}

}  // namespace skarnel
