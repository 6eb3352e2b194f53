#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "platform/dialogs.h"
#include "platform/help_router.h"

namespace skarnel::testing {

// Records every report and question and answers from queues: questions and
// announcements answer "yes"/"OK" unless an answer was queued, file dialogs
// answer with the queued path or cancel.
class ScriptedDialogs : public Dialogs {
public:
    void Note(const QString& text, int helpTopic = 0) override {
        contexts.push_back(HelpContext::Current());
        shown.push_back(text);
        helpTopics.push_back(helpTopic);
    }
    bool Announce(const QString& text, int helpTopic = 0) override {
        contexts.push_back(HelpContext::Current());
        shown.push_back(text);
        helpTopics.push_back(helpTopic);
        return Next(true);
    }
    bool Ask(const QString& text, const QString& title) override {
        contexts.push_back(HelpContext::Current());
        shown.push_back(text);
        helpTopics.push_back(0);
        titles.push_back(title);
        return Next(true);
    }
    bool AskSuppressible(const QString& text, const QString& title, bool& dontShowAgain) override {
        dontShowAgain = !ticks.empty() && ticks.front();
        if (!ticks.empty()) {
            ticks.pop_front();
        }
        return Ask(text, title);
    }
    std::optional<QString> OpenFile(const FileDialogOptions& options) override {
        fileDialogs.push_back(options);
        return NextPath();
    }
    std::optional<QString> SaveFile(const FileDialogOptions& options) override {
        fileDialogs.push_back(options);
        return NextPath();
    }

    QString Last() const { return shown.isEmpty() ? QString() : shown.back(); }

    QStringList shown;
    QStringList titles;
    std::vector<int> helpTopics;  // per entry of `shown`; 0 for none
    std::vector<int>
        contexts;  // per entry of `shown`: the page F1 in the box opens without a topic
    std::deque<bool> answers;
    std::deque<bool> ticks;     // "Don't show this message again." per suppressible question
    std::deque<QString> paths;  // an empty path cancels the dialog
    std::vector<FileDialogOptions> fileDialogs;

private:
    bool Next(bool fallback) {
        if (answers.empty()) {
            return fallback;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<QString> NextPath() {
        if (paths.empty()) {
            return std::nullopt;
        }
        const QString path = paths.front();
        paths.pop_front();
        if (path.isEmpty()) {
            return std::nullopt;
        }
        return path;
    }
};

}  // namespace skarnel::testing
