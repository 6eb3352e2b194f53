// The soak run: one generator window loops the heaviest chain on a simulated
// device that takes buffers as fast as they come, for a given number of hours
// of audio, while Output Settings change, presets are recalled and commands
// arrive over the D-Bus session bus. It prints the resident memory after the
// first minute and at the end; the run fails when memory grew by more than
// 1 MiB or the output is not playing when it should.
//
// Usage: skarnel_soak [hours of audio, default 24]
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "audio/simulated_backend.h"
#include "fake_screen_saver.h"
#include "generator/generator_window.h"
#include "generator/window_commands.h"
#include "platform/command_bus.h"
#include "scripted_dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

// AddressSanitizer keeps freed blocks in a quarantine (up to 256 MiB) to catch
// late uses, so under it the resident size grows by design: the run then
// reports the size but only the sanitizers' findings decide.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryChecked = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryChecked = false;
#else
constexpr bool kMemoryChecked = true;
#endif
#else
constexpr bool kMemoryChecked = true;
#endif

namespace {

using namespace skarnel;

long ResidentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The heaviest chain on both channels: stereo pink 10:1, Peaking 1 kHz
// -10 dB Q 3, Triangular modulation of 2 s at 100 %.
void SetHeaviestChain(GeneratorWindow& w) {
    GeneratorModel& m = w.model();
    m.SetChannelMode(kStereo);
    m.OnChannelModeChanged();
    for (int c = 0; c < kChannelCount; ++c) {
        m.SetNoiseFunction(c, kPinkNoise);
        m.SetCrestFactor(c, 6);
        m.OnCrestFactorChanged(c);
        m.SetFilterType(c, kFilterPeaking);
        m.OnFilterTypeChanged(c);
        m.SetFilterText(c, &ChannelSettings::frequency, "1000");
        m.SetFilterText(c, &ChannelSettings::gain, "-10");
        m.SetFilterText(c, &ChannelSettings::q, "3");
        m.SetModulationOn(c, true);
        m.SetModFunction(c, kModTriangular);
        m.SetModPeriodText(c, "2");
        m.SetModDepthText(c, "100");
    }
    m.SetLoop(true);
    w.ShowSettings();
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress reaches a log at once
    const double hours = argc > 1 ? std::atof(argv[1]) : 24.0;
    QApplication app(argc, argv);

    SimulatedBackend backend;
    backend.SetRecording(false);  // a day of audio is not kept
    testing::ScriptedDialogs dialogs;
    testing::FakeScreenSaver screenSaver;
    GeneratorWindow window(backend, dialogs, screenSaver);
    OutputSettingsDialog settings(&window);
    window.SetSettingsDialog(&settings);
    window.ResetSettings();
    settings.ChooseSamplingFrequency(48000);
    SetHeaviestChain(window);
    window.RunGuarded([&] { window.PrepareEngineFromWindow(); });
    window.presets().FillFromWindow();
    window.presets().Store(2);

    DBusCommandBus bus({
        [&](std::uint32_t n, std::int32_t a, std::int32_t b) { window.ExecuteCommand(n, a, b); },
        [&] { return window.audioOut().Running(); },
        [&] { return window.audioOut().Paused(); },
        [&] { return window.SyncTicked(); },
        [&] { window.HotKeyToggle(); },
    });
    window.SetCommandBus(&bus);
    const QString service = QString(DBusCommandBus::kServicePrefix) +
                            QString::number(QCoreApplication::applicationPid());
    const bool haveBus = bus.registered();
    std::printf("soak: %.2f h of audio at 48000 Hz stereo, D-Bus commands %s\n", hours,
                haveBus ? "on" : "off (no session bus)");
    const auto sendCommand = [&](std::uint32_t number, std::int32_t first, std::int32_t second) {
        if (!haveBus) {
            window.ExecuteCommand(number, first, second);
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(service, DBusCommandBus::kPath,
                                                           DBusCommandBus::kInterface, "Command");
        call << number << first << second;
        QDBusConnection::sessionBus().asyncCall(call);
        // Until it has arrived and run.
        for (int i = 0; i < 200; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    };

    window.OnCommand();
    const double frameTarget = hours * 3600.0 * 48000.0;
    double frames = 0;
    long buffers = 0;
    long firstMinuteKiB = -1;
    QElapsedTimer clock;
    clock.start();
    const long kBuffersPerEvent = 15000;  // about 21 minutes of audio at 16384-byte buffers
    int event = 0;
    while (frames < frameTarget) {
        SimulatedStream* device = backend.LastStream();
        if (device == nullptr || !window.audioOut().Running()) {
            std::printf("soak: FAIL: the output stopped after %.0f frames (%s)\n", frames,
                        dialogs.Last().toStdString().c_str());
            return 1;
        }
        if (device->CompleteHead()) {
            frames += static_cast<double>(settings.BufferBytes()) / 4.0;
            ++buffers;
        }
        window.audioOut().ProcessNotifications();
        if (firstMinuteKiB < 0 && clock.elapsed() >= 60000) {
            firstMinuteKiB = ResidentKiB();
            std::printf("soak: after the first minute: %.2f h of audio, resident %ld KiB\n",
                        frames / 48000.0 / 3600.0, firstMinuteKiB);
        }
        if (buffers % kBuffersPerEvent == 0 && buffers > 0) {
            switch (event++ % 4) {
                case 0:  // a pick in Output Settings stops the output; start again
                    settings.ui.cboBufferSize->setCurrentIndex(event % 2 == 0 ? 2 : 3);
                    emit settings.offRequested();
                    window.OnCommand();
                    break;
                case 1:  // recall the stored heaviest chain (slot 2) and play on
                    window.RecallMemory(2);
                    window.OnCommand();
                    break;
                case 2:  // pause and resume over the bus
                    sendCommand(kCommandPause, 0, 0);
                    sendCommand(kCommandPause, 0, 0);
                    break;
                default:  // change the left amplitude over the bus and back
                    sendCommand(kCommandAmplitudeL, -6, 0);
                    sendCommand(kCommandAmplitudeL, 0, 0);
                    window.model().FinishAmplitudeEntry(kLeft);
                    window.ShowSettings();
                    break;
            }
            dialogs.shown.clear();
            dialogs.helpTopics.clear();
        }
    }
    const long endKiB = ResidentKiB();
    if (firstMinuteKiB < 0) {
        firstMinuteKiB = endKiB;  // the whole run took less than a minute
    }
    std::printf(
        "soak: %.2f h of audio in %.1f s (%ld buffers, %d events), resident %ld KiB at "
        "the end, %+ld KiB since the first minute\n",
        frames / 48000.0 / 3600.0, clock.elapsed() / 1000.0, buffers, event, endKiB,
        endKiB - firstMinuteKiB);
    window.OffCommand();
    if (kMemoryChecked && endKiB - firstMinuteKiB > 1024) {
        std::printf("soak: FAIL: resident memory grew by more than 1 MiB\n");
        return 1;
    }
    std::printf(kMemoryChecked ? "soak: PASS\n"
                               : "soak: PASS (memory not judged under AddressSanitizer)\n");
    return 0;
}
