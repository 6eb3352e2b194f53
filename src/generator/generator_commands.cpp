// The numbered window commands of other generator windows and programs, and
// the window's side of the "Sync all Generators" mode.
#include <QCoreApplication>
#include <QLineEdit>
#include <QProcess>

#include "audio/device_list.h"
#include "generator/generator_window.h"
#include "generator/window_commands.h"
#include "numtext/number_format.h"
#include "platform/command_bus.h"

namespace skarnel {

namespace {

QString Decimal(std::int32_t value) {
    return QString::number(value);
}

}  // namespace

bool GeneratorWindow::Synced() const {
    return bus_ != nullptr && ui.chkSync->isChecked();
}

// Texts set here run their change handling but not their exit check (unless
// the command says so); check boxes run their click handling when they
// change; list items are selected without their change handling.
void GeneratorWindow::ExecuteCommand(std::uint32_t number, std::int32_t first,
                                     std::int32_t second) {
    Ui::ChannelPanel& left = ch(kLeft);
    Ui::ChannelPanel& right = ch(kRight);
    switch (number) {
        case kCommandStart:
            RunGuarded([this] { StartGenerator(); });
            break;
        case kCommandStop:
            audioOutput_.StopImmediately();
            break;
        case kCommandPause:
            InvertPause();
            break;
        case kCommandSync:
            ui.chkSync->setChecked(first != 0);
            break;
        case kCommandPeriod:
            ui.Duration->setText(QString::fromStdString(FormatNumber(first / 10.0L)));
            FinishPeriodEntry();
            break;
        case kCommandLoop:
            ui.Loop->setChecked(first > 0);
            break;
        case kCommandChannels:
            ui.cboChannels->setCurrentIndex(first == 0 ? kMono : kStereo);
            OnChannelModeChanged();
            left.onTick->setChecked((first & 1) != 0 || first == 0);
            right.onTick->setChecked((first & 2) != 0 || first == 0);
            break;
        case kCommandAmplitudeL:
            left.amplitude->setText(Decimal(first));
            break;
        case kCommandModOnL:
            left.modulationOn->setChecked(first > 0);
            break;
        case kCommandModPeriod:
            left.modPeriod->setText(Decimal(first));
            right.modPeriod->setText(Decimal(second));
            break;
        case kCommandModDepth:
            left.modDepth->setText(Decimal(first));
            right.modDepth->setText(Decimal(second));
            break;
        case kCommandModFunction:
            left.modFunction->setCurrentIndex(first);
            right.modFunction->setCurrentIndex(second);
            break;
        case kCommandModPhase:
            left.modPhase->setText(Decimal(first));
            right.modPhase->setText(Decimal(second));
            break;
        case kCommandNoiseL:
            left.noiseFunction->setCurrentIndex(first);
            break;
        case kCommandDevice: {
            // The list's change handling runs too, so the next start uses the
            // device the list shows.
            const std::int64_t item = std::int64_t{first} + 1;
            if (item >= 0 && item < ui.WaveDevice->count()) {
                ui.WaveDevice->setCurrentIndex(static_cast<int>(item));
                audioOutput_.SetWaveDevice(WaveDeviceForItem(static_cast<int>(item)));
            }
            break;
        }
        case kCommandPreset:
            if (first == 0) {
                RecallMemory(second);
            } else if (first == 1) {
                StoreMemory(second);
            }
            break;
        case kCommandAmplitudeR:
            right.amplitude->setText(Decimal(first));
            break;
        case kCommandModOnR:
            right.modulationOn->setChecked(first > 0);
            break;
        case kCommandNoiseR:
            right.noiseFunction->setCurrentIndex(first);
            break;
        default:
            break;  // not a command of ours
    }
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
        sent = ui.chkSync->isChecked();
        bus_->Broadcast(kCommandSync, sent ? 1 : 0, 0);
    } while (ui.chkSync->isChecked() != sent);
    syncBroadcasting_ = false;
}

void GeneratorWindow::OpenNewGeneratorWindow() {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {"/nosplash"});
}

}  // namespace skarnel
