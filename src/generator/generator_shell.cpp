// The window's hand-overs to the desktop and to help: the script editor, mail,
// the maker's web page, the About window, help topics, and Exit.
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>

#include "generator/generator_window.h"
#include "generator/hover_label.h"
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

void GeneratorWindow::ConnectShellCommands() {
    desktop_ = &DefaultDesktop();
    connect(ui->OpenScriptEditor1, &QAction::triggered, this,
            [this] { desktop_->StartProgram(programFolder_ + "/ScriptEditor"); });
    connect(ui->mnuExit, &QAction::triggered, this, &GeneratorWindow::ExitCommand);
    connect(ui->Help1, &QAction::triggered, this, [] { ShowHelpTopic(kGeneratorHelp); });
    connect(ui->EmailAuthor1, &QAction::triggered, this,
            [this] { desktop_->OpenUrl(FeedbackMailUrl()); });
    connect(ui->MoreAudioSoftware1, &QAction::triggered, this, &GeneratorWindow::OpenMakerWebPage);
    connect(HoverLink::Attach(ui->lblCredit), &HoverLink::clicked, this,
            &GeneratorWindow::OpenMakerWebPage);
    connect(ui->About1, &QAction::triggered, this, [this] {
        if (showAbout_) {
            showAbout_();
        }
    });
    connect(ui->CompatibilityTest1, &QAction::triggered, this,
            &GeneratorWindow::OpenPerformanceTest);
    // Only the left label explains the crest factor; both highlight on hover.
    connect(panels_[kLeft]->crestFactorLink(), &HoverLink::clicked, this,
            [] { ShowHelpTopic(kCrestFactorHelp); });
    new MenuHelpKey(ui->mnuFile, kFileMenuHelp, {{ui->RunScript1, kScriptHelp}});
    new MenuHelpKey(ui->mnuPresets, kPresetsMenuHelp, {});
}

void GeneratorWindow::OpenMakerWebPage() {
    desktop_->OpenUrl(QUrl(kMakerWebPage));
}

void GeneratorWindow::ExitCommand() {
    audioOutput_.StopImmediately();
    close();
}

}  // namespace skarnel
