#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QWidget;

namespace skarnel {

class DesktopServices;
class Dialogs;
class HoverLink;

// The mail address the "Email the author" entry hands to the mail client.
QUrl FeedbackMailUrl();

// The window's hand-overs to the desktop and to help: the script editor,
// mail, the maker's web page, the About window, a new generator window, and
// the help topics of the menus (F1 inside an open menu).
class ShellCommands : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QAction* scriptEditor;
        QAction* help;
        QAction* mail;
        QAction* makerWebPage;
        QAction* about;
        QAction* newWindow;
        QLabel* credit;
        HoverLink* crestFactorLink;
        QMenu* fileMenu;
        QAction* runScript;
        QMenu* presetsMenu;
        QMenu* viewMenu;
        QAction* liveViewEntry;
        QWidget* liveView;
    };
    ShellCommands(Widgets widgets, Dialogs& dialogs, QObject* parent);

    void SetDesktopServices(DesktopServices* desktop) { desktop_ = desktop; }
    // The folder of the files that lie beside the program.
    void SetProgramFolder(const QString& folder) { programFolder_ = folder; }
    const QString& programFolder() const noexcept { return programFolder_; }
    // Shows the About window (the shell owns it).
    void SetAboutHandler(std::function<void()> showAbout) { showAbout_ = std::move(showAbout); }

    // The script editor beside the program, when there is one; otherwise the
    // user's own text editor, through the desktop, on the last script run or
    // on a new script from a short commented template. A new script that
    // cannot be written is reported, and nothing opens. Without an editor
    // registered for it the user is told so, with the script's path.
    void OpenScriptEditor();
    // The script most recently run, opened by OpenScriptEditor.
    void SetLastScript(const QString& path) { lastScript_ = path; }
    // Where OpenScriptEditor writes a new script (the user's documents folder
    // unless set).
    void SetNewScriptFolder(const QString& folder) { newScriptFolder_ = folder; }

    void OpenMakerWebPage();
    // Starts the program again as a new process with "/nosplash".
    static void OpenNewGeneratorWindow();

private:
    Dialogs& dialogs_;
    DesktopServices* desktop_;
    QString programFolder_;
    QString lastScript_;
    QString newScriptFolder_;
    std::function<void()> showAbout_;
};

}  // namespace skarnel
