#pragma once

#include <QMainWindow>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_output.h"
#include "engine/signal_engine.h"
#include "generator/channel_panel.h"
#include "generator/memory_presets.h"
#include "generator/sync_box_order.h"
#include "settings/generator_model.h"

class QPushButton;

namespace Ui {
class GeneratorWindow;
}

namespace skarnel {

class ChannelControls;
class LiveView;
class PlaybackPath;
class RealtimePriority;
class ScriptControl;
class ShellCommands;
class WaveExport;
class CommandBus;
class DesktopServices;
class Dialogs;
class ExportProgressWindow;
class DesktopHotKey;
class MillisecondClock;
class NotificationPump;
class OutputSettingsDialog;
class ScreenSaverInhibitor;
class ScriptWindow;
class SettingsStore;

// What runs in the window that other requests must not disturb. An export
// and the performance test own the engine and the output until they end; a
// script waits for what it played and lets only its own stops through.
enum class ModalOperation { kNone, kExport, kScript, kPerformanceTest };

// The generator window: two channel panels, the playback commands and the
// output device. Its settings live in a GeneratorModel (the controls show
// them); it owns the model's signal engine and the wave output component.
// Every handler runs on the GUI thread, the device's notifications included.
class GeneratorWindow : public QMainWindow, private OutputControl, private DeviceFaultLog {
    Q_OBJECT
public:
    GeneratorWindow(WaveOutBackend& backend, Dialogs& dialogs, ScreenSaverInhibitor& screenSaver,
                    QWidget* parent = nullptr);
    ~GeneratorWindow() override;

    // Collaborators, set once after construction.
    // The Output Settings dialog holds the output format and the sampling
    // frequency; the window reads it at every start.
    void SetSettingsDialog(OutputSettingsDialog* settings);
    OutputSettingsDialog* settingsDialog() const noexcept { return settings_; }
    // The store of the suppressible questions.
    void SetStore(SettingsStore* store);
    void SetCommandBus(CommandBus* bus) { bus_ = bus; }
    // The clock that times the performance test's rendering (tests set one).
    void SetPerformanceClock(MillisecondClock* clock) { performanceClock_ = clock; }
    // The hold on Ctrl+Insert for the whole desktop (its presses reach the
    // window through HotKeyToggle); the window lets go of it when it closes,
    // before its closing handler runs.
    void SetHotKey(DesktopHotKey* hotKey);
    // Nothing in this session gives a hot key for the whole desktop: the
    // Tools menu says so and leads to the help on `skarnel --toggle`.
    void ShowHotKeyUnavailable();
    // Ticks or unticks Loop. Ticking waits while a period plays without
    // Loop (a script's preset that Next left playing): ticked at once, the
    // period would never end.
    void SetLoopAfterPlayback(bool ticked);
    // Runs when the window closes, after the output has stopped.
    void SetClosingHandler(std::function<void()> onClosing) { onClosing_ = std::move(onClosing); }

    GeneratorModel& model() noexcept { return model_; }
    SignalEngine& engine() noexcept { return engine_; }
    AudioOutput& audioOut() noexcept { return audioOutput_; }
    MemoryPresets& presets() noexcept { return *presets_; }
    WaveExport& exporter() noexcept { return *export_; }
    ScriptControl& scripts() noexcept { return *scripts_; }
    ShellCommands& shell() noexcept { return *shell_; }
    ChannelPanel* panel(int channel) const { return panels_[channel]; }
    // The levels and spectrum of what plays, below the panels (View > Live
    // View shows or hides it).
    LiveView* liveView() const noexcept { return liveView_; }
    bool LiveViewShown() const;
    void ShowLiveView(bool shown);
    QPushButton* defaultButton() const noexcept { return defaultButton_; }
    // The list holds a device besides the default item.
    bool hasOutputDevice() const noexcept { return model_.deviceItems().size() > 1; }
    ModalOperation modalOperation() const noexcept { return modal_; }
    bool SyncTicked() const;
    // Ticks or clears "Sync all Generators" (its click handling follows).
    void SetSyncTicked(bool ticked);
    bool Synced() const;
    int DeviceItemCount() const;
    // The output device the device list shows.
    QString OutputDeviceName() const;

    // Playback (one way to start; commands from buttons, menu and keys).
    void StartGenerator();
    void OnCommand();
    void OffCommand();
    void PauseCommand();
    void ToggleCommand();
    // The global hot key's toggle (pressed here, or in this window while
    // another instance holds the key), as far as a running modal operation
    // lets it act.
    void HotKeyToggle();
    // When the user was last in this window (the system's monotonic clock,
    // which all processes share), 0 when never: `skarnel --toggle` toggles
    // the window used last.
    std::uint64_t LastUsed() const noexcept { return lastUsed_; }
    // Pauses or resumes this window's output (the caption follows).
    void InvertPause();
    void OpenOutputSettings();

    // Engine preparation from the window's values; a conversion error
    // propagates (handlers run it inside RunGuarded).
    void PrepareEngineFromWindow();
    // The window's start state (also the fallback of a failed settings load).
    void ResetSettings();
    // "Undo Reset": the values before the last reset, while nothing has
    // changed since it.
    void UndoReset();
    bool ResetUndoable() const;
    // Shows the model's values and derives every control's state from them.
    void ShowSettings();
    // A one-line note in the status area (a stored device that is gone).
    void ShowStatusNote(const QString& text);
    // Tells in the status area of a chosen device that is no longer listed
    // (the model's missingDevice()), if any.
    void ShowMissingDeviceNote();
    // Says in the status line how the sound server's mixer plays this
    // window's stream, while that differs from the samples made.
    void ShowMixerNote(const MixerLevel& level);
    // Clears `note` and takes it from the status line if it still shows.
    void TakeBackStatusNote(QString& note);
    // Shows a conversion error of `action` as a message and goes on.
    void RunGuarded(const std::function<void()>& action);

    // Memory presets: recall applies a slot (and may start playback).
    void RecallMemory(int slot);
    // Loads a preset file into the slots ("" or the message of a failure).
    std::string LoadPresets(const QString& path);

    // Tools > Performance Test.
    void OpenPerformanceTest();

    // Window commands (from other windows and programs) and the sync mode.
    void ExecuteCommand(std::uint32_t number, std::int32_t first, std::int32_t second);
    // A command another generator window broadcast: the sync box takes it
    // only when it is newer than the box's last change (SyncBoxOrder).
    void ExecutePeerCommand(std::uint32_t number, std::int32_t first, std::int32_t second,
                            std::uint64_t stamp);
    void OnSyncToggled();

    // Exit: stops the output at once, then closes the window.
    void ExitCommand();
    void SetSampleRate(std::int32_t hz);

    // Marks a modal operation for as long as it lives.
    class ModalGuard {
    public:
        ModalGuard(GeneratorWindow& window, ModalOperation operation);
        ~ModalGuard();
        ModalGuard(const ModalGuard&) = delete;
        ModalGuard& operator=(const ModalGuard&) = delete;

    private:
        GeneratorWindow& window_;
        ModalOperation previous_;
    };

signals:
    // The window has closed: the program's work is done, whatever other
    // windows (the help, a script's) are still open.
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // OutputControl: what the settings' rules need of the output.
    bool Running() const override { return audioOutput_.Running(); }
    void StopImmediately() override { audioOutput_.StopImmediately(); }
    void SelectDevice(std::int32_t item) override;
    // DeviceFaultLog: a refused pause, restart or reset is logged.
    void Refused(const char* operation, const std::string& reason) override;

    // Every enabled, greyed, checked-and-greyed and locked state of the
    // window's controls, derived from the settings, the playback state and
    // the modal operation (control_states.cpp).
    void UpdateControlStates();
    // "Skarnel", or "ON - Skarnel" while a signal plays.
    static QString WindowTitle(bool playing);
    // Whether a command from outside may act now.
    bool CommandAllowed(std::uint32_t number) const;

    void BuildPanels();
    // The channel mode list's pictures in the window's current colours.
    void DrawChannelModeIcons();
    // Keyboard focus moves through the controls as they are laid out.
    void OrderTabStops();
    void NameControlsForScreenReaders();
    void BuildDeviceList();
    // Reads the back-end's list again after it announced a change.
    void RefreshDeviceList();
    void ShowDeviceItems(const std::vector<OutputDevice>& items);
    void ConnectPlayback();

    // Shows or hides the live view; an open window changes its height with it.
    void SetLiveViewVisible(bool shown);
    // Grows (as far as the screen allows) or shrinks the open window.
    void ChangeHeightBy(int change);
    void OnPlaybackStarted();
    void OnPlaybackStopped();
    void UpdateFsLabel();

    std::unique_ptr<Ui::GeneratorWindow> ui;
    WaveOutBackend& backend_;
    Dialogs& dialogs_;
    ScreenSaverInhibitor& screenSaver_;
    OutputSettingsDialog* settings_ = nullptr;

    SignalEngine engine_;
    AudioOutput audioOutput_;
    GeneratorModel model_;
    NotificationPump* pump_ = nullptr;
    std::array<ChannelPanel*, kChannelCount> panels_{};
    ChannelControls* controls_ = nullptr;
    std::unique_ptr<MemoryPresets> presets_;
    QPushButton* defaultButton_ = nullptr;
    bool loopAfterPlayback_ = false;
    // The values a reset replaced, and what it left, for "Undo Reset".
    std::optional<GeneratorSettings> beforeReset_;
    QString missingDeviceNote_;     // the note shown for the missing device, if any
    QString mixerNote_;             // the note on the mixer's level, if any
    std::uint64_t lastUsed_ = 0;    // see LastUsed()
    GeneratorSettings afterReset_;  // tick Loop when the playing period ends
    ModalOperation modal_ = ModalOperation::kNone;
    CommandBus* bus_ = nullptr;
    MillisecondClock* performanceClock_ = nullptr;
    DesktopHotKey* hotKey_ = nullptr;
    std::function<void()> onClosing_;
    SyncBoxOrder syncOrder_;
    bool takingPeerSync_ = false;  // the sync box follows another window
    std::unique_ptr<WaveExport> export_;
    std::unique_ptr<ScriptControl> scripts_;
    ShellCommands* shell_ = nullptr;
    LiveView* liveView_ = nullptr;
    // The render thread's source and the heard frames behind the live view.
    PlaybackPath* playback_ = nullptr;
    // Real-time priority for the output's render thread, where granted.
    RealtimePriority* realtime_ = nullptr;
};

}  // namespace skarnel
