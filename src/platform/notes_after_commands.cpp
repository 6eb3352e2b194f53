#include "platform/notes_after_commands.h"

#include <QTimer>
#include <algorithm>

namespace skarnel {

void NotesAfterCommands::Note(const QString& text, int helpTopic) {
    if (InCommand()) {
        Queue(text, helpTopic);
    } else {
        shown_.Note(text, helpTopic);
    }
}

bool NotesAfterCommands::Announce(const QString& text, int helpTopic) {
    if (InCommand()) {
        Queue(text, helpTopic);
        return false;  // no one is there to press OK: as Cancel
    }
    return shown_.Announce(text, helpTopic);
}

bool NotesAfterCommands::Ask(const QString& text, const QString& title) {
    return !InCommand() && shown_.Ask(text, title);
}

bool NotesAfterCommands::AskSuppressible(const QString& text, const QString& title,
                                         bool& dontShowAgain) {
    if (InCommand()) {
        dontShowAgain = false;
        return false;
    }
    return shown_.AskSuppressible(text, title, dontShowAgain);
}

std::optional<QString> NotesAfterCommands::OpenFile(const FileDialogOptions& options) {
    return InCommand() ? std::nullopt : shown_.OpenFile(options);
}

std::optional<QString> NotesAfterCommands::SaveFile(const FileDialogOptions& options) {
    return InCommand() ? std::nullopt : shown_.SaveFile(options);
}

void NotesAfterCommands::Queue(const QString& text, int helpTopic) {
    const bool known = (showing_ && showingText_ == text) ||
                       std::any_of(waiting_.begin(), waiting_.end(),
                                   [&text](const Message& m) { return m.text == text; });
    if (known) {
        return;
    }
    waiting_.push_back({text, helpTopic});
    if (!showing_ && waiting_.size() == 1) {
        QTimer::singleShot(0, this, &NotesAfterCommands::ShowWaiting);
    }
}

void NotesAfterCommands::ShowWaiting() {
    if (showing_) {
        return;  // the loop below shows what came meanwhile
    }
    showing_ = true;
    while (!waiting_.empty()) {
        const Message next = waiting_.front();
        waiting_.pop_front();
        showingText_ = next.text;
        shown_.Note(next.text, next.helpTopic);
    }
    showing_ = false;
    showingText_.clear();
}

}  // namespace skarnel
