// The numbered window commands of other generator windows and programs, and
// the window's side of the "Sync all Generators" mode.

#include <chrono>

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

namespace {

using Run = void (*)(GeneratorWindow&, GeneratorModel&, std::int32_t, std::int32_t);
struct CommandEntry {
    std::uint32_t number;
    Run run;
};

// A value command for both channels: left := first, right := second, each
// then checked as the entry checks a typed value when the user leaves it.
// Without the check a command could set any number: 40 dBFS played wrapped
// full-scale noise, and a depth of 1,000,000 % was taken as it stood.
template <void (GeneratorModel::*set)(int, const std::string&), void (GeneratorModel::*finish)(int)>
void BothChecked(GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t second) {
    (m.*set)(kLeft, Decimal(first));
    (m.*finish)(kLeft);
    (m.*set)(kRight, Decimal(second));
    (m.*finish)(kRight);
}

// A level for one channel, checked as a typed level is (-100..0 dBFS).
template <int channel>
void CheckedAmplitude(GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t) {
    m.SetAmplitudeText(channel, Decimal(first));
    m.FinishAmplitudeEntry(channel);
}

// Texts set here run their change handling and then the check the entry runs
// when the user leaves it, so no command sets a value the window would not
// take from the keyboard; check boxes run their click handling when they
// change; list items are selected without their change handling.
const CommandEntry kCommands[] = {
    {kCommandStart,
     [](GeneratorWindow& w, GeneratorModel&, std::int32_t, std::int32_t) { w.StartGenerator(); }},
    {kCommandStop, [](GeneratorWindow& w, GeneratorModel&, std::int32_t,
                      std::int32_t) { w.audioOut().StopImmediately(); }},
    {kCommandPause,
     [](GeneratorWindow& w, GeneratorModel&, std::int32_t, std::int32_t) { w.InvertPause(); }},
    {kCommandSync, [](GeneratorWindow& w, GeneratorModel&, std::int32_t first,
                      std::int32_t) { w.SetSyncTicked(first != 0); }},
    {kCommandPeriod,
     [](GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t) {
         m.SetPeriodText(FormatNumber(first / 10.0L));
         m.FinishPeriodEntry();
     }},
    {kCommandLoop, [](GeneratorWindow&, GeneratorModel& m, std::int32_t first,
                      std::int32_t) { m.SetLoop(first > 0); }},
    {kCommandChannels,
     [](GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t) {
         m.SetChannelMode(first == 0 ? kMono : kStereo);
         m.OnChannelModeChanged();
         m.SetOnTick(kLeft, (first & 1) != 0 || first == 0);
         m.SetOnTick(kRight, (first & 2) != 0 || first == 0);
     }},
    {kCommandAmplitudeL, CheckedAmplitude<kLeft>},
    {kCommandAmplitudeR, CheckedAmplitude<kRight>},
    {kCommandModOnL, [](GeneratorWindow&, GeneratorModel& m, std::int32_t first,
                        std::int32_t) { m.SetModulationOn(kLeft, first > 0); }},
    {kCommandModOnR, [](GeneratorWindow&, GeneratorModel& m, std::int32_t first,
                        std::int32_t) { m.SetModulationOn(kRight, first > 0); }},
    {kCommandModPeriod,
     BothChecked<&GeneratorModel::SetModPeriodText, &GeneratorModel::FinishModPeriodEntry>},
    {kCommandModDepth,
     BothChecked<&GeneratorModel::SetModDepthText, &GeneratorModel::FinishModDepthEntry>},
    {kCommandModPhase,
     BothChecked<&GeneratorModel::SetModPhaseText, &GeneratorModel::FinishModPhaseEntry>},
    // A list set by a command runs the list's change handling, as a pick in
    // the window does: a noise function without it would keep the other
    // function's crest exponent and play up to 11 dB hotter than shown.
    {kCommandModFunction,
     [](GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t second) {
         m.SetModFunction(kLeft, first);
         m.OnModFunctionChanged(kLeft);
         m.SetModFunction(kRight, second);
         m.OnModFunctionChanged(kRight);
     }},
    {kCommandNoiseL,
     [](GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t) {
         m.SetNoiseFunction(kLeft, first);
         m.OnNoiseFunctionChanged(kLeft);
     }},
    {kCommandNoiseR,
     [](GeneratorWindow&, GeneratorModel& m, std::int32_t first, std::int32_t) {
         m.SetNoiseFunction(kRight, first);
         m.OnNoiseFunctionChanged(kRight);
     }},
    // The list's change handling runs too, so the next start uses the device
    // the list shows; an item the list lacks is ignored.
    {kCommandDevice,
     [](GeneratorWindow& w, GeneratorModel& m, std::int32_t first, std::int32_t) {
         const std::int64_t item = std::int64_t{first} + 1;
         if (item >= 0 && item < w.DeviceItemCount()) {
             m.SetWaveDevice(static_cast<std::int32_t>(item));
             m.OnWaveDeviceChanged();
         }
     }},
    {kCommandPreset,
     [](GeneratorWindow& w, GeneratorModel&, std::int32_t first, std::int32_t second) {
         if (first == 0) {
             w.RecallMemory(second);
         } else if (first == 1) {
             w.presets().Store(second);
         }
     }},
};

}  // namespace

void GeneratorWindow::ExecuteCommand(std::uint32_t number, std::int32_t first,
                                     std::int32_t second) {
    if (!CommandAllowed(number)) {
        return;
    }
    for (const CommandEntry& command : kCommands) {
        if (command.number == number) {
            RunGuarded([&] { command.run(*this, model_, first, second); });
            ShowSettings();
            return;
        }
    }
    // Not a command of ours.
}

QString GeneratorWindow::OutputDeviceName() const {
    return ui->WaveDevice->currentText();
}

int GeneratorWindow::DeviceItemCount() const {
    return ui->WaveDevice->count();
}

void GeneratorWindow::SetSyncTicked(bool ticked) {
    ui->chkSync->setChecked(ticked);
}

namespace {

// The machine's monotonic clock, which every process reads alike.
std::uint64_t MonotonicNanoseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

}  // namespace

// Checking or unchecking the box, by hand or by a command, tells every
// window, with a stamp that orders it among the changes of all windows.
void GeneratorWindow::OnSyncToggled() {
    if (takingPeerSync_ || bus_ == nullptr) {
        return;  // ExecutePeerCommand passes a peer's change on itself
    }
    const SyncBoxOrder::Change change = syncOrder_.Local(SyncTicked(), MonotonicNanoseconds());
    bus_->Broadcast(kCommandSync, change.ticked ? 1 : 0, 0, change.stamp);
}

// A window whose box a peer's change turns passes the change on with the
// same stamp, so a window that missed the first broadcast still gets it; the
// windows that already hold it ignore it, and the cascade ends.
void GeneratorWindow::ExecutePeerCommand(std::uint32_t number, std::int32_t first,
                                         std::int32_t second, std::uint64_t stamp) {
    if (number != kCommandSync) {
        ExecuteCommand(number, first, second);
        return;
    }
    if (!CommandAllowed(number) ||
        !syncOrder_.TakeFromPeer({first != 0, stamp}, MonotonicNanoseconds()) ||
        SyncTicked() == (first != 0)) {
        return;
    }
    takingPeerSync_ = true;
    SetSyncTicked(first != 0);
    takingPeerSync_ = false;
    if (bus_ != nullptr) {
        bus_->Broadcast(kCommandSync, first != 0 ? 1 : 0, 0, stamp);
    }
}

void GeneratorWindow::HotKeyToggle() {
    if (CommandAllowed(audioOutput_.Running() ? kCommandStop : kCommandStart)) {
        ToggleCommand();
    }
}

}  // namespace skarnel
