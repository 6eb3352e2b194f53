#pragma once

#include <QObject>
#include <QString>
#include <deque>

#include "platform/dialogs.h"

namespace skarnel {

// The dialogs of a window that other programs drive over D-Bus. A command
// runs inside the bus's call handler; a message box there would run its modal
// loop inside the handler, where the next call is served and opens the next
// box, without limit (a flood of commands overflowed the stack), and the
// caller would wait until a person clicked OK.
//
// While a CommandScope is alive, Note and Announce are queued instead and
// shown once the call has returned, one after the other; a message equal to
// one waiting or showing is dropped, so a flood shows one box, not hundreds.
// Questions and file dialogs are not a command's to ask: inside a scope they
// answer No or Cancel at once. Outside a scope everything goes straight to
// the dialogs it wraps.
class NotesAfterCommands : public QObject, public Dialogs {
    Q_OBJECT
public:
    explicit NotesAfterCommands(Dialogs& shown, QObject* parent = nullptr)
        : QObject(parent), shown_(shown) {}

    class CommandScope {
    public:
        explicit CommandScope(NotesAfterCommands& notes) : notes_(notes) { ++notes_.commands_; }
        ~CommandScope() { --notes_.commands_; }
        CommandScope(const CommandScope&) = delete;
        CommandScope& operator=(const CommandScope&) = delete;

    private:
        NotesAfterCommands& notes_;
    };

    void Note(const QString& text, int helpTopic = 0) override;
    bool Announce(const QString& text, int helpTopic = 0) override;
    bool Ask(const QString& text, const QString& title) override;
    bool AskSuppressible(const QString& text, const QString& title, bool& dontShowAgain) override;
    std::optional<QString> OpenFile(const FileDialogOptions& options) override;
    std::optional<QString> SaveFile(const FileDialogOptions& options) override;

    // Messages waiting to be shown (the one showing not counted).
    std::size_t waiting() const noexcept { return waiting_.size(); }

private:
    struct Message {
        QString text;
        int helpTopic;
    };
    bool InCommand() const noexcept { return commands_ > 0; }
    void Queue(const QString& text, int helpTopic);
    // Shows the waiting messages in turn; runs from the event loop, never
    // inside a command, and only once at a time.
    void ShowWaiting();

    Dialogs& shown_;
    int commands_ = 0;
    std::deque<Message> waiting_;
    bool showing_ = false;
    QString showingText_;
};

}  // namespace skarnel
