#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProcess>

#include "generator/hover_label.h"
#include "generator/shell_commands.h"
#include "platform/desktop_services.h"
#include "platform/help_router.h"
#include "platform/product_info.h"
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

ShellCommands::ShellCommands(Widgets w, QObject* parent)
    : QObject(parent),
      desktop_(&DefaultDesktop()),
      programFolder_(QCoreApplication::applicationDirPath()) {
    connect(w.scriptEditor, &QAction::triggered, this,
            [this] { desktop_->StartProgram(programFolder_ + "/ScriptEditor"); });
    connect(w.help, &QAction::triggered, this, [] { ShowHelpTopic(kGeneratorHelp); });
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
}

void ShellCommands::OpenMakerWebPage() {
    desktop_->OpenUrl(QUrl(kMakerWebPage));
}

void ShellCommands::OpenNewGeneratorWindow() {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {"/nosplash"});
}

}  // namespace skarnel
