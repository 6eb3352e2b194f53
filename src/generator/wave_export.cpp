// Rendering one period of the window's signal into a WAV file, with the
// progress window and the CD-format hint.
#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <cstring>

#include "analysis/level_text.h"
#include "export/wave_writer.h"
#include "generator/export_progress_window.h"
#include "generator/generator_window.h"
#include "generator/wave_export.h"
#include "numtext/number_reader.h"
#include "persistence/settings_store.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "platform/suppressible_question.h"
#include "settings/choice_lists.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

namespace {

constexpr const char* kCdFormatHint =
    "If you would like to burn your created wave files to CD, they must be generated in stereo "
    "and at 44.1kHz sampling rate. Your current settings are different. Would you like to "
    "adjust this now?";
constexpr std::int32_t kCdRate = 44100;

// Waits while the event loop keeps running: queued audio of other windows'
// devices and repaints go on during the pause.
void WaitHandlingEvents(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

WaveExport::WaveExport(GeneratorWindow& window, Dialogs& dialogs)
    : window_(window), dialogs_(dialogs) {}

WaveExport::~WaveExport() = default;

void WaveExport::Command() {
    const HelpContext aboutExports(kFileMenuHelp);
    GeneratorModel& model = window_.model();
    OutputSettingsDialog* settings = window_.settingsDialog();
    if (settings != nullptr && (settings->SamplingFrequency() != kCdRate || !model.Stereo())) {
        MemorySettingsStore noStore;
        SettingsStore& store = store_ != nullptr ? *store_ : noStore;
        if (AskUnlessSuppressed(store, dialogs_, kCdFormatHint, "Hint", "CDformat") ==
            SuppressibleAnswer::kYes) {
            model.SetChannelMode(kStereo);
            model.OnChannelModeChanged();
            window_.ShowSettings();
            settings->ChooseSamplingFrequency(kCdRate);
        }
    }
    const bool loop = model.values().loop;
    model.SetLoop(false);
    window_.RunGuarded([this, &model] {
        window_.audioOut().StopImmediately();
        window_.PrepareEngineFromWindow();
        Dialogs::FileDialogOptions options{"Save wave file",
                                           "WAVE file",
                                           "*.wav",
                                           "wav",
                                           QString::fromStdString(model.values().period) + "s ",
                                           true,
                                           {}};
        if (const std::optional<QString> path = dialogs_.SaveFile(options)) {
            Write(*path);
        }
    });
    model.SetLoop(loop);  // in every outcome
    window_.ShowSettings();
}

void WaveExport::Write(const QString& path) {
    const GeneratorWindow::ModalGuard exporting(window_, ModalOperation::kExport);
    const HelpContext aboutExports(kFileMenuHelp);
    // An earlier export's clip note is about another file.
    if (!clipNote_.isEmpty() && window_.statusBar()->currentMessage() == clipNote_) {
        window_.statusBar()->clearMessage();
    }
    clipNote_.clear();
    window_.model().RefreshLiveSettings();
    const long double seconds = ReadNumber(window_.model().values().period);
    ExportProgressWindow& wait = progressWindow();
    wait.ShowProgress(0);
    window_.setEnabled(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Before its first show the window still has Qt's default size, not
        // its layout's: size it first, or it is centred by the wrong size.
        wait.adjustSize();
        wait.setFixedSize(wait.size());  // nothing to maximise
        QRect centred = wait.geometry();
        centred.moveCenter(screen->availableGeometry().center());
        wait.setGeometry(centred);
    }
    // Kept above the generator window by the window manager, as its dialog.
    wait.winId();
    wait.windowHandle()->setTransientParent(window_.isVisible() ? window_.windowHandle() : nullptr);
    wait.show();
    window_.repaint();
    wait.repaint();
    WaitHandlingEvents(100);

    WaveExportHooks hooks;
    hooks.cancelRequested = &wait.cancelRequested();
    hooks.progress = [&wait](int percent) {
        wait.ShowProgress(percent);
        QApplication::processEvents();  // this is when a click on Cancel is seen
    };
    const WaveWriteResult result =
        WriteWaveFile(window_.engine(), path.toStdString(), seconds, hooks);

    wait.hide();
    window_.setEnabled(true);
    window_.raise();
    window_.activateWindow();
    if (result.status != WaveWriteStatus::kCompleted &&
        result.status != WaveWriteStatus::kCancelled) {
        // The system's reason (a full disk, a quota) on a line of its own.
        QString note = QString::fromStdString(result.message);
        if (result.systemError != 0) {
            note += "\n" + QString::fromLocal8Bit(std::strerror(result.systemError)) + ".";
        }
        dialogs_.Note(note);
    }
    // A file that clipped is not the signal the settings describe: say so
    // where it stays in sight without holding anyone up.
    const std::uint64_t clipped = result.clippedSamples[0] + result.clippedSamples[1];
    if (result.status == WaveWriteStatus::kCompleted && clipped > 0) {
        clipNote_ = QString::fromStdString(ClippedMessage(clipped));
        window_.ShowStatusNote(clipNote_);
    }
}

ExportProgressWindow& WaveExport::progressWindow() {
    if (!progress_) {
        // A window of its own: the generator is disabled while it shows, and
        // Cancel must stay usable.
        progress_ = std::make_unique<ExportProgressWindow>();
    }
    return *progress_;
}

}  // namespace skarnel
