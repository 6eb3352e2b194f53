#include "generator/tfrm_generator.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "audio/device_list.h"
#include "engine/preparation.h"
#include "export/tfrm_wait.h"
#include "generator/hover_label.h"
#include "generator/list_icons.h"
#include "generator/window_commands.h"
#include "platform/help_router.h"
#include "numtext/conversion_error.h"
#include "numtext/number_format.h"
#include "platform/command_bus.h"
#include "platform/dialogs.h"
#include "platform/notification_pump.h"
#include "platform/screen_saver.h"
#include "script/tfrm_script_popup.h"
#include "settings_dialog/tfrm_settings.h"

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

TfrmGenerator::TfrmGenerator(WaveOutBackend& backend, Dialogs& dialogs,
                             ScreenSaverInhibitor& screenSaver, QWidget* parent)
    : QMainWindow(parent),
      backend_(backend),
      dialogs_(dialogs),
      screenSaver_(screenSaver),
      AudioOut1(backend) {
    ui.setupUi(this);
    ui.cboChannels->addItem(ChannelModeIcon(0), "Mono");
    ui.cboChannels->addItem(ChannelModeIcon(1), "Stereo");
    ui.cboChannels->setCurrentIndex(-1);  // none until the settings are applied
    BuildPanels();

    AudioOut1.SetFrameRate(22050);
    AudioOut1.OnStart = [this] { AudioOut1Start(); };
    AudioOut1.OnStop = [this] { AudioOut1Stop(); };
    AudioOut1.OnFillBuffer = [this](std::uint8_t* buffer, std::int32_t& size) {
        return AudioOut1FillBuffer(buffer, size);
    };
    // One wake-up handles what was pending when it came, so user input gets
    // its turn even when the device returns buffers as fast as they are filled.
    pump_ = new NotificationPump(
        AudioOut1.Notifications(),
        [this] { AudioOut1.ProcessNotifications(AudioOut1.Notifications().Pending()); }, this);
    engine_.onReentry = [this] {
        AudioOut1.StopImmediately();
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

TfrmGenerator::~TfrmGenerator() {
    // The device must not outlive the window that renders into it.
    AudioOut1.StopImmediately();
    screenSaver_.Release();
}

void TfrmGenerator::SetSettingsDialog(TfrmSettings* settings) {
    settings_ = settings;
    SetSampleRate(settings->SamplingFrequency());
    connect(settings, &TfrmSettings::offRequested, this, &TfrmGenerator::OffCommand);
    connect(settings, &TfrmSettings::samplingFrequencyChanged, this, &TfrmGenerator::SetSampleRate);
    connect(settings, &TfrmSettings::closedByUser, this, [this] { setEnabled(true); });
}

void TfrmGenerator::SetSampleRate(std::int32_t hz) {
    engine_.state.sampleRate = hz;
}

void TfrmGenerator::BuildPanels() {
    for (int c = 0; c < kChannelCount; ++c) {
        panels_[c] = new ChannelPanel(static_cast<Channel>(c), ui.centralWidget);
        ui.panelsLayout->addWidget(panels_[c]);
    }
}

void TfrmGenerator::BuildDeviceList() {
    const std::vector<std::string> items = OutputDeviceList(backend_);
    for (const std::string& item : items) {
        ui.WaveDevice->addItem(QString::fromStdString(item));
    }
    ui.WaveDevice->setCurrentIndex(0);
    AudioOut1.SetWaveDevice(kDefaultWaveDevice);
    hasOutputDevice_ = items.size() > 1;
    if (!hasOutputDevice_) {
        dialogs_.Note(kNoDeviceMessage);
        ui.btnON->setEnabled(false);
    }
}

void TfrmGenerator::ConnectControls() {
    connect(ui.btnON, &QPushButton::clicked, this, &TfrmGenerator::OnCommand);
    connect(ui.btnOFF, &QPushButton::clicked, this, &TfrmGenerator::OffCommand);
    connect(ui.btnPause, &QPushButton::clicked, this, &TfrmGenerator::PauseCommand);
    connect(ui.mnuON, &QAction::triggered, this, &TfrmGenerator::OnCommand);
    connect(ui.mnuOFF, &QAction::triggered, this, &TfrmGenerator::OffCommand);
    connect(ui.mnuPause, &QAction::triggered, this, &TfrmGenerator::PauseCommand);
    connect(ui.mnuToggle, &QAction::triggered, this, &TfrmGenerator::ToggleCommand);
    connect(ui.mnuOutputSettings, &QAction::triggered, this, &TfrmGenerator::OpenOutputSettings);
    connect(ui.SaveWaveFile1, &QAction::triggered, this, &TfrmGenerator::SaveWaveFile1Click);
    connect(ui.RunScript1, &QAction::triggered, this, &TfrmGenerator::RunScript1Click);
    connect(ui.chkSync, &QCheckBox::toggled, this, &TfrmGenerator::chkSyncClick);
    connect(ui.mnuNewWindow, &QAction::triggered, this, &TfrmGenerator::OpenNewGeneratorWindow);
    connect(HoverLink::Attach(ui.lblFS), &HoverLink::clicked, this,
            &TfrmGenerator::OpenOutputSettings);
    connect(ui.WaveDevice, &QComboBox::activated, this,
            [this](int item) { AudioOut1.SetWaveDevice(WaveDeviceForItem(item)); });

    connect(ui.cboChannels, &QComboBox::activated, this, &TfrmGenerator::cboChannelsChange);
    connect(ui.chkAsLeft, &QCheckBox::toggled, this, &TfrmGenerator::chkAsLeftClick);
    WatchExit(ui.Duration, [this] { DurationExit(); });
    for (int c = 0; c < kChannelCount; ++c) {
        ConnectChannel(c);
    }
}

// ------------------------------------------------------------ playback

void TfrmGenerator::RunGuarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConversionError& error) {
        dialogs_.Note(QString::fromStdString(error.what()));
    }
}

void TfrmGenerator::StartGenerator() {
    if (AudioOut1.Running()) {
        return;
    }
    Preparevariables();
    AudioOut1.SetStereo(Stereo());
    AudioOut1.SetFrameRate(engine_.state.sampleRate);
    if (settings_ != nullptr) {
        AudioOut1.SetQuantization(static_cast<std::uint16_t>(settings_->QuantizationBits()));
        AudioOut1.SetNumBuffers(settings_->BufferCount());
        AudioOut1.SetBufferSize(settings_->BufferBytes());  // last: allocates for the count
    }
    if (!AudioOut1.BeginPlayback()) {
        const std::string& error = AudioOut1.LastError();
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
void TfrmGenerator::OnCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandStart, 0, 0);
        raise();
        activateWindow();
        return;
    }
    RunGuarded([this] { StartGenerator(); });
}

void TfrmGenerator::OffCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandStop, 0, 0);
    } else {
        AudioOut1.StopImmediately();
    }
    if (ui.btnON->isEnabled()) {
        ui.btnON->setFocus();
    }
}

void TfrmGenerator::PauseCommand() {
    if (Synced()) {
        bus_->Broadcast(kCommandPause, 0, 0);
        return;
    }
    InvertPause();
}

void TfrmGenerator::InvertPause() {
    AudioOut1.SetPaused(!AudioOut1.Paused());
    ShowPauseCaption(AudioOut1.Paused());
}

void TfrmGenerator::ShowPauseCaption(bool bold) {
    QFont font = ui.btnPause->font();
    font.setBold(bold);
    ui.btnPause->setFont(font);
}

void TfrmGenerator::ToggleCommand() {
    if (AudioOut1.Running()) {
        OffCommand();
    } else {
        OnCommand();
    }
}

void TfrmGenerator::OpenOutputSettings() {
    AudioOut1.StopImmediately();
    if (settings_ != nullptr) {
        settings_->show();
        settings_->raise();
        settings_->activateWindow();
    }
}

bool TfrmGenerator::AudioOut1FillBuffer(std::uint8_t* buffer, std::int32_t& size) {
    RefreshLiveSettings();
    return engine_.FillBlock(buffer, static_cast<std::size_t>(size)) == BlockStatus::kPlay;
}

void TfrmGenerator::AudioOut1Start() {
    setWindowTitle(QString("ON - ") + kProductName);
    SetDefaultButton(ui.btnOFF);
    ui.LED->SetColour(StatusLamp::kPlaying);
    scriptWaiting = true;
    SetPlayingLook(true);
    if (settings_ != nullptr && settings_->DisableScreenSaver()) {
        screenSaver_.Inhibit();
    }
}

void TfrmGenerator::AudioOut1Stop() {
    setWindowTitle(kProductName);
    ShowPauseCaption(false);
    SetDefaultButton(ui.btnON);
    ui.LED->SetColour(StatusLamp::kStopped);
    scriptWaiting = false;
    SetPlayingLook(false);
    screenSaver_.Release();
}

// The controls that must not change while a signal plays.
void TfrmGenerator::SetPlayingLook(bool playing) {
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

void TfrmGenerator::SetDefaultButton(QPushButton* button) {
    for (QPushButton* b : {ui.btnON, ui.btnOFF}) {
        b->setDefault(b == button);
    }
    defaultButton_ = button;
}

// Enter anywhere in the window presses the default button: ON while stopped,
// OFF while playing.
void TfrmGenerator::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        defaultButton_ != nullptr && defaultButton_->isEnabled()) {
        defaultButton_->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfrmGenerator::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        setWindowTitle(AudioOut1.Running() ? QString("ON - ") + kProductName : kProductName);
        UpdateFsLabel();
    }
    QMainWindow::changeEvent(event);
}

void TfrmGenerator::UpdateFsLabel() {
    ui.lblFS->setText(
        "fs=" + QString::fromStdString(FormatNumber(engine_.state.sampleRate / 1000.0L)) + "kHz");
}

void TfrmGenerator::closeEvent(QCloseEvent* event) {
    AudioOut1.StopImmediately();
    if (onClosing) {
        onClosing();
    }
    QMainWindow::closeEvent(event);
}

// ------------------------------------------------------------ preparation

void TfrmGenerator::RefreshLiveSettings() {
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

void TfrmGenerator::Preparevariables() {
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
        AmplitudeExit(kLeft);
        AmplitudeExit(kRight);
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
