#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/device_list.h"
#include "engine/crest_modulation.h"
#include "engine/filter.h"
#include "engine/signal_engine.h"
#include "persistence/settings_store.h"
#include "record/generator_settings.h"
#include "settings/choice_lists.h"

namespace skarnel {

// What the window's rules need of its output.
class OutputControl {
public:
    virtual ~OutputControl() = default;
    virtual bool Running() const = 0;
    virtual void StopImmediately() = 0;
    // The device of the device list's item (0: the system's default device).
    virtual void SelectDevice(std::int32_t item) = 0;
};

// The generator window's values and the rules that tie them to one another
// and to the engine, without any widget. The window shows these values and
// hands every change of the user to one of the operations below; the memory
// presets, the settings store and skarnel-render use the same operations, so
// a setting reaches the engine the same way from everywhere.
//
// The operations follow the window's event rules: setting a text runs its
// change handling when the text changes, setting a tick runs its click
// handling when the tick changes, setting a list choice runs nothing (its
// change handling is a separate operation, as a user's pick runs both).
// Operations that prepare the engine throw ConversionError when a filter text
// cannot be read; what was set before stays set.
class GeneratorModel {
public:
    // A window as built: empty entries, the lists' first choices, both on
    // ticks ticked, no channel mode chosen yet. `output` may be null (no
    // device: nothing to stop).
    GeneratorModel(SignalEngine& engine, OutputControl* output);

    const GeneratorSettings& values() const noexcept { return values_; }
    const ChannelSettings& channel(int c) const noexcept { return values_.channels[c]; }
    int sliderPosition(int c) const noexcept { return slider_[c]; }
    // The filter entries the channel's last filter design uses.
    FilterFieldsEnabled filterEntries(int c) const noexcept { return filterEntries_[c]; }
    bool autostart() const noexcept { return autostart_; }
    std::int32_t sampleRate() const noexcept { return engine_.state.sampleRate; }

    bool Stereo() const noexcept { return values_.channelMode == kStereo; }
    bool AsLeft() const noexcept { return values_.asLeft; }
    // The right channel has settings of its own: Stereo without "= Left".
    bool RightChannelOwn() const noexcept { return Stereo() && !AsLeft(); }
    bool AnyChannelOn() const noexcept;

    // Texts, with their change handling.
    void SetAmplitudeText(int c, const std::string& text);
    void SetModPeriodText(int c, const std::string& text);
    void SetModDepthText(int c, const std::string& text);
    void SetModPhaseText(int c, const std::string& text);
    // Period and filter texts have no change handling.
    void SetPeriodText(const std::string& text) { values_.period = text; }
    void SetFilterText(int c, std::string ChannelSettings::*member, const std::string& text);
    // The amplitude slider: a new position writes the amplitude text.
    void MoveAmplitudeSlider(int c, int position);

    // Ticks, with their click handling.
    void SetOnTick(int c, bool on);
    void SetModulationOn(int c, bool on);
    void SetAsLeft(bool on);
    void SetLoop(bool on) { values_.loop = on; }
    void SetAutostart(bool on) { autostart_ = on; }

    // List choices, without their change handling. An item the list does
    // not have leaves it without a choice (-1).
    void SetChannelMode(std::int32_t item) {
        SetChoice(values_.channelMode, item, kChannelModeItems.size());
    }
    void SetNoiseFunction(int c, std::int32_t item) {
        SetChoice(mutableChannel(c).noiseFunction, item, kNoiseFunctionItems.size());
    }
    void SetCrestFactor(int c, std::int32_t item) {
        SetChoice(mutableChannel(c).crestFactor, item, kCrestFactorItems.size());
    }
    void SetFilterType(int c, std::int32_t item) {
        SetChoice(mutableChannel(c).filterType, item, kFilterTypeItems.size());
    }
    void SetModFunction(int c, std::int32_t item) {
        SetChoice(mutableChannel(c).modFunction, item, kModFunctionItems.size());
    }
    // Chooses list item `item` (the user's choice, a command, a reset).
    void SetWaveDevice(std::int32_t item) {
        SetChoice(values_.waveDevice, item, deviceItems_.size());
        chosenDevice_ = RememberDevice(deviceItems_, values_.waveDevice);
        missingDevice_.clear();
    }
    // The device list's items, item 0 being the default device.
    void SetDeviceItems(std::vector<OutputDevice> items) { deviceItems_ = std::move(items); }
    // The list changed while the program runs (a device plugged in or out, a
    // sound server come or gone): the chosen device stays chosen, wherever it
    // now stands. While it is gone the default device plays and
    // missingDevice() names it; it stays the chosen one (and the stored one),
    // and plays again once it is back. The output follows.
    void ReplaceDeviceItems(std::vector<OutputDevice> items);
    const std::vector<OutputDevice>& deviceItems() const noexcept { return deviceItems_; }
    // The device the user chose, which may be missing from the list.
    const RememberedDevice& chosenDevice() const noexcept { return chosenDevice_; }
    // Set while the chosen device is not in the list: what to call it (""
    // when it was found or none was named).
    const std::string& missingDevice() const noexcept { return missingDevice_; }
    // The store keys of the values the last Load could not read (of another
    // kind, or a text its entry cannot read); each started at its reset
    // value, every other value as stored.
    const std::vector<std::string>& unreadableStored() const noexcept { return unreadableStored_; }
    void SetSampleRate(std::int32_t hz) { engine_.state.sampleRate = hz; }

    // The lists' change handling.
    void OnChannelModeChanged();
    // The left side also carries its choice over to the right with "= Left".
    void OnNoiseFunctionChanged(int c);
    void OnCrestFactorChanged(int c);
    void OnModFunctionChanged(int c);
    void OnFilterTypeChanged(int c);  // prepares the engine
    void OnWaveDeviceChanged();       // the output takes the listed device

    // The ticks' click handling, also run directly by some steps.
    void OnChannelTickToggled();
    void OnAsLeftToggled();
    void OnModulationToggled(int c);

    // Copies on tick, noise function, modulation, amplitude and crest factor;
    // the filter, "= Left" and the channel mode stay.
    void CopyChannel(int from, int to);

    // Leaving an entry: its validation (and for the left filter, preparation).
    // Each filter entry is validated on both sides alike.
    void FinishAmplitudeEntry(int c);
    void FinishPeriodEntry();
    void FinishModPeriodEntry(int c);
    void FinishModDepthEntry(int c);
    void FinishModPhaseEntry(int c);
    void FinishFilterFrequencyEntry(int c);
    void FinishFilterGainEntry(int c);
    void FinishFilterQEntry(int c);

    // Engine preparation from the values: period, running state, amplitude
    // validations, filter texts and designs. High and low pass then show "1"
    // in their Q entry.
    void Prepare();
    // The switches and choices the renderer reads while it plays.
    void RefreshLiveSettings();

    // The window's start state; "= Left", the on ticks (but for Mono's) and
    // autostart stay as they are.
    void Reset();
    // Applies a memory preset in the recall's fixed order, every value with
    // the consequences of the user's change. Stopping the output before and
    // the autostart after are the window's.
    void Recall(const GeneratorSettings& preset);
    // The values as a memory preset takes them: short texts cut to 255
    // characters, the device not included.
    GeneratorSettings PresetValues() const;

    // The stored device becomes the chosen one: found by its identity, its
    // description or its cut description; the default device plays where it
    // is gone (noted in missingDevice()); the stored index where no name is
    // stored.
    void ChooseStoredDevice(const SettingsValues& stored, std::int32_t index);
    // Plays the chosen device where the list holds it, else the default
    // device with missingDevice() set.
    void FollowChosenDevice();

    // Reads the stored window values in their fixed order, each with its
    // consequences; `moveTo` receives the stored window position when it is
    // stored. A value that is missing, of the wrong kind or a text its entry
    // cannot read takes its reset value and the others load as stored
    // (unreadableStored() names the unreadable ones). False when no window
    // value is stored at all: the caller then starts as a new window.
    bool Load(const SettingsValues& stored, const std::function<void(int x, int y)>& moveTo);
    // The window values to store, the window position included.
    std::vector<SettingValue> StoredValues(int x, int y) const;

private:
    // The output plays (the model's output control says so).
    bool Playing() const;
    ChannelSettings& mutableChannel(int c) { return values_.channels[c]; }
    static void SetChoice(std::int32_t& choice, std::int32_t item, std::size_t count);
    // Puts a text into a channel's entry; false when it already shows it.
    bool ChangeText(int c, std::string ChannelSettings::*member, const std::string& text);
    // A filter text with its entry's validation (the one a recall uses).
    void ValidateFilterText(int c, std::string ChannelSettings::*member);
    void ValidateFilterAndPrepare(int c, std::string ChannelSettings::*member);
    // Leaving a filter entry, the same on both sides but for the preparation.
    void FinishFilterEntry(int c, std::string ChannelSettings::*member);
    // The period with its validation, Loop, and the channel mode with its
    // change: a step the reset and the recall share.
    void SetPeriodLoopAndMode(const std::string& period, bool loop, std::int32_t mode);

    SignalEngine& engine_;
    OutputControl* output_;
    GeneratorSettings values_;
    std::array<int, kChannelCount> slider_{0, 0};
    std::array<FilterFieldsEnabled, kChannelCount> filterEntries_{};
    bool autostart_ = false;
    std::vector<OutputDevice> deviceItems_{{"", kDefaultDeviceItem, kDefaultDeviceItem}};
    RememberedDevice chosenDevice_;
    std::string missingDevice_;
    std::vector<std::string> unreadableStored_;
};

// A model for rendering outside a window: a new window's state after its
// reset (as a first start without stored settings leaves it), at
// `sampleRate`, with nothing to stop.
void StartAsNewWindow(GeneratorModel& model, std::int32_t sampleRate);

}  // namespace skarnel
