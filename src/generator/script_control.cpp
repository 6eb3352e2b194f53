// Running a script in the generator window: the window side of the script
// runner (its windows, presets, playback and the event loop).
#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <stdexcept>

#include "generator/generator_window.h"
#include "generator/script_control.h"
#include "generator/script_window.h"
#include "generator/shell_commands.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "script/script_runner.h"

namespace skarnel {

namespace {

constexpr int kWaitStepMs = 100;

class WindowScriptHost : public ScriptHost {
public:
    WindowScriptHost(GeneratorWindow& window, ScriptWindow& popup, Dialogs& dialogs)
        : window_(window), popup_(popup), dialogs_(dialogs) {}

    bool LoopTicked() override { return window_.model().values().loop; }
    void SetLoop(bool ticked) override { window_.SetLoopAfterPlayback(ticked); }
    void DisableGenerator() override { window_.setEnabled(false); }
    void EnableAndRaiseGenerator() override {
        window_.setEnabled(true);
        window_.raise();
        window_.activateWindow();
    }
    void ShowScriptWindow() override {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            popup_.adjustSize();
            popup_.move(screen->geometry().center() - popup_.rect().center());
        }
        // A fixed size: nothing to maximise (window managers that ignore the
        // missing title-bar buttons still offer no maximise for it).
        popup_.setFixedSize(popup_.size());
        KeepAboveGenerator();
        popup_.show();
    }
    void HideScriptWindow() override { popup_.hide(); }
    bool ScriptWindowVisible() override { return popup_.isVisible(); }
    void SetScriptLabel(const std::string& text) override {
        popup_.SetLabel(QString::fromStdString(text));
    }
    void ShowMessage(const std::string& text) override {
        dialogs_.Note(QString::fromStdString(text));
        // Closing the box gives the focus back to the window it belongs to,
        // the generator, which a window manager then raises: Cancel and
        // Next must come back in front of it.
        if (popup_.isVisible()) {
            popup_.raise();
            popup_.activateWindow();
        }
    }
    PathKind KindOf(const std::string& path) override {
        const QFileInfo file(QString::fromStdString(path));
        return !file.exists()  ? PathKind::kMissing
               : file.isFile() ? PathKind::kFile
                               : PathKind::kOther;
    }
    void LoadPresetFile(const std::string& path) override {
        const std::string error = window_.LoadPresets(QString::fromStdString(path));
        if (!error.empty()) {
            throw std::runtime_error(error);
        }
    }
    void RecallMemory(int slot) override { window_.RecallMemory(slot); }
    void StartGenerator() override {
        window_.RunGuarded([this] { window_.StartGenerator(); });
    }
    // A played preset has ended when its last queued buffer has played and
    // the device has closed, not already when the counted buffers are done.
    bool OutputRunning() override {
        return window_.audioOut().Running() || window_.audioOut().DeviceHeld();
    }
    // The event loop runs during the step, so the device keeps being refilled
    // however little audio the output settings keep queued.
    void WaitStep() override {
        QEventLoop loop;
        QTimer::singleShot(kWaitStepMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    void HandleEvents() override { QApplication::processEvents(); }
    bool& ScriptWaiting() override { return window_.scripts().waiting(); }

private:
    // The script window belongs to the generator window (its transient, as
    // a dialog would be), so a window manager keeps it above the generator
    // for the whole run. Only the window system is told: as a Qt child it
    // would be disabled with the generator.
    void KeepAboveGenerator() {
        popup_.winId();
        QWindow* generator = window_.isVisible() ? window_.windowHandle() : nullptr;
        popup_.windowHandle()->setTransientParent(generator);
    }

    GeneratorWindow& window_;
    ScriptWindow& popup_;
    Dialogs& dialogs_;
};

}  // namespace

ScriptControl::ScriptControl(GeneratorWindow& window, Dialogs& dialogs)
    : generator_(window), dialogs_(dialogs) {}

ScriptControl::~ScriptControl() = default;

ScriptWindow& ScriptControl::window() {
    if (!window_) {
        // A window of its own: disabling the generator must leave its buttons
        // usable.
        window_ = std::make_unique<ScriptWindow>();
        QObject::connect(window_.get(), &ScriptWindow::hidden, &generator_,
                         [this] { generator_.setEnabled(true); });
        QObject::connect(window_.get(), &ScriptWindow::nextPressed, &generator_,
                         [this] { waiting_ = false; });
    }
    return *window_;
}

ScriptOutcome ScriptControl::Run(const QString& path) {
    generator_.shell().SetLastScript(QFileInfo(path).absoluteFilePath());
    const GeneratorWindow::ModalGuard running(generator_, ModalOperation::kScript);
    const HelpContext aboutScripts(kScriptHelp);
    WindowScriptHost host(generator_, window(), dialogs_);
    return RunScriptFile(path.toStdString(), host);
}

void ScriptControl::Command() {
    generator_.audioOut().StopImmediately();
    Dialogs::FileDialogOptions options{
        "Open script file", "VLM Script", "*.vls", {}, {}, false, {}};
    options.extraFilter = "All Files (*.*)";
    if (const std::optional<QString> path = dialogs_.OpenFile(options)) {
        Run(*path);
    }
}

}  // namespace skarnel
