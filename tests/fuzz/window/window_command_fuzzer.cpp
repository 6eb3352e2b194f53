// Window commands as other programs send them over the bus: any number and
// any two 32-bit arguments, in any order, against a generator window playing
// on a simulated device. Between commands the device returns a buffer, as a
// sound card would. Nothing may crash or leave the renderer or the window in
// a state it cannot leave: after every command the renderer is idle, and at
// the end the stop command brings the output to Stopped.
#include <QApplication>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "audio/simulated_backend.h"
#include "fake_screen_saver.h"
#include "generator/generator_window.h"
#include "generator/window_commands.h"
#include "scripted_dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace {

using skarnel::GeneratorWindow;

struct Harness {
    Harness() {
        window = std::make_unique<GeneratorWindow>(backend, dialogs, screenSaver);
        settings = std::make_unique<skarnel::OutputSettingsDialog>(window.get());
        window->SetSettingsDialog(settings.get());
    }
    skarnel::SimulatedBackend backend;
    skarnel::testing::ScriptedDialogs dialogs;
    skarnel::testing::FakeScreenSaver screenSaver;
    std::unique_ptr<GeneratorWindow> window;
    std::unique_ptr<skarnel::OutputSettingsDialog> settings;
};

Harness* harness = nullptr;

std::uint32_t Read32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Lets the device return its oldest buffer and the window handle it.
void PlayOneBuffer() {
    if (skarnel::SimulatedStream* device = harness->backend.LastStream()) {
        device->CompleteHead();
    }
    harness->window->audioOut().ProcessNotifications();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(*argc, *argv);
    harness = new Harness;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    GeneratorWindow& window = *harness->window;
    harness->dialogs.shown.clear();
    harness->dialogs.helpTopics.clear();
    harness->dialogs.titles.clear();
    window.ResetSettings();
    window.RunGuarded([&] { window.PrepareEngineFromWindow(); });

    // Twelve bytes a command: number, first, second. Numbers below 2^31 are
    // folded onto the command range so that most inputs reach a command.
    constexpr std::size_t kRecord = 12;
    for (std::size_t offset = 0; offset + kRecord <= size && offset < 64 * kRecord;
         offset += kRecord) {
        std::uint32_t number = Read32(data + offset);
        if ((number & 0x80000000u) == 0) {
            number = 0x400u + number % 0x80u;
        }
        const auto first = static_cast<std::int32_t>(Read32(data + offset + 4));
        const auto second = static_cast<std::int32_t>(Read32(data + offset + 8));
        window.ExecuteCommand(number, first, second);
        Check(!window.engine().state.busy);
        PlayOneBuffer();
        Check(!window.engine().state.busy);
    }

    window.ExecuteCommand(skarnel::kCommandStop, 0, 0);
    for (int i = 0; i < 8 && window.audioOut().Running(); ++i) {
        PlayOneBuffer();
    }
    Check(!window.audioOut().Running());
    return 0;
}
