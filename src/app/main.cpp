// Skarnel: the program entry. Sets up the platform services, hands over to
// the start-up, and runs the event loop unless a command-line script has
// already done the program's work.
#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <clocale>
#include <cstdio>
#include <string_view>

#include <unistd.h>

#include "app/app_identity.h"
#include "app/audio_backend_choice.h"
#include "app/help_window.h"
#include "app/quick_answer.h"
#include "app/startup.h"
#include "app/startup_pacer.h"
#include "app/window_settings.h"
#include "generator/generator_window.h"
#include "io/temporary_files.h"
#include "persistence/sqlite_settings_store.h"
#include "platform/active_window.h"
#include "platform/command_bus.h"
#include "platform/desktop_hotkey.h"
#include "platform/desktop_idle_inhibitor.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "platform/notes_after_commands.h"
#include "platform/toggle_command.h"

int main(int argc, char* argv[]) {
    // --version and --help are answered before anything else starts: no
    // display, sound server, session bus or settings store is needed for them.
    if (const auto answer = skarnel::QuickAnswer(argc > 1 ? argv[1] : "")) {
        // A full disk or a closed pipe is an error, not an answer given.
        return std::fputs(answer->c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    }
    // A key binding's command: toggles a running window and ends, opening none.
    if (argc > 1 && std::string_view(argv[1]) == "--toggle") {
        QCoreApplication toggling(argc, argv);
        return skarnel::ToggleWindowUsedLast();
    }
    // A session that ends the program mid-export leaves no hidden half file.
    skarnel::temporary_files::RemoveOnTerminationSignals();
    // The audio back-end is created first: it adjusts the environment of the
    // sound libraries before any other thread exists.
    std::unique_ptr<skarnel::WaveOutBackend> backend = skarnel::CreateAudioBackend();

    QApplication app(argc, argv);
    // Numbers are converted by our own routines with "." as the decimal mark;
    // keep the C library neutral too, whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    skarnel::SetApplicationIdentity();

    skarnel::HelpWindow helpViewer;
    skarnel::HelpRouter helpRouter(helpViewer);
    skarnel::QtDialogs boxes;
    // What a command from another program has to say is shown after its call
    // has returned, never inside it.
    skarnel::NotesAfterCommands dialogs(boxes);
    // The screen-saver service where the desktop has one, else the portal.
    skarnel::DesktopIdleInhibitor screenSaver;
    // Settings of the last window closed, per user (SKARNEL_STORE overrides).
    skarnel::SqliteSettingsStore store;
    skarnel::RealStartupPacer pacer;
    // The files beside the program are found beside the executable itself,
    // also when it was started through a link.
    skarnel::SkarnelStartup startup(
        {*backend, dialogs, screenSaver, store, pacer, QApplication::applicationDirPath()},
        QApplication::arguments().value(1));
    QApplication::setWindowIcon(QIcon(":/app/skarnel-256.png"));

    std::unique_ptr<skarnel::DBusCommandBus> commandBus;
    skarnel::DesktopHotKey hotKey;
    skarnel::X11ActiveWindow activeWindow;
    const auto attach = [&](skarnel::GeneratorWindow& generator) {
        boxes.SetParent(&generator);
        // Commands from the other generator windows and from other programs;
        // the name on the bus is taken once the window is ready for them.
        commandBus = std::make_unique<skarnel::DBusCommandBus>(
            skarnel::CommandTarget{
                [&generator](std::uint32_t n, std::int32_t a, std::int32_t b) {
                    generator.ExecuteCommand(n, a, b);
                },
                [&generator] { return generator.audioOut().Running(); },
                [&generator] { return generator.audioOut().Paused(); },
                [&generator] { return generator.SyncTicked(); },
                [&generator] { generator.HotKeyToggle(); },
                [&dialogs](const std::function<void()>& call) {
                    const skarnel::NotesAfterCommands::CommandScope fromBus(dialogs);
                    call();
                },
                [&generator](std::uint32_t n, std::int32_t a, std::int32_t b, std::uint64_t stamp) {
                    generator.ExecutePeerCommand(n, a, b, stamp);
                },
                [&generator] { return generator.LastUsed(); },
            },
            nullptr, skarnel::DBusCommandBus::Attach::kLater);
        generator.SetCommandBus(commandBus.get());
        // Ctrl+Insert toggles the output from anywhere on the desktop, where
        // the session allows (a key grab on X11, the desktop portal
        // elsewhere); otherwise the Tools menu says so.
        generator.SetHotKey(&hotKey);
        QObject::connect(&hotKey, &skarnel::DesktopHotKey::unavailable, &generator,
                         &skarnel::GeneratorWindow::ShowHotKeyUnavailable);
        // Only the first instance gets the key; it passes a press on to the
        // generator window the user is in, or, where no window can be named
        // (the portal), to the one used last.
        QObject::connect(&hotKey, &skarnel::DesktopHotKey::pressedOverActiveWindow, &generator,
                         [&] {
                             skarnel::RouteHotKey(activeWindow, *commandBus, ::getpid(),
                                                  [&generator] { generator.HotKeyToggle(); });
                         });
        QObject::connect(&hotKey, &skarnel::DesktopHotKey::pressedAnywhere, &generator, [&] {
            skarnel::RouteToWindowUsedLast(*commandBus, {::getpid(), generator.LastUsed()},
                                           [&generator] { generator.HotKeyToggle(); });
        });
        hotKey.Claim(!skarnel::DBusCommandBus::GeneratorNames().isEmpty());
        // Closing the generator ends the program; an open help window would
        // otherwise keep it running, hidden, still answering the bus.
        QObject::connect(&generator, &skarnel::GeneratorWindow::closed, &app, &QApplication::quit,
                         Qt::QueuedConnection);
    };
    const auto ready = [&](skarnel::GeneratorWindow& generator) {
        // Out of sync and out of reach without a name: the user hears why.
        if (!commandBus->Register() && QDBusConnection::sessionBus().isConnected()) {
            generator.ShowStatusNote(
                "This window has no name on the session bus: Sync all Generators and commands "
                "from other programs do not reach it.");
        } else if (!commandBus->ownNameTaken().isEmpty()) {
            generator.ShowStatusNote(
                "Another program holds this window's name on the session "
                "bus; it answers as " +
                commandBus->serviceName() + ".");
        }
        // Read with the window's values, once the store is known to be free.
        skarnel::LoadHelpPlace(store, helpViewer);
    };
    using Outcome = skarnel::SkarnelStartup::Outcome;
    if (const Outcome outcome = startup.Start(attach, ready); outcome != Outcome::kRunEventLoop) {
        hotKey.Release();
        helpRouter.HelpRequest(skarnel::HelpCommand::kQuit, 0);
        // A calling script can tell a script that failed.
        return outcome == Outcome::kEnd ? 0 : 1;
    }
    const int result = app.exec();
    skarnel::SaveHelpPlace(store, helpViewer);
    helpRouter.HelpRequest(skarnel::HelpCommand::kQuit, 0);
    return result;
}
