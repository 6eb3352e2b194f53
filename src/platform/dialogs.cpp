#include "platform/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include "platform/help_router.h"

namespace skarnel {

namespace {

QString FilterText(const Dialogs::FileDialogOptions& o) {
    return o.filterName + " (" + o.filterPattern + ")";
}

void Configure(QFileDialog& dialog, const Dialogs::FileDialogOptions& o) {
    dialog.setWindowTitle(o.title);
    QStringList filters{FilterText(o)};
    if (!o.extraFilter.isEmpty()) {
        filters << o.extraFilter;
    }
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(o.defaultSuffix);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!o.initialName.isEmpty()) {
        dialog.selectFile(o.initialName);
    }
}

// F1 in a box: claims the key before any shortcut of the box (a standard
// Help button may carry one) and opens the topic.
class HelpKey : public QObject {
public:
    HelpKey(QDialog& box, int topic) : QObject(&box), box_(box), topic_(topic) {
        QApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool key =
            event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
        if (!key || static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1 ||
            static_cast<QKeyEvent*>(event)->modifiers() != Qt::NoModifier) {
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->window() != &box_) {
            return false;
        }
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();  // a key press of its own, not a shortcut
            return true;
        }
        ShowHelpTopic(topic_);
        return true;
    }

private:
    QDialog& box_;
    int topic_;
};

// Runs a box of the program. While it is open, a help window stays usable
// beside it (the box still blocks every other window), and F1 opens `topic`.
int RunBox(QDialog& box, int topic) {
    new HelpKey(box, topic);
    // Shown first, so that it is the modal window the help follows; exec()
    // then runs the box as it stands.
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    HelpFollowsModalWindow();
    const int result = box.exec();
    // A box still open below this one holds the help now, or none does.
    HelpFollowsModalWindow();
    return result;
}

// An information box; a help topic adds a Help button, which opens the topic
// without closing the box. Returns the button that closed it.
QMessageBox::StandardButton InformationBox(QWidget* parent, const QString& text,
                                           QMessageBox::StandardButtons buttons, int helpTopic) {
    QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(), text, buttons,
                    parent);
    // Texts come from scripts, files and other programs: never markup.
    box.setTextFormat(Qt::PlainText);
    if (helpTopic != 0) {
        QPushButton* help = box.addButton(QMessageBox::Help);
        // A standard button would close the box; the help button only shows help.
        help->disconnect();
        QObject::connect(help, &QPushButton::clicked, &box,
                         [helpTopic] { ShowHelpTopic(helpTopic); });
    }
    RunBox(box, helpTopic != 0 ? helpTopic : HelpContext::Current());
    return box.standardButton(box.clickedButton());
}

}  // namespace

void QtDialogs::Note(const QString& text, int helpTopic) {
    InformationBox(parent_, text, QMessageBox::Ok, helpTopic);
}

bool QtDialogs::Announce(const QString& text, int helpTopic) {
    return InformationBox(parent_, text, QMessageBox::Ok | QMessageBox::Cancel, helpTopic) ==
           QMessageBox::Ok;
}

bool QtDialogs::Ask(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setTextFormat(Qt::PlainText);
    return RunBox(box, HelpContext::Current()) == QMessageBox::Yes;
}

bool QtDialogs::AskSuppressible(const QString& text, const QString& title, bool& dontShowAgain) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setTextFormat(Qt::PlainText);
    auto* tick = new QCheckBox("Don't show this message again.", &box);
    box.setCheckBox(tick);
    const bool yes = RunBox(box, HelpContext::Current()) == QMessageBox::Yes;
    dontShowAgain = tick->isChecked();
    return yes;
}

std::optional<QString> QtDialogs::OpenFile(const FileDialogOptions& options) {
    QFileDialog dialog(parent_);
    Configure(dialog, options);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (RunBox(dialog, HelpContext::Current()) != QDialog::Accepted ||
        dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::SaveFile(const FileDialogOptions& options) {
    QFileDialog dialog(parent_);
    Configure(dialog, options);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.confirmOverwrite);
    if (RunBox(dialog, HelpContext::Current()) != QDialog::Accepted ||
        dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

}  // namespace skarnel
