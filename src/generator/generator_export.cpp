// Rendering one period of the window's signal into a WAV file, with the
// progress window and the CD-format hint.
#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "export/wave_writer.h"
#include "generator/export_progress_window.h"
#include "generator/generator_window.h"
#include "numtext/number_reader.h"
#include "persistence/settings_store.h"
#include "platform/dialogs.h"
#include "platform/suppressible_question.h"
#include "settings/choice_lists.h"
#include "settings_dialog/output_settings_dialog.h"
#include "ui_generator_window.h"

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

void GeneratorWindow::ExportWaveFileCommand() {
    if (settings_ != nullptr && (settings_->SamplingFrequency() != kCdRate || !model_.Stereo())) {
        MemorySettingsStore noStore;
        SettingsStore& store = store_ != nullptr ? *store_ : noStore;
        if (AskUnlessSuppressed(store, dialogs_, kCdFormatHint, "Hint", "CDformat") ==
            SuppressibleAnswer::kYes) {
            model_.SetChannelMode(kStereo);
            model_.OnChannelModeChanged();
            ShowSettings();
            settings_->ChooseSamplingFrequency(kCdRate);
        }
    }
    const bool loop = model_.values().loop;
    model_.SetLoop(false);
    RunGuarded([this] {
        audioOutput_.StopImmediately();
        PrepareEngineFromWindow();
        Dialogs::FileDialogOptions options{"Save wave file",
                                           "WAVE file",
                                           "*.wav",
                                           "wav",
                                           QString::fromStdString(model_.values().period) + "s ",
                                           true,
                                           {}};
        if (const std::optional<QString> path = dialogs_.SaveFile(options)) {
            WriteWaveFile(*path);
        }
    });
    model_.SetLoop(loop);  // in every outcome
    ShowSettings();
}

void GeneratorWindow::WriteWaveFile(const QString& path) {
    const ModalGuard exporting(*this, ModalOperation::kExport);
    model_.RefreshLiveSettings();
    const long double seconds = ReadNumber(model_.values().period);
    ExportProgressWindow& wait = progressWindow();
    wait.ShowProgress(0);
    setEnabled(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        wait.move(screen->geometry().center() - wait.rect().center());
    }
    wait.show();
    repaint();
    wait.repaint();
    WaitHandlingEvents(100);

    WaveExportHooks hooks;
    hooks.cancelRequested = &wait.cancelRequested();
    hooks.progress = [&wait](int percent) {
        wait.ShowProgress(percent);
        QApplication::processEvents();  // this is when a click on Cancel is seen
    };
    const WaveWriteResult result =
        skarnel::WriteWaveFile(engine_, path.toStdString(), seconds, hooks);

    wait.hide();
    setEnabled(true);
    raise();
    activateWindow();
    if (result.status != WaveWriteStatus::kCompleted &&
        result.status != WaveWriteStatus::kCancelled) {
        dialogs_.Note(QString::fromStdString(result.message));
    }
}

ExportProgressWindow& GeneratorWindow::progressWindow() {
    if (!progress_) {
        // A window of its own: the generator is disabled while it shows, and
        // Cancel must stay usable.
        progress_ = std::make_unique<ExportProgressWindow>();
    }
    return *progress_;
}

}  // namespace skarnel
