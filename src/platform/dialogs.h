#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace skarnel {

// Every modal report and question of the program goes through this
// interface: the real one shows Qt message boxes and file dialogs, the test
// double records the texts and answers from a queue. While any of them is
// open a help window stays usable beside it, and F1 in it opens its help
// topic, or without one the page of what the user is doing (HelpContext).
class Dialogs {
public:
    enum class Answer { kYes, kNo, kOk, kCancel };

    virtual ~Dialogs() = default;

    // A note with OK. A help topic other than 0 adds a Help button that opens
    // that topic and leaves the box open.
    virtual void Note(const QString& text, int helpTopic = 0) = 0;
    // An announcement with OK and Cancel; true for OK. Help as for Note.
    virtual bool Announce(const QString& text, int helpTopic = 0) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Ask(const QString& text, const QString& title) = 0;
    // A warning-style question with Yes and No and the tick "Don't show this
    // message again." below the text; its state is left in dontShowAgain.
    virtual bool AskSuppressible(const QString& text, const QString& title,
                                 bool& dontShowAgain) = 0;

    struct FileDialogOptions {
        QString title;
        QString filterName;     // e.g. "WAVE file"
        QString filterPattern;  // e.g. "*.wav"
        QString defaultSuffix;  // e.g. "wav"
        QString initialName;    // file name proposed
        bool confirmOverwrite = true;
        QString extraFilter;  // a second filter, e.g. "All Files (*.*)"
    };
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> OpenFile(const FileDialogOptions& options) = 0;
    virtual std::optional<QString> SaveFile(const FileDialogOptions& options) = 0;
};

// Message boxes and file dialogs of Qt, parented to `parent`; the title of
// notes is the application's name.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    void Note(const QString& text, int helpTopic = 0) override;
    bool Announce(const QString& text, int helpTopic = 0) override;
    bool Ask(const QString& text, const QString& title) override;
    bool AskSuppressible(const QString& text, const QString& title, bool& dontShowAgain) override;
    std::optional<QString> OpenFile(const FileDialogOptions& options) override;
    std::optional<QString> SaveFile(const FileDialogOptions& options) override;

private:
    QWidget* parent_;
};

}  // namespace skarnel
