#include "generator/generator_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>
#include <array>

#include "audio/device_list.h"
#include "generator/channel_controls.h"
#include "generator/export_progress_window.h"
#include "generator/hover_label.h"
#include "generator/list_icons.h"
#include "generator/live_view.h"
#include "generator/playback_path.h"
#include "generator/script_control.h"
#include "generator/script_window.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator/wheel_needs_focus.h"
#include "generator/window_commands.h"
#include "numtext/conversion_error.h"
#include "numtext/number_format.h"
#include "platform/command_bus.h"
#include "platform/desktop_hotkey.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "platform/list_labels.h"
#include "platform/logging.h"
#include "platform/notification_pump.h"
#include "platform/realtime_priority.h"
#include "platform/screen_saver.h"
#include "settings/choice_lists.h"
#include "settings/stream_title.h"
#include "settings_dialog/output_settings_dialog.h"
#include "ui_generator_window.h"

namespace skarnel {

namespace {

constexpr const char* kShortSignalMessage =
    "For very short signals please decrease the buffer number and size in the 'Compatibility "
    "settings' in the 'Options' menu";
constexpr const char* kSoundDeviceError = "Sound Device Error: \r";
constexpr const char* kNoDeviceMessage = "No Soundcard driver found. No sound output possible.";

}  // namespace

GeneratorWindow::GeneratorWindow(WaveOutBackend& backend, Dialogs& dialogs,
                                 ScreenSaverInhibitor& screenSaver, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::GeneratorWindow>()),
      backend_(backend),
      dialogs_(dialogs),
      screenSaver_(screenSaver),
      audioOutput_(backend, this),
      model_(engine_, this) {
    ui->setupUi(this);
    NameControlsForScreenReaders();
    for (const char* mode : kChannelModeItems) {
        ui->cboChannels->addItem(mode);
    }
    DrawChannelModeIcons();
    BuildPanels();
    LabelListsForScreenReaders(*this);
    OrderTabStops();
    liveView_ = new LiveView(ui->centralWidget);
    liveView_->setObjectName("liveView");
    ui->mainLayout->insertWidget(ui->mainLayout->count() - 1, liveView_);  // above the credit
    connect(ui->mnuLiveView, &QAction::toggled, this, &GeneratorWindow::SetLiveViewVisible);
    WheelNeedsFocus::InstallWithin(ui->headerWidget);
    WheelNeedsFocus::InstallWithin(ui->centralWidget);

    audioOutput_.SetFrameRate(22050);
    audioOutput_.OnStart = [this] { OnPlaybackStarted(); };
    audioOutput_.OnStop = [this] { OnPlaybackStopped(); };
    audioOutput_.OnMixerLevel = [this](const MixerLevel& level) { ShowMixerNote(level); };
    playback_ = new PlaybackPath(engine_, model_, audioOutput_, *liveView_, this);
    realtime_ = new RealtimePriority(false, this);
    audioOutput_.OnRenderThreadStart = [this] { realtime_->RequestForCallingThread(); };
    // One wake-up handles what was pending when it came, so user input gets
    // its turn even when the device returns buffers as fast as they are filled.
    pump_ = new NotificationPump(
        audioOutput_.Notifications(),
        [this] { audioOutput_.ProcessNotifications(audioOutput_.Notifications().Pending()); },
        this);

    controls_ = new ChannelControls(
        model_, {ui->cboChannels, ui->chkAsLeft, ui->Duration, ui->Loop, ui->WaveDevice, panels_},
        [this](const std::function<void()>& action) { RunGuarded(action); }, this);
    connect(controls_, &ChannelControls::changed, this, &GeneratorWindow::UpdateControlStates);
    connect(controls_, &ChannelControls::changed, this, &GeneratorWindow::ShowMissingDeviceNote);

    presets_ = std::make_unique<MemoryPresets>(
        MemoryPresets::Widgets{
            {ui->btnMemory1, ui->btnMemory2, ui->btnMemory3, ui->btnMemory4},
            {ui->mnuRecallPreset1, ui->mnuRecallPreset2, ui->mnuRecallPreset3,
             ui->mnuRecallPreset4},
            {ui->mnuStorePreset1, ui->mnuStorePreset2, ui->mnuStorePreset3, ui->mnuStorePreset4},
            ui->LoadPresets1,
            ui->SavePresetsAs1},
        MemoryPresets::Window{this, [this](int slot) { RecallMemory(slot); },
                              [this] { audioOutput_.StopImmediately(); },
                              [this] { UpdateControlStates(); }},
        model_, dialogs_);
    connect(ui->mnuResetSettings, &QAction::triggered, this, &GeneratorWindow::ResetSettings);
    connect(ui->mnuUndoReset, &QAction::triggered, this, &GeneratorWindow::UndoReset);
    connect(ui->mnuAutostart, &QAction::toggled, this,
            [this](bool on) { model_.SetAutostart(on); });

    export_ = std::make_unique<WaveExport>(*this, dialogs_);
    scripts_ = std::make_unique<ScriptControl>(*this, dialogs_);
    shell_ = new ShellCommands(
        {ui->OpenScriptEditor1, ui->Help1, ui->EmailAuthor1, ui->MoreAudioSoftware1, ui->About1,
         ui->mnuNewWindow, ui->lblCredit, panels_[kLeft]->crestFactorLink(), ui->mnuFile,
         ui->RunScript1, ui->mnuPresets, ui->mnuView, ui->mnuLiveView, liveView_},
        dialogs_, this);

    ui->LED->SetColour(StatusLamp::kStopped);
    ConnectPlayback();
    BuildDeviceList();
    ShowSettings();
}

GeneratorWindow::~GeneratorWindow() {
    backend_.WatchDevices(nullptr);
    // The device must not outlive the window that renders into it.
    audioOutput_.StopImmediately();
    screenSaver_.Release();
}

void GeneratorWindow::SetSettingsDialog(OutputSettingsDialog* settings) {
    settings_ = settings;
    SetSampleRate(settings->SamplingFrequency());
    connect(settings, &OutputSettingsDialog::offRequested, this, &GeneratorWindow::OffCommand);
    connect(settings, &OutputSettingsDialog::samplingFrequencyChanged, this,
            &GeneratorWindow::SetSampleRate);
    connect(settings, &OutputSettingsDialog::closedByUser, this, [this] { setEnabled(true); });
}

void GeneratorWindow::SetStore(SettingsStore* store) {
    export_->SetStore(store);
}

bool GeneratorWindow::LiveViewShown() const {
    return ui->mnuLiveView->isChecked();
}

void GeneratorWindow::ShowLiveView(bool shown) {
    ui->mnuLiveView->setChecked(shown);
    SetLiveViewVisible(shown);
}

void GeneratorWindow::SetLiveViewVisible(bool shown) {
    if (liveView_->isVisibleTo(this) == shown) {
        return;
    }
    liveView_->setVisible(shown);
    // An open window grows by the view's height when it is shown (as far as
    // its screen allows; the rest scrolls) and gives that height back when it
    // is hidden, rather than leaving an empty band or scrolling at once.
    if (!isVisible() || isMaximized() || isFullScreen()) {
        return;
    }
    const int change = liveView_->sizeHint().height() + ui->mainLayout->spacing();
    ChangeHeightBy(shown ? change : -change);
}

void GeneratorWindow::ChangeHeightBy(int change) {
    int height = this->height() + change;
    if (const QScreen* screen = this->screen(); screen != nullptr && change > 0) {
        const int frame = frameGeometry().height() - this->height();
        const int room = screen->availableGeometry().bottom() + 1 - frameGeometry().top() - frame;
        height = std::min(height, std::max(this->height(), room));
    }
    resize(width(), std::max(height, minimumSizeHint().height()));
}

void GeneratorWindow::ExitCommand() {
    audioOutput_.StopImmediately();
    close();
}

void GeneratorWindow::SetSampleRate(std::int32_t hz) {
    model_.SetSampleRate(hz);
}

void GeneratorWindow::BuildPanels() {
    for (int c = 0; c < kChannelCount; ++c) {
        panels_[c] = new ChannelPanel(static_cast<Channel>(c), ui->centralWidget);
        ui->panelsLayout->addWidget(panels_[c]);
    }
}

void GeneratorWindow::DrawChannelModeIcons() {
    for (int mode = 0; mode < ui->cboChannels->count(); ++mode) {
        ui->cboChannels->setItemIcon(mode, ChannelModeIcon(mode, palette()));
    }
}

void GeneratorWindow::OrderTabStops() {
    // The rows above the panels are ordered in the form; the panels, built
    // here, follow them, left before right, each in its own form's order.
    QWidget* previous = ui->btnMemory4;
    for (const ChannelPanel* panel : panels_) {
        const QList<QWidget*> stops = panel->TabStops();
        for (QWidget* stop : stops) {
            setTabOrder(previous, stop);
            previous = stop;
        }
    }
}

void GeneratorWindow::NameControlsForScreenReaders() {
    // Names that say what a control is, never what it shows now: a tick is
    // otherwise read out by its short caption. A list is read by its current
    // item and by a label that says this name.
    const std::pair<QWidget*, const char*> names[] = {
        {ui->cboChannels, "Channel mode"},
        {ui->chkAsLeft, "Right channel as left"},
        {ui->Duration, "Period in seconds"},
        {ui->Loop, "Loop"},
        {ui->WaveDevice, "Output device"},
        {ui->lblFS, "Sampling frequency"},
        {ui->chkSync, "Sync all generators"},
        {ui->LED, "Playback status"},
        {ui->btnON, "ON"},
        {ui->btnOFF, "OFF"},
        {ui->btnPause, "Pause"},
    };
    for (const auto& [widget, name] : names) {
        widget->setAccessibleName(name);
    }
    // The menu bar's button for menus that do not fit.
    if (auto* more = ui->menuBar->findChild<QWidget*>("qt_menubar_ext_button")) {
        more->setAccessibleName("More menus");
    }
}

void GeneratorWindow::BuildDeviceList() {
    const std::vector<OutputDevice> items = OutputDeviceList(backend_);
    ShowDeviceItems(items);
    model_.SetDeviceItems(items);
    model_.SetWaveDevice(0);
    audioOutput_.SetWaveDevice(kDefaultWaveDevice);
    if (!hasOutputDevice()) {
        dialogs_.Note(kNoDeviceMessage);
    }
    // The back-end calls from a thread of its own; the list is read again on
    // this one. A call queued for a window that is gone is dropped.
    backend_.WatchDevices([this] {
        QMetaObject::invokeMethod(
            this, [this] { RefreshDeviceList(); }, Qt::QueuedConnection);
    });
}

void GeneratorWindow::ShowDeviceItems(const std::vector<OutputDevice>& items) {
    const QSignalBlocker quiet(ui->WaveDevice);
    ui->WaveDevice->clear();
    for (const OutputDevice& item : items) {
        ui->WaveDevice->addItem(QString::fromStdString(item.shown));
        // The whole description, where the list shows it cut or numbered.
        if (item.shown != item.description) {
            ui->WaveDevice->setItemData(ui->WaveDevice->count() - 1,
                                        QString::fromStdString(item.description), Qt::ToolTipRole);
        }
    }
}

void GeneratorWindow::RefreshDeviceList() {
    std::vector<OutputDevice> items = OutputDeviceList(backend_);
    if (items == model_.deviceItems()) {
        return;
    }
    ShowDeviceItems(items);
    model_.ReplaceDeviceItems(std::move(items));
    controls_->Show();
    ShowMissingDeviceNote();
    UpdateControlStates();
}

void GeneratorWindow::ShowMissingDeviceNote() {
    if (!model_.missingDevice().empty()) {
        const QString note =
            QString("The output device \"%1\" is not available; \"%2\" plays instead.")
                .arg(QString::fromStdString(model_.missingDevice()), kDefaultDeviceItem);
        if (note != missingDeviceNote_) {  // said once, not over a later note
            missingDeviceNote_ = note;
            ShowStatusNote(note);
        }
    } else {
        // The device is back (or another was chosen): its note goes.
        TakeBackStatusNote(missingDeviceNote_);
    }
}

void GeneratorWindow::ShowMixerNote(const MixerLevel& level) {
    // The view measures the samples as made; what leaves the server may be
    // turned down or muted in the desktop's mixer, and the user must know.
    if (level.Unchanged()) {
        TakeBackStatusNote(mixerNote_);
        return;
    }
    const QString note =
        level.muted
            ? QStringLiteral("The sound server plays this stream muted")
            : QString("The sound server plays this stream at %1 dB").arg(level.gainDb, 0, 'f', 1);
    if (note != mixerNote_) {
        mixerNote_ = note;
        ShowStatusNote(note);
    }
}

void GeneratorWindow::TakeBackStatusNote(QString& note) {
    // Only while it is still what the status line says: a later note stays.
    if (QStatusBar* bar = findChild<QStatusBar*>();
        !note.isEmpty() && bar != nullptr && bar->currentMessage() == note) {
        bar->clearMessage();
    }
    note.clear();
}

void GeneratorWindow::Refused(const char* operation, const std::string& reason) {
    qCWarning(lcWindow) << "the output device refused to" << operation << "-" << reason.c_str();
}

void GeneratorWindow::SelectDevice(std::int32_t item) {
    audioOutput_.SetWaveDevice(WaveDeviceForItem(item));
}

void GeneratorWindow::ConnectPlayback() {
    using Command = void (GeneratorWindow::*)();
    for (const auto& [button, command] :
         {std::pair<QPushButton*, Command>{ui->btnON, &GeneratorWindow::OnCommand},
          {ui->btnOFF, &GeneratorWindow::OffCommand},
          {ui->btnPause, &GeneratorWindow::PauseCommand}}) {
        connect(button, &QPushButton::clicked, this, command);
    }
    for (const auto& [entry, command] :
         {std::pair<QAction*, Command>{ui->mnuON, &GeneratorWindow::OnCommand},
          {ui->mnuOFF, &GeneratorWindow::OffCommand},
          {ui->mnuPause, &GeneratorWindow::PauseCommand},
          {ui->mnuToggle, &GeneratorWindow::ToggleCommand},
          {ui->mnuOutputSettings, &GeneratorWindow::OpenOutputSettings},
          {ui->mnuExit, &GeneratorWindow::ExitCommand},
          {ui->CompatibilityTest1, &GeneratorWindow::OpenPerformanceTest}}) {
        connect(entry, &QAction::triggered, this, command);
    }
    connect(ui->mnuHotKeyUnavailable, &QAction::triggered, this,
            [] { ShowHelpTopic(kToolsMenuHelp); });
    connect(ui->SaveWaveFile1, &QAction::triggered, this, [this] { export_->Command(); });
    connect(ui->RunScript1, &QAction::triggered, this, [this] { scripts_->Command(); });
    connect(ui->chkSync, &QCheckBox::toggled, this, &GeneratorWindow::OnSyncToggled);
    connect(HoverLink::Attach(ui->lblFS), &HoverLink::clicked, this,
            &GeneratorWindow::OpenOutputSettings);
}

// ------------------------------------------------------------ settings

void GeneratorWindow::RunGuarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConversionError& error) {
        dialogs_.Note(QString::fromStdString(error.what()));
    }
}

void GeneratorWindow::ShowSettings() {
    controls_->Show();
    {
        const QSignalBlocker quiet(ui->mnuAutostart);
        ui->mnuAutostart->setChecked(model_.autostart());
    }
    UpdateControlStates();
    ShowMissingDeviceNote();
}

void GeneratorWindow::ShowStatusNote(const QString& text) {
    // The status line comes with the first note. An open window grows by
    // its height (as far as the screen allows) rather than take it from the
    // controls, which would make the window scroll.
    const bool first = findChild<QStatusBar*>() == nullptr;
    QStatusBar* bar = statusBar();
    bar->showMessage(text);
    if (first && isVisible() && !isMaximized() && !isFullScreen()) {
        ChangeHeightBy(bar->sizeHint().height());
    }
}

void GeneratorWindow::PrepareEngineFromWindow() {
    // The controls show what the model holds, so the model is prepared; a
    // failure leaves what was set before it, shown, and propagates.
    try {
        model_.Prepare();
    } catch (...) {
        ShowSettings();
        throw;
    }
    ShowSettings();
}

void GeneratorWindow::ResetSettings() {
    beforeReset_ = model_.values();
    model_.Reset();
    ShowSettings();
    afterReset_ = model_.values();
    UpdateControlStates();
}

bool GeneratorWindow::ResetUndoable() const {
    return beforeReset_.has_value() && model_.values() == afterReset_;
}

// Brings back what a reset replaced, as long as nothing was changed since.
void GeneratorWindow::UndoReset() {
    if (!ResetUndoable()) {
        ResetSettings();  // its shortcut came from before a change: Ctrl+Z resets
        return;
    }
    const GeneratorSettings before = *beforeReset_;
    beforeReset_.reset();
    RunGuarded([this, &before] {
        model_.Recall(before);
        model_.SetWaveDevice(before.waveDevice);  // a preset does not carry the device
        model_.OnWaveDeviceChanged();
    });
    ShowSettings();
}

// Applies a slot in a fixed order; every value set has the consequences of
// the user's change. A filter text the preparation cannot read ends the recall
// with the error; the values set before keep theirs.
void GeneratorWindow::RecallMemory(int slot) {
    if (slot < 1 || slot > MemoryPresets::kSlotCount) {
        return;
    }
    bool recalled = false;
    RunGuarded([this, slot, &recalled] {
        const GeneratorSettings preset = presets_->records()[slot - 1].settings;  // a copy
        audioOutput_.StopImmediately();
        model_.Recall(preset);
        recalled = true;
    });
    ShowSettings();
    if (recalled && model_.autostart()) {
        OnCommand();
    }
}

std::string GeneratorWindow::LoadPresets(const QString& path) {
    return presets_->Load(path);
}

// ------------------------------------------------------------ playback

void GeneratorWindow::StartGenerator() {
    if (audioOutput_.Running()) {
        return;
    }
    PrepareEngineFromWindow();
    audioOutput_.SetStereo(model_.Stereo());
    audioOutput_.SetFrameRate(engine_.state.sampleRate);
    if (settings_ != nullptr) {
        audioOutput_.SetQuantization(static_cast<std::uint16_t>(settings_->QuantizationBits()));
        audioOutput_.SetNumBuffers(settings_->BufferCount());
        audioOutput_.SetBufferSize(settings_->BufferBytes());  // last: allocates for the count
    }
    const int number = bus_ != nullptr ? bus_->WindowNumber() : 1;
    audioOutput_.SetStreamName(StreamTitle(model_.values(), number));
    audioOutput_.SetStreamIdentity("generator-" + std::to_string(number));
    playback_->Prepare();
    playback_->SetStarting(true);
    const bool started = audioOutput_.BeginPlayback();
    playback_->SetStarting(false);
    if (!started) {
        liveView_->Clear();
        const std::string& error = audioOutput_.LastError();
        qCWarning(lcWindow) << "playback did not start:" << error.c_str();
        if (error == kErrNoFilledBuffer) {
            dialogs_.Note(kShortSignalMessage);
        } else {
            dialogs_.Note(kSoundDeviceError + QString::fromStdString(error));
        }
    }
    ui->btnOFF->setFocus();
}

// With "Sync all Generators" the ON, OFF and Pause commands go to every
// window, this one included through its own copy of the broadcast.
void GeneratorWindow::OnCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandStart, 0, 0, 0);
        raise();
        activateWindow();
        return;
    }
    RunGuarded([this] { StartGenerator(); });
}

void GeneratorWindow::OffCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandStop, 0, 0, 0);
    } else {
        audioOutput_.StopImmediately();
    }
    if (ui->btnON->isEnabled()) {
        ui->btnON->setFocus();
    }
}

void GeneratorWindow::PauseCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandPause, 0, 0, 0);
        return;
    }
    InvertPause();
}

void GeneratorWindow::InvertPause() {
    audioOutput_.SetPaused(!audioOutput_.Paused());
    liveView_->SetFrozen(audioOutput_.Paused());
    UpdateControlStates();
}

void GeneratorWindow::ToggleCommand() {
    if (audioOutput_.Running()) {
        OffCommand();
    } else {
        OnCommand();
    }
}

void GeneratorWindow::OpenOutputSettings() {
    audioOutput_.StopImmediately();
    if (settings_ != nullptr) {
        settings_->show();
        settings_->raise();
        settings_->activateWindow();
    }
}

void GeneratorWindow::OnPlaybackStarted() {
    playback_->Started();
    scripts_->waiting() = true;
    UpdateControlStates();
    if (settings_ != nullptr && settings_->DisableScreenSaver()) {
        screenSaver_.Inhibit();
    }
}

void GeneratorWindow::SetLoopAfterPlayback(bool ticked) {
    loopAfterPlayback_ = ticked && !model_.values().loop && audioOutput_.Running();
    if (!loopAfterPlayback_) {
        model_.SetLoop(ticked);
        ShowSettings();
    }
}

void GeneratorWindow::OnPlaybackStopped() {
    if (loopAfterPlayback_) {
        loopAfterPlayback_ = false;
        model_.SetLoop(true);
        ShowSettings();
    }
    scripts_->waiting() = false;
    playback_->Stopped();
    liveView_->Clear();
    UpdateControlStates();
    screenSaver_.Release();
    // The device ended playback on its own (a sound server that went away):
    // the user must hear of it, or an unattended run would sit silent. The
    // note waits until the notification that brought it has been handled.
    if (const std::string& fault = audioOutput_.PlaybackFault(); !fault.empty()) {
        qCWarning(lcWindow) << "playback ended by the device:" << fault.c_str();
        const QString text = kSoundDeviceError + QString::fromStdString(fault);
        QMetaObject::invokeMethod(
            this, [this, text] { dialogs_.Note(text); }, Qt::QueuedConnection);
    }
}

// Enter anywhere in the window presses the default button: ON while stopped,
// OFF while playing.
void GeneratorWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        defaultButton_ != nullptr && defaultButton_->isEnabled()) {
        defaultButton_->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void GeneratorWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        DrawChannelModeIcons();
    }
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        setWindowTitle(WindowTitle(audioOutput_.Running()));
        UpdateFsLabel();
        lastUsed_ =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    QMainWindow::changeEvent(event);
}

void GeneratorWindow::UpdateFsLabel() {
    ui->lblFS->setText(
        "fs=" + QString::fromStdString(FormatNumber(engine_.state.sampleRate / 1000.0L)) + "kHz");
}

void GeneratorWindow::SetHotKey(DesktopHotKey* hotKey) {
    hotKey_ = hotKey;
}

void GeneratorWindow::ShowHotKeyUnavailable() {
    // Added to the menu only now: a hidden entry would still be read out by
    // screen readers.
    QMenu* tools = ui->mnuTools;
    if (tools->actions().contains(ui->mnuHotKeyUnavailable)) {
        return;
    }
    const QList<QAction*> entries = tools->actions();
    const qsizetype toggle = entries.indexOf(ui->mnuToggle);
    tools->insertAction(entries.value(toggle + 1, nullptr), ui->mnuHotKeyUnavailable);
}

void GeneratorWindow::closeEvent(QCloseEvent* event) {
    if (modal_ == ModalOperation::kExport) {
        // The export ends at its next progress step, removing its unfinished
        // file; writing on with no window would keep the program alive.
        export_->progressWindow().cancelRequested() = true;
    }
    audioOutput_.StopImmediately();
    if (hotKey_ != nullptr) {
        hotKey_->Release();
    }
    if (onClosing_) {
        onClosing_();
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        emit closed();
    }
}

// ------------------------------------------------------------ modal operations

GeneratorWindow::ModalGuard::ModalGuard(GeneratorWindow& window, ModalOperation operation)
    : window_(window), previous_(window.modal_) {
    window_.modal_ = operation;
    window_.UpdateControlStates();
}

GeneratorWindow::ModalGuard::~ModalGuard() {
    window_.modal_ = previous_;
    window_.UpdateControlStates();
}

}  // namespace skarnel
