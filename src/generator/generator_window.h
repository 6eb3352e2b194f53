#pragma once

#include <QMainWindow>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "audio/audio_output.h"
#include "engine/signal_engine.h"
#include "generator/channel_panel.h"
#include "persistence/preset_file.h"
#include "ui_generator_window.h"

class QLineEdit;
class QPushButton;

namespace skarnel {

class Dialogs;
class NotificationPump;
class ScreenSaverInhibitor;
class OutputSettingsDialog;
class ExportProgressWindow;
struct EntryRule;
class CommandBus;
class ScriptWindow;
class SettingsStore;
class DesktopServices;
class MillisecondClock;

// The mail address the "Email the author" entry hands to the mail client.
QUrl FeedbackMailUrl();

// Program-wide flag of the script runner: true from the device's open to its
// close, so a script waiting for a played preset also ends when playback ends.
extern bool scriptWaiting;

// The generator window: two channel panels, the playback commands and the
// output device. It owns the window's signal engine and its wave output
// component (audioOutput_). Every handler runs on the GUI thread, the device's
// notifications included.
class GeneratorWindow : public QMainWindow {
    Q_OBJECT
public:
    GeneratorWindow(WaveOutBackend& backend, Dialogs& dialogs, ScreenSaverInhibitor& screenSaver,
                    QWidget* parent = nullptr);
    ~GeneratorWindow() override;

    // The Output Settings dialog holds the output format and the sampling
    // frequency; the window reads it at every start.
    void SetSettingsDialog(OutputSettingsDialog* settings);
    OutputSettingsDialog* settingsDialog() const noexcept { return settings_; }

    Ui::GeneratorWindow ui;
    ChannelPanel* panel(int channel) const { return panels_[channel]; }
    AudioOutput& audioOut() noexcept { return audioOutput_; }
    SignalEngine& engine() noexcept { return engine_; }

    // Playback (one way to start; commands from buttons, menu and keys).
    void StartGenerator();
    void OnCommand();
    void OffCommand();
    void PauseCommand();
    void ToggleCommand();
    // Pauses or resumes this window's output (the caption follows).
    void InvertPause();
    void OpenOutputSettings();

    // Engine preparation from the window's texts; a conversion error
    // propagates (handlers run it inside RunGuarded).
    void PrepareEngineFromWindow();
    // The window's start state (also the fallback of a failed settings load).
    void ResetSettings();
    // Shows a conversion error of `action` as a message and goes on.
    void RunGuarded(const std::function<void()>& action);

    // Channel modes and panel state.
    void OnChannelModeChanged();
    void OnChannelTickToggled();
    void OnAsLeftToggled();
    void OnModulationToggled(int channel);
    void OnLeftNoiseFunctionChanged();
    void OnRightNoiseFunctionChanged();
    void CopyChannel(int from, int to);
    void OnCrestFactorChanged(int channel);
    void OnFilterTypeChanged(int channel);

    // Leaving an entry: validation (and for the left filter, preparation).
    void FinishAmplitudeEntry(int channel);
    void FinishPeriodEntry();
    void FinishModPeriodEntry(int channel);
    void FinishModDepthEntry(int channel);
    void FinishModPhaseEntry(int channel);
    void FinishFilterFrequencyEntry(int channel);
    void FinishFilterGainEntry(int channel);
    void FinishFilterQEntry(int channel);

    // Memory presets: slots 1..4; other numbers are ignored.
    void StoreMemory(int slot);
    void RecallMemory(int slot);
    void RenameMemory(int slot);
    // Fills every slot from the window, named "Memory 1".."Memory 4".
    void FillMemoryFromWindow();
    PresetSlots& memoryPresets() noexcept { return presets_; }
    // Loads a preset file into the slots ("" or the message of a failure) and
    // shows the slot names on the buttons.
    std::string LoadPresets(const QString& path);
    void LoadPresetsCommand();
    void SavePresetsAsCommand();
    QPushButton* memoryButton(int slot) const;

    // WAV export: the menu command, and the writer with its progress window.
    void ExportWaveFileCommand();
    void WriteWaveFile(const QString& path);
    ExportProgressWindow& progressWindow();
    // Scripts: the menu command, and running one in this window.
    void RunScriptCommand();
    void RunScript(const QString& path);
    ScriptWindow& scriptWindow();
    // The store of the suppressible questions (and of the settings).
    void SetStore(SettingsStore* store);

    // Window commands (from other windows and programs) and the sync mode.
    void ExecuteCommand(std::uint32_t number, std::int32_t first, std::int32_t second);
    void SetCommandBus(CommandBus* bus) { bus_ = bus; }
    void OnSyncToggled();
    bool Synced() const;
    // Starts the program again as a new process with "/nosplash".
    void OpenNewGeneratorWindow();

    // Shell commands: hand-overs to the desktop and the About window.
    void SetDesktopServices(DesktopServices* desktop) { desktop_ = desktop; }
    // The folder of the files that lie beside the program.
    void SetProgramFolder(const QString& folder) { programFolder_ = folder; }
    const QString& programFolder() const noexcept { return programFolder_; }
    std::function<void()> showAbout;
    // Exit: stops the output at once, then closes the window.
    void ExitCommand();
    void OpenMakerWebPage();
    // Tools > Performance Test; the clock times the rendering (tests set one).
    void OpenPerformanceTest();
    void SetPerformanceClock(MillisecondClock* clock) { performanceClock_ = clock; }

    void SetSampleRate(std::int32_t hz);
    // Runs when the window closes, after the output has stopped.
    std::function<void()> onClosing;
    QPushButton* defaultButton() const noexcept { return defaultButton_; }
    bool hasOutputDevice() const noexcept { return hasOutputDevice_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPanels();
    void BuildDeviceList();
    void ConnectControls();
    void ConnectChannel(int channel);
    void ConnectPresets();
    void ConnectShellCommands();
    void ShowPresetNames();
    void FinishRename();
    // The filter validations of a recall, each followed by preparation.
    void ValidateFilterAndPrepare(QLineEdit* entry, const EntryRule& rule);
    void WatchExit(QLineEdit* entry, std::function<void()> onExit);

    bool FillNextBuffer(std::uint8_t* buffer, std::int32_t& size);
    void OnPlaybackStarted();
    void OnPlaybackStopped();
    void SetPlayingLook(bool playing);
    void ShowPauseCaption(bool bold);
    void SetDefaultButton(QPushButton* button);
    void RefreshLiveSettings();
    void UpdateFsLabel();

    // Live values fed while the user types.
    void AmplitudeChanged(int channel);
    void SliderMoved(int channel, int position);
    void ModPeriodChanged(int channel);
    void ModDepthChanged(int channel);
    void ModPhaseChanged(int channel);

    Ui::ChannelPanel& ch(int channel) { return panels_[channel]->ui; }
    bool AsLeft() const;
    bool Stereo() const;
    // The right channel has settings of its own: Stereo without "= Left".
    bool RightChannelOwn() const { return Stereo() && !AsLeft(); }

    WaveOutBackend& backend_;
    Dialogs& dialogs_;
    ScreenSaverInhibitor& screenSaver_;
    OutputSettingsDialog* settings_ = nullptr;

    SignalEngine engine_;
    AudioOutput audioOutput_;
    NotificationPump* pump_ = nullptr;
    std::array<ChannelPanel*, kChannelCount> panels_{};
    QPushButton* defaultButton_ = nullptr;
    bool hasOutputDevice_ = true;
    PresetSlots presets_{};
    SettingsStore* store_ = nullptr;
    CommandBus* bus_ = nullptr;
    DesktopServices* desktop_ = nullptr;
    QString programFolder_;
    MillisecondClock* performanceClock_ = nullptr;
    bool syncBroadcasting_ = false;  // a sync-box broadcast is under way
    std::unique_ptr<ExportProgressWindow> wait_;
    std::unique_ptr<ScriptWindow> scriptPopup_;
    QLineEdit* renameField_ = nullptr;
    int renamingSlot_ = 0;
};

}  // namespace skarnel
