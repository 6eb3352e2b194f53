#include "settings/generator_model.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <type_traits>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "engine/rounding.h"
#include "numtext/conversion_error.h"
#include "numtext/decimal_entry.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"
#include "persistence/preset_file.h"
#include "record/settings_fields.h"

namespace skarnel {

namespace {

constexpr int kSliderMaximum = 10000;  // -100 dBFS
constexpr std::size_t kShortTextLength = preset_record::kShortTextMaxLength;

// The window as built, before any setting is applied: entries empty, the
// lists' first choices, no channel mode.
GeneratorSettings BuiltWindowValues() {
    GeneratorSettings v;
    v.channelMode = -1;
    v.period.clear();
    v.loop = false;
    for (ChannelSettings& c : v.channels) {
        c = ChannelSettings{};
        c.noiseFunction = kWhiteNoise;
        c.modFunction = kModCosine;
        for (std::string* text :
             {&c.amplitude, &c.frequency, &c.gain, &c.q, &c.modPeriod, &c.modDepth, &c.modPhase}) {
            text->clear();
        }
    }
    return v;
}

std::optional<long double> Read(const std::string& text) {
    return TryReadNumber(text);
}

// Reads the stored window values one by one. A value that cannot be read (of
// another kind, or a text its entry cannot read) reads as its reset value and
// is noted, so that one bad value costs only itself; a missing value reads as
// its reset value too (a store from an older version lacks the newer ones),
// and a missing text as empty text, which its entry reads.
class StoredReader {
public:
    StoredReader(const SettingsValues& values, std::int32_t sampleRate)
        : values_(values), sampleRate_(sampleRate) {}

    std::string Text(const std::string& name, const std::string& reset, EntryCheck check) {
        std::string text;
        const ReadStatus status = values_.ReadText(name, text);
        seen_ = seen_ || status != ReadStatus::kMissing;
        if (status == ReadStatus::kWrongKind || !Readable(check, text)) {
            unreadable_.push_back(name);
            return reset;
        }
        return text;
    }
    std::int32_t Integer(const std::string& name, std::int32_t reset) {
        std::int32_t value = reset;
        return Settle(name, values_.ReadInteger(name, value)) ? value : reset;
    }
    bool Flag(const std::string& name, bool reset) {
        bool value = reset;
        return Settle(name, values_.ReadFlag(name, value)) ? value : reset;
    }
    // Whether any window value was stored at all: a store holding only the
    // output values leaves the window as a new one.
    bool anySeen() const noexcept { return seen_; }
    const std::vector<std::string>& unreadable() const noexcept { return unreadable_; }

private:
    bool Settle(const std::string& name, ReadStatus status) {
        seen_ = seen_ || status != ReadStatus::kMissing;
        if (status == ReadStatus::kWrongKind) {
            unreadable_.push_back(name);
        }
        return status == ReadStatus::kOk;
    }
    // The validation its entry gives a text, and the filter design's reading
    // of a filter text, must both take it.
    bool Readable(EntryCheck check, const std::string& text) const {
        if (check == EntryCheck::kNone) {
            return true;
        }
        try {
            CheckedEntryText(check, text, sampleRate_);
            if (check == EntryCheck::kFilterFrequency || check == EntryCheck::kFilterGain ||
                check == EntryCheck::kFilterQ) {
                ParseDecimal(text);
            }
        } catch (const ConversionError&) {
            return false;
        }
        return true;
    }

    const SettingsValues& values_;
    std::int32_t sampleRate_;
    bool seen_ = false;
    std::vector<std::string> unreadable_;
};

template <typename Member>
std::string Key(Member member, int c) {
    return StoreKey(*FieldOf(member), c);
}
template <typename Member>
std::string Key(Member member) {
    return std::string(FieldOf(member)->storeKey);
}

}  // namespace

GeneratorModel::GeneratorModel(SignalEngine& engine, OutputControl* output)
    : engine_(engine), output_(output), values_(BuiltWindowValues()) {}

bool GeneratorModel::AnyChannelOn() const noexcept {
    return values_.channels[kLeft].on || values_.channels[kRight].on;
}

// ------------------------------------------------------------ texts

bool GeneratorModel::ChangeText(int c, std::string ChannelSettings::*member,
                                const std::string& text) {
    std::string& shown = mutableChannel(c).*member;
    if (shown == text) {
        return false;  // an entry set to its own text does not change
    }
    shown = text;
    return true;
}

void GeneratorModel::SetAmplitudeText(int c, const std::string& text) {
    if (!ChangeText(c, &ChannelSettings::amplitude, text)) {
        return;
    }
    if (const auto v = Read(text)) {
        engine_.state.channels[c].linearAmplitude = LinearAmplitude(*v);
    }
    if (c == kLeft && AsLeft()) {
        CopyChannel(kLeft, kRight);
        FinishAmplitudeEntry(kRight);
    }
}

void GeneratorModel::SetModPeriodText(int c, const std::string& text) {
    if (!ChangeText(c, &ChannelSettings::modPeriod, text)) {
        return;
    }
    if (text.empty()) {
        return;
    }
    const auto v = Read(text);
    if (!v) {
        return;  // unreadable: no live value
    }
    // While the signal plays, a zero is a step of typing ("0" on the way to
    // "0.5"), not a period: the signal keeps the one it has until the entry
    // is finished.
    const float seconds = ModPeriodSeconds(*v);
    if (seconds != 0.0f || !Playing()) {
        engine_.state.channels[c].modPeriod = seconds;
    }
}

bool GeneratorModel::Playing() const {
    return output_ != nullptr && output_->Running();
}

void GeneratorModel::SetModDepthText(int c, const std::string& text) {
    if (!ChangeText(c, &ChannelSettings::modDepth, text)) {
        return;
    }
    if (const auto v = Read(text); v && !text.empty()) {
        engine_.state.channels[c].modDepth = ModDepthFraction(*v);
    }
}

void GeneratorModel::SetModPhaseText(int c, const std::string& text) {
    if (!ChangeText(c, &ChannelSettings::modPhase, text)) {
        return;
    }
    if (const auto v = Read(text)) {
        engine_.state.channels[c].modPhase = ModPhaseRadians(*v);
    }
}

void GeneratorModel::SetFilterText(int c, std::string ChannelSettings::*member,
                                   const std::string& text) {
    mutableChannel(c).*member = text;
}

void GeneratorModel::MoveAmplitudeSlider(int c, int position) {
    position = std::clamp(position, 0, kSliderMaximum);
    if (slider_[c] == position) {
        return;
    }
    slider_[c] = position;
    SetAmplitudeText(c, FormatNumber(position * -0.01L));
}

// ------------------------------------------------------------ ticks

void GeneratorModel::SetOnTick(int c, bool on) {
    if (values_.channels[c].on == on) {
        return;
    }
    mutableChannel(c).on = on;
    OnChannelTickToggled();
}

void GeneratorModel::SetModulationOn(int c, bool on) {
    if (values_.channels[c].modulationOn == on) {
        return;
    }
    mutableChannel(c).modulationOn = on;
    OnModulationToggled(c);
}

void GeneratorModel::SetAsLeft(bool on) {
    if (values_.asLeft == on) {
        return;
    }
    values_.asLeft = on;
    OnAsLeftToggled();
}

void GeneratorModel::OnChannelTickToggled() {
    engine_.state.left().gate = values_.channels[kLeft].on ? 1 : 0;
    engine_.state.right().gate = values_.channels[kRight].on ? 1 : 0;
    if (!AnyChannelOn() && output_ != nullptr) {
        output_->StopImmediately();
    }
}

void GeneratorModel::OnAsLeftToggled() {
    if (AsLeft()) {
        CopyChannel(kLeft, kRight);
    }
    OnChannelModeChanged();
}

void GeneratorModel::OnModulationToggled(int c) {
    if (c == kLeft) {
        if (AsLeft()) {
            SetModulationOn(kRight, values_.channels[kLeft].modulationOn);
        }
        FinishAmplitudeEntry(kLeft);
        FinishAmplitudeEntry(kRight);
    } else {
        FinishAmplitudeEntry(kRight);
    }
    engine_.state.channels[c].modGain = 1.0f;
    ++engine_.state.channels[c].modulationRestarts;
}

// ------------------------------------------------------------ lists

void GeneratorModel::OnChannelModeChanged() {
    if (values_.channelMode == kMono) {
        SetOnTick(kLeft, true);
        SetOnTick(kRight, true);
        OnChannelTickToggled();
    }
    OnModulationToggled(kRight);
}

void GeneratorModel::OnNoiseFunctionChanged(int c) {
    if (c == kLeft && AsLeft()) {
        mutableChannel(kRight).noiseFunction = values_.channels[kLeft].noiseFunction;
        OnCrestFactorChanged(kRight);
    }
    OnCrestFactorChanged(c);
}

void GeneratorModel::OnModFunctionChanged(int c) {
    // The left modulation-function list runs the left noise-function change;
    // the right one runs nothing.
    if (c == kLeft) {
        OnNoiseFunctionChanged(kLeft);
    }
}

void GeneratorModel::OnCrestFactorChanged(int c) {
    ChannelEngineState& engine = engine_.state.channels[c];
    engine.crestExponent = SelectCrestExponent(
        values_.channels[c].noiseFunction, values_.channels[c].crestFactor, engine.crestExponent);
}

void GeneratorModel::OnFilterTypeChanged(int) {
    Prepare();
}

void GeneratorModel::ReplaceDeviceItems(std::vector<OutputDevice> items) {
    deviceItems_ = std::move(items);
    FollowChosenDevice();
    OnWaveDeviceChanged();
}

void GeneratorModel::FollowChosenDevice() {
    const std::int32_t found = FindDevice(deviceItems_, chosenDevice_);
    values_.waveDevice = std::max(found, 0);
    missingDevice_ = found < 0 ? chosenDevice_.Label() : std::string();
}

void GeneratorModel::OnWaveDeviceChanged() {
    if (output_ != nullptr) {
        output_->SelectDevice(values_.waveDevice);
    }
}

// Every value is read from the source as it stands at its step: a step may
// change the source (a copy into the left with "= Left" copies back).
void GeneratorModel::CopyChannel(int from, int to) {
    const ChannelSettings& src = values_.channels[from];
    SetOnTick(to, src.on);
    mutableChannel(to).noiseFunction = src.noiseFunction;
    if (to == kLeft) {
        OnNoiseFunctionChanged(kLeft);
    }
    SetModulationOn(to, src.modulationOn);
    SetAmplitudeText(to, std::string(src.amplitude));
    SetModPeriodText(to, std::string(src.modPeriod));
    SetModDepthText(to, std::string(src.modDepth));
    mutableChannel(to).modFunction = src.modFunction;
    SetModPhaseText(to, std::string(src.modPhase));
    mutableChannel(to).crestFactor = src.crestFactor;
    OnCrestFactorChanged(to);
}

// ------------------------------------------------------------ leaving entries

void GeneratorModel::FinishAmplitudeEntry(int c) {
    SetAmplitudeText(
        c, CheckedEntryText(EntryCheck::kAmplitude, values_.channels[c].amplitude, sampleRate()));
    const long double v = ReadNumber(values_.channels[c].amplitude);
    MoveAmplitudeSlider(c, Round(v * -100.0L));
}

void GeneratorModel::FinishPeriodEntry() {
    SetPeriodText(CheckedEntryText(EntryCheck::kPeriod, values_.period, sampleRate()));
}

void GeneratorModel::FinishModPeriodEntry(int c) {
    const std::string& text = values_.channels[c].modPeriod;
    const auto v = Read(text);
    float& period = engine_.state.channels[c].modPeriod;
    period = v ? ModPeriodSeconds(*v) : 1.0f;
    SetModPeriodText(c, CheckedEntryText(EntryCheck::kModPeriod, text, sampleRate()));
    // A finished period of 0 would divide by zero in the playing signal.
    if (period == 0.0f && Playing()) {
        output_->StopImmediately();
        SetModPeriodText(c, "1");
        period = 1.0f;
    }
}

void GeneratorModel::FinishModDepthEntry(int c) {
    SetModDepthText(
        c, CheckedEntryText(EntryCheck::kModDepth, values_.channels[c].modDepth, sampleRate()));
}

void GeneratorModel::FinishModPhaseEntry(int c) {
    SetModPhaseText(
        c, CheckedEntryText(EntryCheck::kModPhase, values_.channels[c].modPhase, sampleRate()));
}

void GeneratorModel::FinishFilterFrequencyEntry(int c) {
    FinishFilterEntry(c, &ChannelSettings::frequency);
}

void GeneratorModel::FinishFilterGainEntry(int c) {
    FinishFilterEntry(c, &ChannelSettings::gain);
}

void GeneratorModel::FinishFilterQEntry(int c) {
    FinishFilterEntry(c, &ChannelSettings::q);
}

// Both sides validate a filter entry the way a recall does, so a decimal
// comma is read on either side before any preparation sees the text. The left
// filter then takes effect at once (preparation); the right one takes effect
// at the next preparation.
void GeneratorModel::FinishFilterEntry(int c, std::string ChannelSettings::*member) {
    ValidateFilterText(c, member);
    if (c == kLeft) {
        Prepare();
    }
}

void GeneratorModel::ValidateFilterText(int c, std::string ChannelSettings::*member) {
    SetFilterText(
        c, member,
        CheckedEntryText(FieldOf(member)->check, values_.channels[c].*member, sampleRate()));
}

void GeneratorModel::ValidateFilterAndPrepare(int c, std::string ChannelSettings::*member) {
    ValidateFilterText(c, member);
    Prepare();
}

// ------------------------------------------------------------ preparation

void GeneratorModel::RefreshLiveSettings() {
    LiveSettings& live = engine_.live;
    live.channelMode = Stereo() ? kStereo : kMono;
    live.asLeft = AsLeft();
    live.loop = values_.loop;
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelSettings& v = values_.channels[c];
        live.noiseFunction[c] = v.noiseFunction;
        live.modulationOn[c] = v.modulationOn;
        live.modFunction[c] = v.modFunction;
        live.filterType[c] = v.filterType;
    }
}

void GeneratorModel::Prepare() {
    RefreshLiveSettings();
    // Copies: the amplitude validations inside the preparation may change
    // the values (a copy with "= Left").
    const std::string period = values_.period;
    std::array<std::array<std::string, 3>, kChannelCount> filter;
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelSettings& v = values_.channels[c];
        filter[c] = {v.frequency, v.q, v.gain};
    }
    const PreparationTexts texts{period,
                                 {FilterTexts{filter[0][0], filter[0][1], filter[0][2]},
                                  FilterTexts{filter[1][0], filter[1][1], filter[1][2]}}};
    const PreparationOutcome outcome = PrepareEngine(engine_.state, engine_.live, texts, [this] {
        FinishAmplitudeEntry(kLeft);
        FinishAmplitudeEntry(kRight);
    });
    for (int c = 0; c < kChannelCount; ++c) {
        filterEntries_[c] = outcome.filter[c].enabled;
        if (outcome.filter[c].setQTextToOne) {
            SetFilterText(c, &ChannelSettings::q, "1");
        }
    }
}

// ------------------------------------------------------------ reset, recall

void GeneratorModel::SetPeriodLoopAndMode(const std::string& period, bool loop, std::int32_t mode) {
    SetPeriodText(period);
    FinishPeriodEntry();
    SetLoop(loop);
    SetChannelMode(mode);
    OnChannelModeChanged();
}

void GeneratorModel::Reset() {
    const GeneratorSettings reset;
    // The reset puts "0" into an amplitude entry by moving its slider to 0,
    // which acts only when the slider moves. An amplitude typed (or loaded)
    // but not yet validated has not moved its slider, and would survive the
    // reset; validating it first brings the slider to the text.
    FinishAmplitudeEntry(kLeft);
    FinishAmplitudeEntry(kRight);
    for (const int c : {kLeft, kRight}) {
        MoveAmplitudeSlider(c, 0);
        SetModulationOn(c, reset.channels[c].modulationOn);
        SetNoiseFunction(c, reset.channels[c].noiseFunction);
        if (c == kLeft) {
            OnNoiseFunctionChanged(kLeft);  // the right side's change does not run here
        }
    }
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelSettings& r = reset.channels[c];
        SetFilterType(c, r.filterType);
        SetFilterText(c, &ChannelSettings::frequency, r.frequency);
        SetFilterText(c, &ChannelSettings::gain, r.gain);
        SetFilterText(c, &ChannelSettings::q, r.q);
    }
    for (int c = 0; c < kChannelCount; ++c) {
        SetCrestFactor(c, reset.channels[c].crestFactor);
    }
    OnCrestFactorChanged(kLeft);
    OnCrestFactorChanged(kRight);
    SetPeriodLoopAndMode(reset.period, reset.loop, reset.channelMode);
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelSettings& r = reset.channels[c];
        SetModPeriodText(c, r.modPeriod);
        SetModDepthText(c, r.modDepth);
        SetModFunction(c, r.modFunction);
        SetModPhaseText(c, r.modPhase);
    }
    SetWaveDevice(reset.waveDevice);
    OnWaveDeviceChanged();
    OnModulationToggled(kLeft);
    OnModulationToggled(kRight);
}

void GeneratorModel::Recall(const GeneratorSettings& p) {
    const ChannelSettings& left = p.channels[kLeft];
    const ChannelSettings& right = p.channels[kRight];

    SetAmplitudeText(kLeft, left.amplitude);
    SetNoiseFunction(kLeft, left.noiseFunction);
    OnNoiseFunctionChanged(kLeft);
    SetModulationOn(kLeft, left.modulationOn);

    SetAmplitudeText(kRight, right.amplitude);
    SetNoiseFunction(kRight, right.noiseFunction);
    SetModulationOn(kRight, right.modulationOn);

    SetPeriodLoopAndMode(p.period, p.loop, p.channelMode == kMono ? kMono : kStereo);
    SetOnTick(kLeft, left.on);
    SetOnTick(kRight, right.on);

    for (const int c : {kLeft, kRight}) {
        SetModPeriodText(c, p.channels[c].modPeriod);
    }
    for (const int c : {kLeft, kRight}) {
        SetModDepthText(c, p.channels[c].modDepth);
    }
    for (const int c : {kLeft, kRight}) {
        SetModFunction(c, p.channels[c].modFunction);
    }
    for (const int c : {kLeft, kRight}) {
        SetModPhaseText(c, p.channels[c].modPhase);
    }
    FinishAmplitudeEntry(kLeft);
    FinishAmplitudeEntry(kRight);
    for (const int c : {kLeft, kRight}) {
        SetCrestFactor(c, p.channels[c].crestFactor);
    }
    OnCrestFactorChanged(kLeft);
    OnCrestFactorChanged(kRight);
    SetAsLeft(p.asLeft);

    // The left frequency is not validated here; the other five filter texts
    // are, each followed by preparation. High and low pass end with Q "1".
    SetFilterType(kLeft, left.filterType);
    OnFilterTypeChanged(kLeft);
    SetFilterText(kLeft, &ChannelSettings::frequency, left.frequency);
    SetFilterText(kLeft, &ChannelSettings::gain, left.gain);
    ValidateFilterAndPrepare(kLeft, &ChannelSettings::gain);
    SetFilterText(kLeft, &ChannelSettings::q, left.q);
    ValidateFilterAndPrepare(kLeft, &ChannelSettings::q);

    SetFilterType(kRight, right.filterType);
    OnFilterTypeChanged(kRight);
    for (std::string ChannelSettings::*member :
         {&ChannelSettings::frequency, &ChannelSettings::gain, &ChannelSettings::q}) {
        SetFilterText(kRight, member, right.*member);
        ValidateFilterAndPrepare(kRight, member);
    }
}

GeneratorSettings GeneratorModel::PresetValues() const {
    GeneratorSettings p = values_;
    p.waveDevice = GeneratorSettings{}.waveDevice;
    // Only the short texts of a preset record are cut; filter texts are kept
    // whole in memory. The entries count UTF-16 units, so a character
    // outside the basic plane counts twice; none is cut in half.
    const auto cutCharacters = [](std::string& text) {
        std::size_t units = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if ((byte & 0xC0) == 0x80) {
                continue;  // inside a character
            }
            units += byte >= 0xF0 ? 2 : 1;
            if (units > kShortTextLength) {
                text.resize(i);
                return;
            }
        }
    };
    cutCharacters(p.period);
    for (ChannelSettings& c : p.channels) {
        for (std::string* text : {&c.amplitude, &c.modPeriod, &c.modDepth, &c.modPhase}) {
            cutCharacters(*text);
        }
    }
    return p;
}

// ------------------------------------------------------------ settings store

void GeneratorModel::ChooseStoredDevice(const SettingsValues& stored, std::int32_t index) {
    RememberedDevice device;
    device.item = index;
    // A text of another kind, or none, leaves the other ways to find it.
    for (const auto& [key, text] : {std::pair{kWaveDeviceIdKey, &device.id},
                                    std::pair{kWaveDeviceDescriptionKey, &device.description},
                                    std::pair{kWaveDeviceNameKey, &device.cutName}}) {
        if (stored.ReadText(key, *text) != ReadStatus::kOk) {
            text->clear();
        }
    }
    if (device.id.empty() && device.description.empty() && device.cutName == kDefaultDeviceItem) {
        device.cutName.clear();  // the default device, as every version stores it
        device.item = 0;
    }
    const std::int32_t found = FindDevice(deviceItems_, device);
    // A store without names keeps whatever its index chose.
    chosenDevice_ = device.NamesADevice() ? device : RememberDevice(deviceItems_, found);
    FollowChosenDevice();
}

bool GeneratorModel::Load(const SettingsValues& stored,
                          const std::function<void(int x, int y)>& moveTo) {
    StoredReader read(stored, sampleRate());
    const GeneratorSettings reset;
    using G = GeneratorSettings;
    using C = ChannelSettings;
    const auto text = [&](std::string G::*member) {
        const WindowField& field = *FieldOf(member);
        return read.Text(std::string(field.storeKey), reset.*member, field.check);
    };
    const auto channelText = [&](std::string C::*member, int c) {
        const ChannelField& field = *FieldOf(member);
        return read.Text(StoreKey(field, c), reset.channels[c].*member, field.check);
    };
    const auto channelIndex = [&](std::int32_t C::*member, int c) {
        return read.Integer(Key(member, c), reset.channels[c].*member);
    };
    const auto channelFlag = [&](bool C::*member, int c) {
        return read.Flag(Key(member, c), reset.channels[c].*member);
    };
    constexpr std::int32_t kNoPlace = INT32_MIN;
    try {
        // The device is one stored value: the list shows it now, the output
        // takes it after the noise functions (even an item the list lacks).
        ChooseStoredDevice(stored, read.Integer(Key(&G::waveDevice), reset.waveDevice));
        SetPeriodText(text(&G::period));
        FinishPeriodEntry();
        SetLoop(read.Flag(Key(&G::loop), reset.loop));
        SetChannelMode(read.Flag(Key(&G::channelMode), reset.channelMode == kMono) ? kMono
                                                                                   : kStereo);
        OnChannelModeChanged();
        for (const int c : {kLeft, kRight}) {
            SetOnTick(c, channelFlag(&C::on, c));
        }
        for (const int c : {kLeft, kRight}) {
            SetAmplitudeText(c, channelText(&C::amplitude, c));
        }
        for (const int c : {kLeft, kRight}) {
            SetModulationOn(c, channelFlag(&C::modulationOn, c));
        }
        for (const int c : {kLeft, kRight}) {
            SetModPeriodText(c, channelText(&C::modPeriod, c));
            SetModDepthText(c, channelText(&C::modDepth, c));
            SetModFunction(c, channelIndex(&C::modFunction, c));
            SetModPhaseText(c, channelText(&C::modPhase, c));
        }
        for (const int c : {kLeft, kRight}) {
            SetNoiseFunction(c, channelIndex(&C::noiseFunction, c));
            OnNoiseFunctionChanged(c);
        }
        if (output_ != nullptr) {
            output_->SelectDevice(values_.waveDevice);
        }
        for (const int c : {kLeft, kRight}) {
            SetCrestFactor(c, channelIndex(&C::crestFactor, c));
            OnCrestFactorChanged(c);
        }
        SetAutostart(read.Flag(std::string(kAutostartKey), false));
        for (const int c : {kLeft, kRight}) {
            SetFilterType(c, channelIndex(&C::filterType, c));
            for (std::string C::*member : {&C::frequency, &C::q, &C::gain}) {
                SetFilterText(c, member, channelText(member, c));
            }
        }
        Prepare();  // every text it reads has been found readable
        const std::int32_t x = read.Integer(std::string(kWindowXKey), kNoPlace);
        const std::int32_t y = read.Integer(std::string(kWindowYKey), kNoPlace);
        if (moveTo && x != kNoPlace && y != kNoPlace) {
            moveTo(x, y);
        }
        values_.asLeft = read.Flag(Key(&G::asLeft), reset.asLeft);
        OnAsLeftToggled();
    } catch (const ConversionError&) {
        return false;  // not expected: each text was checked as its entry reads it
    }
    unreadableStored_ = read.unreadable();
    // A store without any window value (only the output values) leaves a
    // new window, placed as a new one.
    return read.anySeen();
}

std::vector<SettingValue> GeneratorModel::StoredValues(int x, int y) const {
    std::vector<SettingValue> out;
    const auto put = [&out](std::string key, StoredAs kind, const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::string>) {
            out.push_back({std::move(key), value});
        } else if constexpr (std::is_same_v<T, bool>) {
            out.push_back(FlagValue(std::move(key), value));
        } else if (kind == StoredAs::kMonoFlag) {
            out.push_back(FlagValue(std::move(key), value == kMono));
        } else if (kind == StoredAs::kFlag) {
            out.push_back(FlagValue(std::move(key), value != 0));
        } else {
            out.push_back({std::move(key), std::int32_t{value}});
        }
    };
    for (const WindowField& field : WindowFields()) {
        std::visit(
            [&](auto member) { put(std::string(field.storeKey), field.stored, values_.*member); },
            field.member);
    }
    for (const ChannelField& field : ChannelFields()) {
        for (int c = 0; c < kChannelCount; ++c) {
            std::visit(
                [&](auto member) {
                    put(StoreKey(field, c), field.stored, values_.channels[c].*member);
                },
                field.member);
        }
    }
    // The chosen device beside the index of the item that plays: the chosen
    // one is kept while it is missing. Older readers find it by its cut
    // description, and "Windows Default" as item 0.
    const bool chosen = chosenDevice_.NamesADevice();
    out.push_back({std::string(kWaveDeviceNameKey),
                   chosen ? chosenDevice_.cutName : std::string(kDefaultDeviceItem)});
    out.push_back({std::string(kWaveDeviceDescriptionKey), chosenDevice_.description});
    out.push_back({std::string(kWaveDeviceIdKey), chosenDevice_.id});
    out.push_back(FlagValue(std::string(kAutostartKey), autostart_));
    out.push_back({std::string(kWindowXKey), std::int32_t{x}});
    out.push_back({std::string(kWindowYKey), std::int32_t{y}});
    return out;
}

void GeneratorModel::SetChoice(std::int32_t& choice, std::int32_t item, std::size_t count) {
    // A list asked for an item it does not have shows no choice.
    choice = item >= 0 && static_cast<std::size_t>(item) < count ? item : -1;
}

void StartAsNewWindow(GeneratorModel& model, std::int32_t sampleRate) {
    model.SetSampleRate(sampleRate);
    model.Reset();
    model.OnModulationToggled(kLeft);
    model.OnModulationToggled(kRight);
}

}  // namespace skarnel
