// Commands that reach the window over the D-Bus session bus while a WAV
// export runs must not touch its engine or its output: the file comes out as
// skarnel-render writes it and nothing plays. Run on a private session bus
// (dbus-run-session), as a process of its own.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <limits>
#include <random>
#include <string>

#include "audio/simulated_backend.h"
#include "engine/uniform_random.h"
#include "fake_screen_saver.h"
#include "generator/generator_window.h"
#include "generator/window_commands.h"
#include "persistence/settings_store.h"
#include "platform/command_bus.h"
#include "scripted_dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel::testing {
namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Calls the window's D-Bus interface from a connection of its own, as another
// program would, and waits for every answer while events are handled.
class Caller {
public:
    Caller() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "caller")) {}
    ~Caller() { QDBusConnection::disconnectFromBus("caller"); }

    void Command(std::uint32_t number, std::int32_t first, std::int32_t second) {
        QDBusMessage call = Message("Command");
        call << static_cast<uint>(number) << static_cast<int>(first) << static_cast<int>(second);
        pending_.push_back(bus_.asyncCall(call, 5000));
    }
    void State() { pending_.push_back(bus_.asyncCall(Message("State"), 5000)); }
    void Toggle() { pending_.push_back(bus_.asyncCall(Message("Toggle"), 5000)); }

    // Every call answered, without an error.
    bool AllAnswered() {
        for (QDBusPendingCall& call : pending_) {
            while (!call.isFinished()) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
            if (call.isError()) {
                ADD_FAILURE() << call.error().message().toStdString();
                return false;
            }
        }
        return !pending_.empty();
    }

private:
    static QDBusMessage Message(const char* method) {
        return QDBusMessage::createMethodCall(
            QString(DBusCommandBus::kServicePrefix) + QString::number(::getpid()),
            DBusCommandBus::kPath, DBusCommandBus::kInterface, method);
    }

    QDBusConnection bus_;
    std::vector<QDBusPendingCall> pending_;
};

// Any command, with any arguments, while an export runs changes nothing of
// what it writes.
TEST(ModalGuard, CommandsDuringAnExportChangeNothing) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    SimulatedBackend backend;
    ScriptedDialogs dialogs;
    FakeScreenSaver screenSaver;
    GeneratorWindow window(backend, dialogs, screenSaver);
    OutputSettingsDialog settings(&window);
    window.SetSettingsDialog(&settings);
    settings.ChooseSamplingFrequency(8000);
    window.ResetSettings();
    window.RunGuarded([&] { window.PrepareEngineFromWindow(); });
    window.presets().FillFromWindow();
    // Slot 2 would make the signal louder and stereo, were it recalled.
    window.presets().records()[1].settings.channelMode = kStereo;
    window.presets().records()[1].settings.channels[kLeft].amplitude = "-1";
    MemorySettingsStore store;
    store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});
    window.SetStore(&store);
    DBusCommandBus bus(
        {[&](std::uint32_t n, std::int32_t a, std::int32_t b) { window.ExecuteCommand(n, a, b); },
         [&] { return window.audioOut().Running(); }, [&] { return window.audioOut().Paused(); },
         [&] { return window.SyncTicked(); }, [&] { window.HotKeyToggle(); }});
    ASSERT_TRUE(bus.registered());
    window.SetCommandBus(&bus);
    window.findChild<QLineEdit*>("AmplitudeLeft")->setText("-20");
    window.findChild<QLineEdit*>("Duration")->setText("60");
    window.RunGuarded([&] { window.PrepareEngineFromWindow(); });

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("random commands from seed " + std::to_string(seed));
    QTemporaryDir dir;
    const QString exported = dir.filePath("window.wav");
    dialogs.paths.push_back(exported);
    Caller caller;
    bool answered = false;
    ModalOperation during = ModalOperation::kNone;
    // The first time the export hands events on, other programs call in.
    QTimer::singleShot(0, &window, [&] {
        during = window.modalOperation();
        caller.Command(kCommandStart, 0, 0);
        caller.Toggle();
        caller.Command(kCommandAmplitudeL, -3, 0);
        caller.Command(kCommandPreset, 0, 2);
        caller.Command(kCommandStop, 0, 0);
        // Then any command with any arguments, the table's numbers and their
        // neighbours, from a seed the failure message names.
        std::mt19937 draw(seed);
        std::uniform_int_distribution<std::uint32_t> number(0x3F8, 0x480);
        std::uniform_int_distribution<std::int32_t> argument(
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
        std::uniform_int_distribution<std::int32_t> small(-200, 200);
        for (int i = 0; i < 300; ++i) {
            const auto pick = [&] { return draw() % 2 == 0 ? small(draw) : argument(draw); };
            const std::int32_t first = pick();
            caller.Command(number(draw), first, pick());
        }
        caller.State();
        answered = caller.AllAnswered();
    });
    window.engine().random() = UniformRandom();  // as a new process draws
    window.findChild<QAction*>("SaveWaveFile1")->trigger();

    EXPECT_EQ(during, ModalOperation::kExport);
    EXPECT_TRUE(answered);
    EXPECT_EQ(backend.OpenCount(), 0);  // nothing played
    EXPECT_EQ(window.findChild<QLineEdit*>("AmplitudeLeft")->text(), "-20");
    EXPECT_EQ(window.model().values().channelMode, kMono);
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();

    const QString rendered = dir.filePath("render.wav");
    QProcess render;
    render.start(SKARNEL_RENDER_PATH,
                 {"-r", "8000", "-d", "60", "--left-amplitude", "-20", rendered});
    ASSERT_TRUE(render.waitForFinished(60000));
    ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
    const QByteArray bytes = Read(exported);
    EXPECT_EQ(bytes.size(), 44 + 60 * 8000 * 2);
    EXPECT_TRUE(bytes == Read(rendered)) << "the export differs from skarnel-render's file";

    // Once the export has ended, the same commands act again.
    caller.Command(kCommandAmplitudeL, -3, 0);
    EXPECT_TRUE(caller.AllAnswered());
    EXPECT_EQ(window.findChild<QLineEdit*>("AmplitudeLeft")->text(), "-3");
}

}  // namespace
}  // namespace skarnel::testing

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
