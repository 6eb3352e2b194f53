// The numbered window commands of other generator windows and programs, and
// the window's side of the "Sync all Generators" mode.
#include <QCoreApplication>
#include <QProcess>

#include "generator/generator_window.h"
#include "generator/window_commands.h"
#include "numtext/number_format.h"
#include "platform/command_bus.h"
#include "ui_generator_window.h"

namespace skarnel {

namespace {

std::string Decimal(std::int32_t value) {
    return std::to_string(value);
}

}  // namespace

bool GeneratorWindow::SyncTicked() const {
    return ui->chkSync->isChecked();
}

bool GeneratorWindow::Synced() const {
    return bus_ != nullptr && SyncTicked();
}

// An export and the performance test own the engine and the output until
// they end: commands from outside are answered without effect. While a
// script waits for what it played, only what stops or holds it acts (OFF,
// Pause) and the sync box, which touches neither.
bool GeneratorWindow::CommandAllowed(std::uint32_t number) const {
    switch (modal_) {
        case ModalOperation::kNone:
            return true;
        case ModalOperation::kScript:
            return number == kCommandStop || number == kCommandPause || number == kCommandSync;
        case ModalOperation::kExport:
        case ModalOperation::kPerformanceTest:
            return number == kCommandSync;
    }
    return false;
}

// Texts set here run their change handling but not their exit check (unless
// the command says so); check boxes run their click handling when they
// change; list items are selected without their change handling.
void GeneratorWindow::ExecuteCommand(std::uint32_t number, std::int32_t first,
                                     std::int32_t second) {
    if (!CommandAllowed(number)) {
        return;
    }
    GeneratorModel& m = model_;
    const auto both = [&m](void (GeneratorModel::*set)(int, const std::string&), std::int32_t l,
                           std::int32_t r) {
        (m.*set)(kLeft, Decimal(l));
        (m.*set)(kRight, Decimal(r));
    };
    RunGuarded([&] {
        switch (number) {
            case kCommandStart:
                StartGenerator();
                break;
            case kCommandStop:
                audioOutput_.StopImmediately();
                break;
            case kCommandPause:
                InvertPause();
                break;
            case kCommandSync:
                ui->chkSync->setChecked(first != 0);
                break;
            case kCommandPeriod:
                m.SetPeriodText(FormatNumber(first / 10.0L));
                m.FinishPeriodEntry();
                break;
            case kCommandLoop:
                m.SetLoop(first > 0);
                break;
            case kCommandChannels:
                m.SetChannelMode(first == 0 ? kMono : kStereo);
                m.OnChannelModeChanged();
                m.SetOnTick(kLeft, (first & 1) != 0 || first == 0);
                m.SetOnTick(kRight, (first & 2) != 0 || first == 0);
                break;
            case kCommandAmplitudeL:
                m.SetAmplitudeText(kLeft, Decimal(first));
                break;
            case kCommandAmplitudeR:
                m.SetAmplitudeText(kRight, Decimal(first));
                break;
            case kCommandModOnL:
                m.SetModulationOn(kLeft, first > 0);
                break;
            case kCommandModOnR:
                m.SetModulationOn(kRight, first > 0);
                break;
            case kCommandModPeriod:
                both(&GeneratorModel::SetModPeriodText, first, second);
                break;
            case kCommandModDepth:
                both(&GeneratorModel::SetModDepthText, first, second);
                break;
            case kCommandModFunction:
                m.SetModFunction(kLeft, first);
                m.SetModFunction(kRight, second);
                break;
            case kCommandModPhase:
                both(&GeneratorModel::SetModPhaseText, first, second);
                break;
            case kCommandNoiseL:
                m.SetNoiseFunction(kLeft, first);
                break;
            case kCommandNoiseR:
                m.SetNoiseFunction(kRight, first);
                break;
            case kCommandDevice: {
                // The list's change handling runs too, so the next start uses
                // the device the list shows; an item the list lacks is ignored.
                const std::int64_t item = std::int64_t{first} + 1;
                if (item >= 0 && item < ui->WaveDevice->count()) {
                    m.SetWaveDevice(static_cast<std::int32_t>(item));
                    m.OnWaveDeviceChanged();
                }
                break;
            }
            case kCommandPreset:
                if (first == 0) {
                    RecallMemory(second);
                } else if (first == 1) {
                    presets_->Store(second);
                }
                break;
            default:
                break;  // not a command of ours
        }
    });
    ShowSettings();
}

// Checking or unchecking the box tells every window; a window whose box
// changes tells them again, so the cascade ends once all boxes agree.
// A broadcast waits for each window while serving incoming commands, so the
// box can change again during it (windows toggled at the same moment). A
// nested broadcast for each such change would recurse without end; instead
// the running broadcast is repeated until the box matches what it sent.
void GeneratorWindow::OnSyncToggled() {
    if (bus_ == nullptr || syncBroadcasting_) {
        return;  // the running broadcast sends the box again if it changed
    }
    syncBroadcasting_ = true;
    bool sent = false;
    do {
        sent = SyncTicked();
        bus_->Broadcast(kCommandSync, sent ? 1 : 0, 0);
    } while (SyncTicked() != sent);
    syncBroadcasting_ = false;
}

QString GeneratorWindow::OutputDeviceName() const {
    return ui->WaveDevice->currentText();
}

void GeneratorWindow::HotKeyToggle() {
    if (CommandAllowed(audioOutput_.Running() ? kCommandStop : kCommandStart)) {
        ToggleCommand();
    }
}

void GeneratorWindow::OpenNewGeneratorWindow() {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {"/nosplash"});
}

}  // namespace skarnel
