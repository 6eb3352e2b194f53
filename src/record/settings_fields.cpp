#include "record/settings_fields.h"

#include <cmath>

#include "engine/crest_modulation.h"
#include "numtext/entry_rules.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"
#include "record/preset_record.h"

namespace skarnel {

namespace {

namespace rec = preset_record;
using G = GeneratorSettings;
using C = ChannelSettings;
constexpr std::size_t kNoOffset = 0;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

// clang-format off
constexpr WindowField kWindowFields[] = {
    {&G::channelMode, "mono", 2, "mono", StoredAs::kMonoFlag,
     rec::kMono, PresetAs::kMonoFlag, EntryCheck::kNone},
    {&G::asLeft, "asLeft", 0, "AsLeft", StoredAs::kFlag,
     rec::kAsLeft, PresetAs::kFlag, EntryCheck::kNone},
    {&G::period, "period", 0, "Duration", StoredAs::kText,
     rec::kPeriod, PresetAs::kShortText, EntryCheck::kPeriod},
    {&G::loop, "loop", 0, "Loop", StoredAs::kFlag,
     rec::kLoop, PresetAs::kFlag, EntryCheck::kNone},
    {&G::waveDevice, "device", 0, "WaveDevice", StoredAs::kInteger,
     kNoOffset, PresetAs::kNotInPresets, EntryCheck::kNone},
};

constexpr ChannelField kChannelFields[] = {
    {&C::on, "{left}On", 0, "{Left}Tick", StoredAs::kFlag,
     {rec::kLeftOn, rec::kRightOn}, PresetAs::kFlag, EntryCheck::kNone},
    {&C::noiseFunction, "noiseFunction{Left}", 2, "WaveForm{Left}", StoredAs::kInteger,
     {rec::kNoiseFunctionLeft, rec::kNoiseFunctionRight}, PresetAs::kIndex, EntryCheck::kNone},
    {&C::crestFactor, "crestFactor{Left}", kCrestFactorCount, "PeakRms{L}", StoredAs::kInteger,
     {rec::kCrestFactorLeft, rec::kCrestFactorRight}, PresetAs::kIndex, EntryCheck::kNone},
    {&C::amplitude, "amplitude{Left}", 0, "Amplitude{Left}", StoredAs::kText,
     {rec::kAmplitudeLeft, rec::kAmplitudeRight}, PresetAs::kShortText, EntryCheck::kAmplitude},
    {&C::filterType, "filterType{Left}", 6, "cboFilterType{L}1", StoredAs::kInteger,
     {rec::kFilterTypeLeft, rec::kFilterTypeRight}, PresetAs::kIndex, EntryCheck::kNone},
    {&C::frequency, "filterFrequency{Left}", 0, "txtFZero{L}", StoredAs::kText,
     {rec::kFilterFrequencyLeft, rec::kFilterFrequencyRight}, PresetAs::kFilterValue,
     EntryCheck::kFilterFrequency},
    {&C::gain, "filterGain{Left}", 0, "txtGain{L}", StoredAs::kText,
     {rec::kFilterGainLeft, rec::kFilterGainRight}, PresetAs::kFilterValue,
     EntryCheck::kFilterGain},
    {&C::q, "filterQ{Left}", 0, "txtQ{L}", StoredAs::kText,
     {rec::kFilterQLeft, rec::kFilterQRight}, PresetAs::kFilterValue, EntryCheck::kFilterQ},
    {&C::modulationOn, "modulation{Left}", 0, "ModulationOn{Left}", StoredAs::kFlag,
     {rec::kModulationLeft, rec::kModulationRight}, PresetAs::kFlag, EntryCheck::kNone},
    {&C::modFunction, "modFunction{Left}", 4, "ModFunction{Left}", StoredAs::kInteger,
     {rec::kModFunctionLeft, rec::kModFunctionRight}, PresetAs::kIndex, EntryCheck::kNone},
    {&C::modPeriod, "modPeriod{Left}", 0, "ModPeriod{Left}Edit", StoredAs::kText,
     {rec::kModPeriodLeft, rec::kModPeriodRight}, PresetAs::kShortText, EntryCheck::kModPeriod},
    {&C::modDepth, "modDepth{Left}", 0, "ModDepth{Left}Edit", StoredAs::kText,
     {rec::kModDepthLeft, rec::kModDepthRight}, PresetAs::kShortText, EntryCheck::kModDepth},
    {&C::modPhase, "modPhase{Left}", 0, "ModPhase{Left}Edit", StoredAs::kText,
     {rec::kModPhaseLeft, rec::kModPhaseRight}, PresetAs::kShortText, EntryCheck::kModPhase},
};
// clang-format on

std::string ForSide(std::string_view pattern, int channel) {
    std::string text(pattern);
    const bool left = channel == kLeft;
    ReplaceAll(text, "{Left}", left ? "Left" : "Right");
    ReplaceAll(text, "{left}", left ? "left" : "right");
    ReplaceAll(text, "{L}", left ? "L" : "R");
    return text;
}

}  // namespace

std::span<const WindowField> WindowFields() {
    return kWindowFields;
}

std::span<const ChannelField> ChannelFields() {
    return kChannelFields;
}

std::string StoreKey(const ChannelField& field, int channel) {
    return ForSide(field.storeKey, channel);
}

std::string Name(const ChannelField& field, int channel) {
    return ForSide(field.name, channel);
}

const ChannelField* FieldOf(ValueMember<ChannelSettings> member) {
    for (const ChannelField& field : kChannelFields) {
        if (field.member == member) {
            return &field;
        }
    }
    return nullptr;
}

const WindowField* FieldOf(ValueMember<GeneratorSettings> member) {
    for (const WindowField& field : kWindowFields) {
        if (field.member == member) {
            return &field;
        }
    }
    return nullptr;
}

std::optional<EntryRule> RuleOf(EntryCheck check, std::int32_t sampleRate) {
    switch (check) {
        case EntryCheck::kAmplitude:
            return kAmplitudeRule;
        case EntryCheck::kPeriod:
            return kPeriodRule;
        case EntryCheck::kModDepth:
            return kModDepthRule;
        case EntryCheck::kModPhase:
            return kModPhaseRule;
        case EntryCheck::kFilterFrequency:
            return FilterFrequencyRule(sampleRate);
        case EntryCheck::kFilterGain:
            return kFilterGainRule;
        case EntryCheck::kFilterQ:
            return kFilterQRule;
        case EntryCheck::kNone:
        case EntryCheck::kModPeriod:
            break;
    }
    return std::nullopt;
}

std::string CheckedEntryText(EntryCheck check, std::string_view text, std::int32_t sampleRate) {
    if (check == EntryCheck::kModPeriod) {
        // The plain number reader (no comma), 3 decimals, no range.
        if (const auto v = TryReadNumber(text)) {
            return FormatNumber(std::nearbyint(*v * 1000.0L) / 1000.0L);
        }
        return "1";
    }
    const std::optional<EntryRule> rule = RuleOf(check, sampleRate);
    return rule ? rule->Apply(text) : std::string(text);
}

std::string DisplayedEntryText(EntryCheck check, std::string_view text) {
    // The shown form takes the rule's decimals, not its range: any sampling
    // frequency serves for the filter frequency's rule.
    constexpr std::int32_t kAnySampleRate = 48000;
    const std::optional<EntryRule> rule = RuleOf(check, kAnySampleRate);
    return rule ? rule->Shown(text) : std::string(text);
}

}  // namespace skarnel
