#include "generator/generator_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "audio/device_list.h"
#include "engine/preparation.h"
#include "generator/export_progress_window.h"
#include "generator/hover_label.h"
#include "generator/list_icons.h"
#include "generator/script_window.h"
#include "generator/window_commands.h"
#include "numtext/conversion_error.h"
#include "numtext/number_format.h"
#include "platform/command_bus.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "platform/notification_pump.h"
#include "platform/screen_saver.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

bool scriptWaiting = false;

namespace {

constexpr const char* kProductName = "Skarnel";
constexpr const char* kShortSignalMessage =
    "For very short signals please decrease the buffer number and size in the 'Compatibility "
    "settings' in the 'Options' menu";
constexpr const char* kPerformanceMessage =
    "There is an issue with performance. See help for details";
constexpr const char* kNoDeviceMessage = "No Soundcard driver found. No sound output possible.";

}  // namespace

GeneratorWindow::GeneratorWindow(WaveOutBackend& backend, Dialogs& dialogs,
                                 ScreenSaverInhibitor& screenSaver, QWidget* parent)
    : QMainWindow(parent),
      backend_(backend),
      dialogs_(dialogs),
      screenSaver_(screenSaver),
      audioOutput_(backend) {
    ui.setupUi(this);
    ui.cboChannels->addItem(ChannelModeIcon(0), "Mono");
    ui.cboChannels->addItem(ChannelModeIcon(1), "Stereo");
    ui.cboChannels->setCurrentIndex(-1);  // none until the settings are applied
    BuildPanels();

    audioOutput_.SetFrameRate(22050);
    audioOutput_.OnStart = [this] { OnPlaybackStarted(); };
    audioOutput_.OnStop = [this] { OnPlaybackStopped(); };
    audioOutput_.OnFillBuffer = [this](std::uint8_t* buffer, std::int32_t& size) {
        return FillNextBuffer(buffer, size);
    };
    // One wake-up handles what was pending when it came, so user input gets
    // its turn even when the device returns buffers as fast as they are filled.
    pump_ = new NotificationPump(
        audioOutput_.Notifications(),
        [this] { audioOutput_.ProcessNotifications(audioOutput_.Notifications().Pending()); },
        this);
    engine_.onReentry = [this] {
        audioOutput_.StopImmediately();
        dialogs_.Note(kPerformanceMessage, kPerformanceHelp);
    };

    ui.LED->SetColour(StatusLamp::kStopped);
    SetDefaultButton(ui.btnON);
    programFolder_ = QCoreApplication::applicationDirPath();
    ConnectControls();
    ConnectPresets();
    ConnectShellCommands();
    BuildDeviceList();
}

GeneratorWindow::~GeneratorWindow() {
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

void GeneratorWindow::SetSampleRate(std::int32_t hz) {
    engine_.state.sampleRate = hz;
}

void GeneratorWindow::BuildPanels() {
    for (int c = 0; c < kChannelCount; ++c) {
        panels_[c] = new ChannelPanel(static_cast<Channel>(c), ui.centralWidget);
        ui.panelsLayout->addWidget(panels_[c]);
    }
}

void GeneratorWindow::BuildDeviceList() {
    const std::vector<std::string> items = OutputDeviceList(backend_);
    for (const std::string& item : items) {
        ui.WaveDevice->addItem(QString::fromStdString(item));
    }
    ui.WaveDevice->setCurrentIndex(0);
    audioOutput_.SetWaveDevice(kDefaultWaveDevice);
    hasOutputDevice_ = items.size() > 1;
    if (!hasOutputDevice_) {
        dialogs_.Note(kNoDeviceMessage);
        ui.btnON->setEnabled(false);
    }
}

void GeneratorWindow::ConnectControls() {
    connect(ui.btnON, &QPushButton::clicked, this, &GeneratorWindow::OnCommand);
    connect(ui.btnOFF, &QPushButton::clicked, this, &GeneratorWindow::OffCommand);
    connect(ui.btnPause, &QPushButton::clicked, this, &GeneratorWindow::PauseCommand);
    connect(ui.mnuON, &QAction::triggered, this, &GeneratorWindow::OnCommand);
    connect(ui.mnuOFF, &QAction::triggered, this, &GeneratorWindow::OffCommand);
    connect(ui.mnuPause, &QAction::triggered, this, &GeneratorWindow::PauseCommand);
    connect(ui.mnuToggle, &QAction::triggered, this, &GeneratorWindow::ToggleCommand);
    connect(ui.mnuOutputSettings, &QAction::triggered, this, &GeneratorWindow::OpenOutputSettings);
    connect(ui.SaveWaveFile1, &QAction::triggered, this, &GeneratorWindow::ExportWaveFileCommand);
    connect(ui.RunScript1, &QAction::triggered, this, &GeneratorWindow::RunScriptCommand);
    connect(ui.chkSync, &QCheckBox::toggled, this, &GeneratorWindow::OnSyncToggled);
    connect(ui.mnuNewWindow, &QAction::triggered, this, &GeneratorWindow::OpenNewGeneratorWindow);
    connect(HoverLink::Attach(ui.lblFS), &HoverLink::clicked, this,
            &GeneratorWindow::OpenOutputSettings);
    connect(ui.WaveDevice, &QComboBox::activated, this,
            [this](int item) { audioOutput_.SetWaveDevice(WaveDeviceForItem(item)); });

    connect(ui.cboChannels, &QComboBox::activated, this, &GeneratorWindow::OnChannelModeChanged);
    connect(ui.chkAsLeft, &QCheckBox::toggled, this, &GeneratorWindow::OnAsLeftToggled);
    WatchExit(ui.Duration, [this] { FinishPeriodEntry(); });
    for (int c = 0; c < kChannelCount; ++c) {
        ConnectChannel(c);
    }
}

// ------------------------------------------------------------ playback

void GeneratorWindow::RunGuarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConversionError& error) {
        dialogs_.Note(QString::fromStdString(error.what()));
    }
}

void GeneratorWindow::StartGenerator() {
    if (audioOutput_.Running()) {
        return;
    }
    PrepareEngineFromWindow();
    audioOutput_.SetStereo(Stereo());
    audioOutput_.SetFrameRate(engine_.state.sampleRate);
    if (settings_ != nullptr) {
        audioOutput_.SetQuantization(static_cast<std::uint16_t>(settings_->QuantizationBits()));
        audioOutput_.SetNumBuffers(settings_->BufferCount());
        audioOutput_.SetBufferSize(settings_->BufferBytes());  // last: allocates for the count
    }
    if (!audioOutput_.BeginPlayback()) {
        const std::string& error = audioOutput_.LastError();
        if (error == kErrNoFilledBuffer) {
            dialogs_.Note(kShortSignalMessage);
        } else {
            dialogs_.Note("Sound Device Error: \r" + QString::fromStdString(error));
        }
    }
    ui.btnOFF->setFocus();
}

// With "Sync all Generators" the ON, OFF and Pause commands go to every
// window, this one included through its own copy of the broadcast.
void GeneratorWindow::OnCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandStart, 0, 0);
        raise();
        activateWindow();
        return;
    }
    RunGuarded([this] { StartGenerator(); });
}

void GeneratorWindow::OffCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandStop, 0, 0);
    } else {
        audioOutput_.StopImmediately();
    }
    if (ui.btnON->isEnabled()) {
        ui.btnON->setFocus();
    }
}

void GeneratorWindow::PauseCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandPause, 0, 0);
        return;
    }
    InvertPause();
}

void GeneratorWindow::InvertPause() {
    audioOutput_.SetPaused(!audioOutput_.Paused());
    ShowPauseCaption(audioOutput_.Paused());
}

void GeneratorWindow::ShowPauseCaption(bool bold) {
    QFont font = ui.btnPause->font();
    font.setBold(bold);
    ui.btnPause->setFont(font);
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

bool GeneratorWindow::FillNextBuffer(std::uint8_t* buffer, std::int32_t& size) {
    RefreshLiveSettings();
    return engine_.FillBlock(buffer, static_cast<std::size_t>(size)) == BlockStatus::kPlay;
}

void GeneratorWindow::OnPlaybackStarted() {
    setWindowTitle(QString("ON - ") + kProductName);
    SetDefaultButton(ui.btnOFF);
    ui.LED->SetColour(StatusLamp::kPlaying);
    scriptWaiting = true;
    SetPlayingLook(true);
    if (settings_ != nullptr && settings_->DisableScreenSaver()) {
        screenSaver_.Inhibit();
    }
}

void GeneratorWindow::OnPlaybackStopped() {
    setWindowTitle(kProductName);
    ShowPauseCaption(false);
    SetDefaultButton(ui.btnON);
    ui.LED->SetColour(StatusLamp::kStopped);
    scriptWaiting = false;
    SetPlayingLook(false);
    screenSaver_.Release();
}

// The controls that must not change while a signal plays.
void GeneratorWindow::SetPlayingLook(bool playing) {
    for (QWidget* w : {static_cast<QWidget*>(ui.cboChannels), static_cast<QWidget*>(ui.WaveDevice),
                       static_cast<QWidget*>(ui.Duration), static_cast<QWidget*>(ui.Loop),
                       static_cast<QWidget*>(ch(kLeft).amplitude),
                       static_cast<QWidget*>(ch(kRight).amplitude)}) {
        w->setEnabled(!playing);
    }
    for (int slot = 1; slot <= 4; ++slot) {
        memoryButton(slot)->setEnabled(!playing);
    }
    ui.mnuPresets->setEnabled(!playing);
    // Unlocked, the right amplitude entry is greyed again where the channel
    // mode or "= Left" greys the rest of the right channel.
    if (!playing) {
        ch(kRight).amplitude->setEnabled(RightChannelOwn());
    }
}

void GeneratorWindow::SetDefaultButton(QPushButton* button) {
    for (QPushButton* b : {ui.btnON, ui.btnOFF}) {
        b->setDefault(b == button);
    }
    defaultButton_ = button;
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
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        setWindowTitle(audioOutput_.Running() ? QString("ON - ") + kProductName : kProductName);
        UpdateFsLabel();
    }
    QMainWindow::changeEvent(event);
}

void GeneratorWindow::UpdateFsLabel() {
    ui.lblFS->setText(
        "fs=" + QString::fromStdString(FormatNumber(engine_.state.sampleRate / 1000.0L)) + "kHz");
}

void GeneratorWindow::closeEvent(QCloseEvent* event) {
    audioOutput_.StopImmediately();
    if (onClosing) {
        onClosing();
    }
    QMainWindow::closeEvent(event);
}

// ------------------------------------------------------------ preparation

void GeneratorWindow::RefreshLiveSettings() {
    LiveSettings& live = engine_.live;
    live.channelMode = ui.cboChannels->currentIndex() == kStereo ? kStereo : kMono;
    live.asLeft = ui.chkAsLeft->isChecked();
    live.loop = ui.Loop->isChecked();
    for (int c = 0; c < kChannelCount; ++c) {
        live.noiseFunction[c] = ch(c).noiseFunction->currentIndex();
        live.modulationOn[c] = ch(c).modulationOn->isChecked();
        live.modFunction[c] = ch(c).modFunction->currentIndex();
        live.filterType[c] = ch(c).filterType->currentIndex();
    }
}

void GeneratorWindow::PrepareEngineFromWindow() {
    RefreshLiveSettings();
    const std::string duration = ui.Duration->text().toStdString();
    std::array<std::string, 3 * kChannelCount> filter;
    for (int c = 0; c < kChannelCount; ++c) {
        filter[3 * c] = ch(c).frequency->text().toStdString();
        filter[3 * c + 1] = ch(c).q->text().toStdString();
        filter[3 * c + 2] = ch(c).gain->text().toStdString();
    }
    PreparationTexts texts{duration,
                           {FilterTexts{filter[0], filter[1], filter[2]},
                            FilterTexts{filter[3], filter[4], filter[5]}}};
    const PreparationOutcome outcome = PrepareEngine(engine_.state, engine_.live, texts, [this] {
        FinishAmplitudeEntry(kLeft);
        FinishAmplitudeEntry(kRight);
    });
    for (int c = 0; c < kChannelCount; ++c) {
        const FilterDesignOutcome& design = outcome.filter[c];
        ch(c).frequency->setEnabled(design.enabled.frequency);
        ch(c).gain->setEnabled(design.enabled.gain);
        ch(c).q->setEnabled(design.enabled.q);
        if (design.setQTextToOne) {
            ch(c).q->setText("1");
        }
    }
}

}  // namespace skarnel
