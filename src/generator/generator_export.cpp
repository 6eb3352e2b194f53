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
#include "generator/settings_persistence.h"
#include "numtext/number_reader.h"
#include "persistence/settings_store.h"
#include "platform/dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

namespace {

constexpr const char* kCdFormatHint =
    "If you would like to burn your created wave files to CD, they must be generated in stereo "
    "and at 44.1kHz sampling rate. Your current settings are different. Would you like to "
    "adjust this now?";
constexpr int kCdRateItem = 3;  // "44100"

// Waits while the event loop keeps running: queued audio of other windows'
// devices and repaints go on during the pause.
void WaitHandlingEvents(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

void GeneratorWindow::SetStore(SettingsStore* store) {
    store_ = store;
}

void GeneratorWindow::ExportWaveFileCommand() {
    if (settings_ != nullptr && (settings_->ui.cboFsList->currentText() != "44100" || !Stereo())) {
        MemorySettingsStore noStore;
        SettingsStore& store = store_ != nullptr ? *store_ : noStore;
        if (AskUnlessSuppressed(store, dialogs_, kCdFormatHint, "Hint", "CDformat") ==
            SuppressibleAnswer::kYes) {
            ui.cboChannels->setCurrentIndex(kStereo);
            OnChannelModeChanged();
            settings_->ui.cboFsList->setCurrentIndex(kCdRateItem);
            settings_->OnSampleRateChosen();
        }
    }
    const bool loop = ui.Loop->isChecked();
    ui.Loop->setChecked(false);
    RunGuarded([this] {
        audioOutput_.StopImmediately();
        PrepareEngineFromWindow();
        Dialogs::FileDialogOptions options{"Save wave file",           "WAVE file", "*.wav", "wav",
                                           ui.Duration->text() + "s ", true,        {}};
        if (const std::optional<QString> path = dialogs_.SaveFile(options)) {
            WriteWaveFile(*path);
        }
    });
    ui.Loop->setChecked(loop);  // in every outcome
}

void GeneratorWindow::WriteWaveFile(const QString& path) {
    RefreshLiveSettings();
    const long double seconds = ReadNumber(ui.Duration->text().toStdString());
    ExportProgressWindow& wait = progressWindow();
    wait.ui.ProgressBar1->setValue(0);
    setEnabled(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        wait.move(screen->geometry().center() - wait.rect().center());
    }
    wait.show();
    repaint();
    wait.repaint();
    WaitHandlingEvents(100);

    WaveExportHooks hooks;
    hooks.cancelRequested = &exportCancelled;
    hooks.progress = [&wait](int percent) {
        wait.ui.ProgressBar1->setValue(percent);
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
    if (!wait_) {
        // A window of its own: the generator is disabled while it shows, and
        // Cancel must stay usable.
        wait_ = std::make_unique<ExportProgressWindow>();
    }
    return *wait_;
}

}  // namespace skarnel
