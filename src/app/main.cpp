// Skarnel: the program entry. Builds the generator window and the hidden
// Output Settings dialog, gives the window its start state and runs the event
// loop.
#include <QApplication>
#include <clocale>

#include "app/audio_backend_choice.h"
#include "generator/settings_persistence.h"
#include "generator/tfrm_generator.h"
#include "persistence/sqlite_settings_store.h"
#include "platform/command_bus.h"
#include "platform/dialogs.h"
#include "platform/global_hotkey.h"
#include "platform/screen_saver.h"
#include "settings_dialog/tfrm_settings.h"

int main(int argc, char* argv[]) {
    // The audio back-end is created first: it adjusts the environment of the
    // sound libraries before any other thread exists.
    std::unique_ptr<skarnel::WaveOutBackend> backend = skarnel::CreateAudioBackend();

    QApplication app(argc, argv);
    QApplication::setApplicationName("Skarnel");
    QApplication::setApplicationDisplayName("Skarnel");
    // Numbers are converted by our own routines; keep the C library neutral too.
    std::setlocale(LC_NUMERIC, "C");

    skarnel::QtDialogs dialogs;
    skarnel::DBusScreenSaverInhibitor screenSaver;
    skarnel::TfrmGenerator generator(*backend, dialogs, screenSaver);
    dialogs.SetParent(&generator);
    // A window of its own: disabling the generator (during an export or a
    // script) must not disable the dialog that re-enables it.
    skarnel::TfrmSettings settings;
    generator.SetSettingsDialog(&settings);

    // Settings of the last window closed, per user (SKARNEL_STORE overrides).
    skarnel::SqliteSettingsStore store;
    skarnel::LoadSettings(store, generator, settings);
    generator.RunGuarded([&] { generator.Preparevariables(); });
    skarnel::ConnectSettingsStore(store, generator, settings);
    // Commands from the other generator windows and from other programs.
    skarnel::DBusCommandBus commandBus({
        [&generator](std::uint32_t n, std::int32_t a, std::int32_t b) {
            generator.ExecuteCommand(n, a, b);
        },
        [&generator] { return generator.audioOut().Running(); },
        [&generator] { return generator.audioOut().Paused(); },
        [&generator] { return generator.ui.chkSync->isChecked(); },
    });
    generator.SetCommandBus(&commandBus);
    // Ctrl+Insert toggles the output from anywhere on the desktop, where the
    // display allows (X11); otherwise only the menu shortcut does.
    skarnel::GlobalHotKey hotKey;
    QObject::connect(&hotKey, &skarnel::GlobalHotKey::activated, &generator,
                     [&generator] { generator.ToggleCommand(); });
    hotKey.Claim();
    generator.onClosing = [&hotKey, saveSettings = generator.onClosing] {
        hotKey.Release();
        if (saveSettings) {
            saveSettings();
        }
    };
    generator.show();
    return app.exec();
}
