#include "platform/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
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
    box.exec();
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
    return box.exec() == QMessageBox::Yes;
}

bool QtDialogs::AskSuppressible(const QString& text, const QString& title, bool& dontShowAgain) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setTextFormat(Qt::PlainText);
    auto* tick = new QCheckBox("Don't show this message again.", &box);
    box.setCheckBox(tick);
    const bool yes = box.exec() == QMessageBox::Yes;
    dontShowAgain = tick->isChecked();
    return yes;
}

std::optional<QString> QtDialogs::OpenFile(const FileDialogOptions& options) {
    QFileDialog dialog(parent_);
    Configure(dialog, options);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::SaveFile(const FileDialogOptions& options) {
    QFileDialog dialog(parent_);
    Configure(dialog, options);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

}  // namespace skarnel
