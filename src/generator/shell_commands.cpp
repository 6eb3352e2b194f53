#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <cstring>

#include "generator/hover_label.h"
#include "generator/shell_commands.h"
#include "platform/desktop_services.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "base/product_info.h"
#include "ui_generator_window.h"

namespace skarnel {

namespace {

// F1 inside an open menu: the help topic of the highlighted entry when it has
// one, otherwise the menu's own topic.
class MenuHelpKey : public QObject {
public:
    MenuHelpKey(QMenu* menu, int menuTopic, std::vector<std::pair<QAction*, int>> entryTopics)
        : QObject(menu), menu_(menu), menuTopic_(menuTopic), entryTopics_(std::move(entryTopics)) {
        menu->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != menu_ || event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1) {
            return false;
        }
        int topic = menuTopic_;
        for (const auto& [action, entryTopic] : entryTopics_) {
            if (menu_->activeAction() == action) {
                topic = entryTopic;
            }
        }
        menu_->close();
        ShowHelpTopic(topic);
        return true;
    }

private:
    QMenu* menu_;
    int menuTopic_;
    std::vector<std::pair<QAction*, int>> entryTopics_;
};

constexpr const char* kNewScriptName = "Skarnel script.wbs";

// A new script: what each command does, then a line that runs as it stands.
constexpr const char* kScriptTemplate =
    "rem A Skarnel script: one command per line, run with File > Run Script.\n"
    "rem play SLOT FILE  plays memory preset SLOT (1-4) of preset file FILE once\n"
    "rem delay SECONDS   waits (steps of 0.1 s)\n"
    "rem pause TEXT      shows TEXT and waits for OK\n"
    "rem repeat          starts again from the first line\n"
    "rem end             ends the script (keep it on the last line)\n"
    "pause Edit this script, then run it again\n"
    "end\n";

DesktopServices& DefaultDesktop() {
    static QtDesktopServices desktop;
    return desktop;
}

}  // namespace

QUrl FeedbackMailUrl() {
    // The subject is handed over as it reads; mail clients accept the spaces.
    return QUrl(QString("mailto:") + kFeedbackAddress + "?subject=" + kProductTitle + " V" +
                kProductVersion + " feedback");
}

ShellCommands::ShellCommands(Widgets w, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      dialogs_(dialogs),
      desktop_(&DefaultDesktop()),
      programFolder_(QCoreApplication::applicationDirPath()) {
    connect(w.scriptEditor, &QAction::triggered, this, &ShellCommands::OpenScriptEditor);
    // F1 with the pointer over the live view explains the view; anywhere else
    // the window.
    connect(w.help, &QAction::triggered, this, [view = w.liveView] {
        ShowHelpTopic(view != nullptr && view->isVisible() && view->underMouse() ? kLiveViewHelp
                                                                                 : kGeneratorHelp);
    });
    connect(w.mail, &QAction::triggered, this, [this] { desktop_->OpenUrl(FeedbackMailUrl()); });
    connect(w.makerWebPage, &QAction::triggered, this, &ShellCommands::OpenMakerWebPage);
    connect(HoverLink::Attach(w.credit), &HoverLink::clicked, this,
            &ShellCommands::OpenMakerWebPage);
    connect(w.about, &QAction::triggered, this, [this] {
        if (showAbout_) {
            showAbout_();
        }
    });
    connect(w.newWindow, &QAction::triggered, this, &ShellCommands::OpenNewGeneratorWindow);
    // Only the left label explains the crest factor; both highlight on hover.
    connect(w.crestFactorLink, &HoverLink::clicked, this, [] { ShowHelpTopic(kCrestFactorHelp); });
    new MenuHelpKey(w.fileMenu, kFileMenuHelp, {{w.runScript, kScriptHelp}});
    new MenuHelpKey(w.presetsMenu, kPresetsMenuHelp, {});
    new MenuHelpKey(w.viewMenu, kGeneratorHelp, {{w.liveViewEntry, kLiveViewHelp}});
}

void ShellCommands::OpenScriptEditor() {
    const QString editor = programFolder_ + "/ScriptEditor";
    if (QFileInfo(editor).isExecutable()) {
        desktop_->StartProgram(editor);
        return;
    }
    QString script = lastScript_;
    if (script.isEmpty() || !QFileInfo(script).isFile()) {
        QString folder = newScriptFolder_;
        if (folder.isEmpty()) {
            folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        }
        QDir().mkpath(folder);
        script = QDir(folder).filePath(kNewScriptName);
        // An earlier new script is opened again, never written over.
        if (!QFileInfo::exists(script)) {
            QFile file(script);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
                file.write(kScriptTemplate) != qint64(std::strlen(kScriptTemplate)) ||
                !file.flush()) {
                const QString reason = file.errorString();
                file.remove();
                dialogs_.Note(QString("Cannot write the new script '%1': %2").arg(script, reason));
                return;
            }
        }
    }
    if (!desktop_->OpenFile(script)) {
        // Otherwise nothing at all would happen: say why, and where the
        // script is, so that it can be opened another way.
        dialogs_.Note(QString("No text editor is registered for scripts. The script is:\n%1")
                          .arg(QDir::toNativeSeparators(script)));
    }
}

void ShellCommands::OpenMakerWebPage() {
    desktop_->OpenUrl(QUrl(kMakerWebPage));
}

void ShellCommands::OpenNewGeneratorWindow() {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {"/nosplash"});
}

}  // namespace skarnel
