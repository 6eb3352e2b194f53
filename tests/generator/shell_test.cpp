#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <map>

#include "generator/live_view.h"
#include "generator/script_control.h"
#include "generator/script_window.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator_fixture.h"
#include "platform/desktop_services.h"
#include "recording_help_viewer.h"

namespace skarnel::testing {
namespace {

class RecordingDesktop : public DesktopServices {
public:
    void OpenUrl(const QUrl& url) override { urls.push_back(url.toString()); }
    bool OpenFile(const QString& path) override {
        if (!hasEditor) {
            return false;
        }
        urls.push_back(QUrl::fromLocalFile(path).toString());
        return true;
    }
    bool hasEditor = true;
    void StartProgram(const QString& path) override { programs.push_back(path); }
    QStringList urls;
    QStringList programs;
};

class ShellTest : public GeneratorTest {
protected:
    ShellTest() { window->shell().SetDesktopServices(&desktop); }
    RecordingDesktop desktop;
    RecordingHelpViewer help;
};

TEST_F(ShellTest, MailAndWebPageGoToTheDesktop) {
    window->findChild<QAction*>("EmailAuthor1")->trigger();
    window->findChild<QAction*>("MoreAudioSoftware1")->trigger();
    QTest::mouseClick(window->findChild<QLabel*>("lblCredit"), Qt::LeftButton);
    EXPECT_EQ(desktop.urls,
              (QStringList{"mailto:feedback@orvane.example?subject=Skarnel V1.0 feedback",
                           "https://orvane.example/", "https://orvane.example/"}));
    // The entry's hint is the address it opens.
    EXPECT_EQ(window->findChild<QAction*>("MoreAudioSoftware1")->statusTip(), desktop.urls[1]);
    EXPECT_EQ(window->findChild<QAction*>("MoreAudioSoftware1")->shortcut(),
              QKeySequence("Ctrl+M"));
}

// Without a script editor beside the program, the user's own editor opens a
// script: a new one from a template (kept, never written over), or the one
// run last.
TEST_F(ShellTest, WithoutAScriptEditorTheDesktopOpensAScript) {
    QTemporaryDir folder;
    window->shell().SetProgramFolder(folder.path());
    window->shell().SetNewScriptFolder(folder.filePath("Documents"));
    QAction* editor = window->findChild<QAction*>("OpenScriptEditor1");
    editor->trigger();
    const QString fresh = folder.filePath("Documents/Skarnel script.wbs");
    ASSERT_EQ(desktop.urls, QStringList{QUrl::fromLocalFile(fresh).toString()});
    EXPECT_TRUE(desktop.programs.isEmpty());
    QFile file(fresh);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    file.close();
    EXPECT_TRUE(text.startsWith("rem A Skarnel script")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("end\n"));

    // The template runs as it stands: its pause shows, then it ends.
    window->scripts().Run(fresh);
    EXPECT_EQ(dialogs.Last(), "Edit this script, then run it again");
    EXPECT_FALSE(window->scripts().window().isVisible());
    EXPECT_TRUE(window->isEnabled());

    // The script run last opens next; a new one is not written again.
    const QString other = WriteScript(folder, "other.wbs", "end\n");
    window->scripts().Run(other);
    editor->trigger();
    EXPECT_EQ(desktop.urls.last(), QUrl::fromLocalFile(other).toString());
    QFile::remove(other);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write("rem mine\n");
    file.close();
    editor->trigger();
    EXPECT_EQ(desktop.urls.last(), QUrl::fromLocalFile(fresh).toString());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().endsWith("rem mine\n"));
    file.close();

    // No place to write a new script: the user is told, and nothing opens.
    QFile::remove(fresh);
    QFile blocker(folder.filePath("plain file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    window->shell().SetNewScriptFolder(folder.filePath("plain file/Documents"));
    const qsizetype opened = desktop.urls.size();
    editor->trigger();
    EXPECT_EQ(desktop.urls.size(), opened);
    EXPECT_TRUE(dialogs.Last().startsWith("Cannot write the new script"))
        << dialogs.Last().toStdString();
}

// With no editor registered for scripts, the user is told so and where the
// script is, instead of nothing happening.
TEST_F(ShellTest, WithoutAnEditorRegisteredTheUserIsToldWhereTheScriptIs) {
    QTemporaryDir folder;
    window->shell().SetProgramFolder(folder.path());
    window->shell().SetNewScriptFolder(folder.filePath("Documents"));
    desktop.hasEditor = false;
    window->findChild<QAction*>("OpenScriptEditor1")->trigger();
    const QString fresh = folder.filePath("Documents/Skarnel script.wbs");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.Last(), "No text editor is registered for scripts. The script is:\n" + fresh);
    EXPECT_TRUE(QFile::exists(fresh));
}

// The desktop's own look-up, in a session of its own: a script finds the
// application registered for plain text, and is not handed over where no
// application is registered. (Handing it over needs a real display.)
TEST(DesktopServicesTest, AScriptIsHandedOverOnlyWhereAnEditorIsRegistered) {
    QTemporaryDir session;
    const QStringList names{"XDG_CONFIG_HOME",  "XDG_DATA_HOME",           "XDG_DATA_DIRS",
                            "XDG_CONFIG_DIRS",  "XDG_CURRENT_DESKTOP",     "DESKTOP_SESSION",
                            "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"};
    std::map<QString, QByteArray> saved;
    for (const QString& name : names) {
        if (qEnvironmentVariableIsSet(name.toUtf8())) {
            saved[name] = qgetenv(name.toUtf8());
        }
        qunsetenv(name.toUtf8());
    }
    const QString config = session.filePath("config"), data = session.filePath("data");
    QDir().mkpath(config);
    QDir().mkpath(data + "/applications");
    // The system's file types, without its applications.
    QFile::link("/usr/share/mime", data + "/mime");
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_CONFIG_DIRS", config.toUtf8());
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_DATA_DIRS", data.toUtf8());
    const QString script = session.filePath("check.wbs");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("pause Check the amplifier\nend\n");
    file.close();

    QtDesktopServices desktop;
    EXPECT_FALSE(DesktopHasApplicationFor(script));
    EXPECT_FALSE(desktop.OpenFile(script)) << "nothing is registered, yet it was handed over";

    QFile entry(data + "/applications/skarnel-test-editor.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Editor\n"
        "Exec=true %f\nMimeType=text/plain;\n");
    entry.close();
    QFile list(config + "/mimeapps.list");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("[Default Applications]\ntext/plain=skarnel-test-editor.desktop\n");
    list.close();
    EXPECT_TRUE(DesktopHasApplicationFor(script));

    for (const QString& name : names) {
        qunsetenv(name.toUtf8());
    }
    for (const auto& [name, value] : saved) {
        qputenv(name.toUtf8(), value);
    }
}

TEST_F(ShellTest, ScriptEditorStartsWhenItLiesBesideTheProgram) {
    QTemporaryDir folder;
    window->shell().SetProgramFolder(folder.path());
    QtDesktopServices realDesktop;
    window->shell().SetDesktopServices(&realDesktop);

    const QString marker = folder.filePath("started");
    QFile editor(folder.filePath("ScriptEditor"));
    ASSERT_TRUE(editor.open(QIODevice::WriteOnly));
    editor.write(QString("#!/bin/sh\ntouch '%1'\n").arg(marker).toUtf8());
    editor.close();
    editor.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    window->findChild<QAction*>("OpenScriptEditor1")->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 5000));
}

TEST_F(ShellTest, ExitStopsThePlayingOutputAtOnceAndCloses) {
    bool closingRan = false;
    window->SetClosingHandler([&] { closingRan = true; });
    window->OnCommand();
    HandleNotifications();
    ASSERT_TRUE(window->audioOut().Running());
    window->findChild<QAction*>("mnuExit")->trigger();
    HandleNotifications();
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(closingRan) << "the window's closing step runs";
    EXPECT_EQ(window->findChild<QAction*>("mnuExit")->shortcut(), QKeySequence("Ctrl+X"));
}

TEST_F(ShellTest, HelpKeysAndButtonsOpenTheirTopics) {
    QTest::keyClick(window.get(), Qt::Key_F1);
    // Only the left crest-factor label explains the crest factor.
    QTest::mouseClick(window->panel(kRight)->ui.crestFactorLabel, Qt::LeftButton);
    QTest::mouseClick(window->panel(kLeft)->ui.crestFactorLabel, Qt::LeftButton);
    settings->ui.btnHelp->click();
    ScriptWindow& script = window->scripts().window();
    script.show();
    script.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&script));
    QTest::keyClick(&script, Qt::Key_F1);
    script.hide();

    // F1 in an open menu: the highlighted entry's topic, else the menu's.
    window->findChild<QMenu*>("mnuFile")->popup(QPoint(0, 0));
    window->findChild<QMenu*>("mnuFile")->setActiveAction(
        window->findChild<QAction*>("RunScript1"));
    QTest::keyClick(window->findChild<QMenu*>("mnuFile"), Qt::Key_F1);
    EXPECT_FALSE(window->findChild<QMenu*>("mnuFile")->isVisible());
    window->findChild<QMenu*>("mnuFile")->popup(QPoint(0, 0));
    window->findChild<QMenu*>("mnuFile")->setActiveAction(
        window->findChild<QAction*>("SaveWaveFile1"));
    QTest::keyClick(window->findChild<QMenu*>("mnuFile"), Qt::Key_F1);
    window->findChild<QMenu*>("mnuPresets")->popup(QPoint(0, 0));
    QTest::keyClick(window->findChild<QMenu*>("mnuPresets"), Qt::Key_F1);
    // The live view's page: from its View menu entry, and for F1 with the
    // pointer over the view.
    auto* viewMenu = window->findChild<QMenu*>("mnuView");
    viewMenu->popup(QPoint(0, 0));
    viewMenu->setActiveAction(window->findChild<QAction*>("mnuLiveView"));
    QTest::keyClick(viewMenu, Qt::Key_F1);
    QWidget* view = window->liveView();
    ASSERT_TRUE(view->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->resize(window->sizeHint());  // the view in sight, not scrolled away
    QApplication::processEvents();
    QTest::mouseMove(window.get(), view->mapTo(window.get(), view->rect().center()));
    QApplication::processEvents();
    ASSERT_TRUE(view->underMouse());
    window->findChild<QAction*>("Help1")->trigger();  // what F1 does

    EXPECT_EQ(help.topics, (std::vector<int>{kGeneratorHelp, kCrestFactorHelp, kOutputSettingsHelp,
                                             kScriptHelp, kScriptHelp, kFileMenuHelp,
                                             kPresetsMenuHelp, kLiveViewHelp, kLiveViewHelp}));
}

}  // namespace
}  // namespace skarnel::testing
