#include "make_presets/preset_description.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <variant>

#include "engine/crest_modulation.h"
#include "numtext/entry_rules.h"
#include "numtext/number_reader.h"
#include "persistence/windows1252.h"

namespace skarnel::presets {

namespace {

// The slot's name: free text.
struct NameField {
    std::string MemoryPreset::*member;
};
// An entry holding a number, within the range the window keeps it in.
struct NumberField {
    std::string MemoryPreset::*member;
    float minimum;
    float maximum;
    bool nonZero = false;
};
// A list choice by index.
struct IndexField {
    std::int32_t MemoryPreset::*member;
    int count;
};
struct FlagField {
    bool MemoryPreset::*member;
};
using Field = std::variant<NameField, NumberField, IndexField, FlagField>;

constexpr int kNoiseFunctions = 2;    // White Noise, Pink Noise
constexpr int kFilterTypes = 6;       // None, Peaking, High Pass, Low Pass, Band Pass, Notch
constexpr int kModFunctions = 4;      // Sine, Cosine, Square, Triangular
constexpr int kHighestRate = 192000;  // the filter frequency may go up to half of it

NumberField Number(std::string MemoryPreset::*member, const EntryRule& rule) {
    return {member, rule.minimum, rule.maximum};
}

using FieldTable = std::map<std::string_view, Field>;

FieldTable MakeFields() {
    using P = MemoryPreset;
    // A modulation period is any number but 0.
    const NumberField modPeriodLeft{&P::modPeriodLeft, kNoLowerLimit, kNoUpperLimit, true};
    const NumberField modPeriodRight{&P::modPeriodRight, kNoLowerLimit, kNoUpperLimit, true};
    const EntryRule frequency = FilterFrequencyRule(kHighestRate);
    return {
        {"name", NameField{&P::name}},
        {"period", Number(&P::period, kPeriodRule)},
        {"amplitudeLeft", Number(&P::amplitudeLeft, kAmplitudeRule)},
        {"amplitudeRight", Number(&P::amplitudeRight, kAmplitudeRule)},
        {"noiseFunctionLeft", IndexField{&P::noiseFunctionLeft, kNoiseFunctions}},
        {"noiseFunctionRight", IndexField{&P::noiseFunctionRight, kNoiseFunctions}},
        {"loop", FlagField{&P::loop}},
        {"mono", FlagField{&P::mono}},
        {"leftOn", FlagField{&P::leftOn}},
        {"rightOn", FlagField{&P::rightOn}},
        {"modulationLeft", FlagField{&P::modulationLeft}},
        {"modulationRight", FlagField{&P::modulationRight}},
        {"modPeriodLeft", modPeriodLeft},
        {"modPeriodRight", modPeriodRight},
        {"modDepthLeft", Number(&P::modDepthLeft, kModDepthRule)},
        {"modDepthRight", Number(&P::modDepthRight, kModDepthRule)},
        {"modFunctionLeft", IndexField{&P::modFunctionLeft, kModFunctions}},
        {"modFunctionRight", IndexField{&P::modFunctionRight, kModFunctions}},
        {"modPhaseLeft", Number(&P::modPhaseLeft, kModPhaseRule)},
        {"modPhaseRight", Number(&P::modPhaseRight, kModPhaseRule)},
        {"crestFactorLeft", IndexField{&P::crestFactorLeft, kCrestFactorCount}},
        {"crestFactorRight", IndexField{&P::crestFactorRight, kCrestFactorCount}},
        {"asLeft", FlagField{&P::asLeft}},
        {"filterTypeLeft", IndexField{&P::filterTypeLeft, kFilterTypes}},
        {"filterFrequencyLeft", Number(&P::filterFrequencyLeft, frequency)},
        {"filterGainLeft", Number(&P::filterGainLeft, kFilterGainRule)},
        {"filterQLeft", Number(&P::filterQLeft, kFilterQRule)},
        {"filterTypeRight", IndexField{&P::filterTypeRight, kFilterTypes}},
        {"filterFrequencyRight", Number(&P::filterFrequencyRight, frequency)},
        {"filterGainRight", Number(&P::filterGainRight, kFilterGainRule)},
        {"filterQRight", Number(&P::filterQRight, kFilterQRule)},
    };
}

const FieldTable& Fields() {
    static const FieldTable fields = MakeFields();
    return fields;
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A "#" at the start of a line or after a blank starts a comment, so a name
// may still hold "#" within a word.
std::string_view WithoutComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return line.substr(0, i);
        }
    }
    return line;
}

std::optional<int> Integer(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The slot number of a "[slot N]" header, or nothing.
std::optional<int> SlotOfHeader(std::string_view header) {
    header = Trim(header.substr(1, header.size() - 2));
    constexpr std::string_view kSlot = "slot";
    if (!header.starts_with(kSlot) || header.size() == kSlot.size() ||
        (header[kSlot.size()] != ' ' && header[kSlot.size()] != '\t')) {
        return std::nullopt;
    }
    const std::optional<int> slot = Integer(Trim(header.substr(kSlot.size())));
    if (!slot || *slot < 1 || *slot > static_cast<int>(kPresetSlotCount)) {
        return std::nullopt;
    }
    return slot;
}

// Stores `value` into the field, or throws with the reason.
class FieldSetter {
public:
    FieldSetter(MemoryPreset& preset, std::string_view key, std::string_view value, int line)
        : preset_(preset), key_(key), value_(value), line_(line) {}

    void operator()(const NameField& f) const {
        const std::string bytes = Utf8ToWindows1252(value_);
        if (Windows1252ToUtf8(bytes) != value_) {
            Fail("holds a character a preset file cannot store");
        }
        if (bytes.size() > preset_record::kShortTextMaxLength) {
            Fail("is longer than 255 characters");
        }
        preset_.*f.member = std::string(value_);
    }
    void operator()(const NumberField& f) const {
        // Narrowed to float32 as the window's entries are, so that a limit
        // such as 0.1 s admits the text "0.1".
        const std::optional<long double> number = TryReadNumber(value_);
        const float value =
            number ? static_cast<float>(*number) : std::numeric_limits<float>::quiet_NaN();
        if (!std::isfinite(value)) {
            Fail("must be a number");
        }
        if (value < f.minimum || value > f.maximum || (f.nonZero && value == 0.0f)) {
            Fail("is out of range");
        }
        preset_.*f.member = std::string(value_);
    }
    void operator()(const IndexField& f) const {
        const std::optional<int> index = Integer(value_);
        if (!index || *index < 0 || *index >= f.count) {
            Fail("must be a list index from 0 to " + std::to_string(f.count - 1));
        }
        preset_.*f.member = *index;
    }
    void operator()(const FlagField& f) const {
        if (value_ != "0" && value_ != "1") {
            Fail("must be 0 or 1");
        }
        preset_.*f.member = value_ == "1";
    }

private:
    [[noreturn]] void Fail(const std::string& reason) const {
        throw DescriptionError(line_,
                               std::string(key_) + " = \"" + std::string(value_) + "\" " + reason);
    }

    MemoryPreset& preset_;
    std::string_view key_;
    std::string_view value_;
    int line_;
};

}  // namespace

PresetSlots ParsePresetDescription(std::istream& in) {
    PresetSlots slots{};
    std::array<std::set<std::string, std::less<>>, kPresetSlotCount> keysGiven;
    std::array<bool, kPresetSlotCount> seen{};
    MemoryPreset* current = nullptr;
    std::set<std::string, std::less<>>* currentKeys = nullptr;

    int lineNumber = 0;
    std::string text;
    while (std::getline(in, text)) {
        ++lineNumber;
        const std::string_view line = Trim(WithoutComment(text));
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            const std::optional<int> slot =
                line.back() == ']' ? SlotOfHeader(line) : std::optional<int>();
            if (!slot) {
                throw DescriptionError(lineNumber, "expected a section [slot 1] to [slot 4], not " +
                                                       std::string(line));
            }
            const auto index = static_cast<std::size_t>(*slot - 1);
            if (seen[index]) {
                throw DescriptionError(
                    lineNumber, "[slot " + std::to_string(*slot) + "] appears a second time");
            }
            seen[index] = true;
            current = &slots[index];
            currentKeys = &keysGiven[index];
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            throw DescriptionError(lineNumber, "expected key = value, not " + std::string(line));
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (current == nullptr) {
            throw DescriptionError(lineNumber, "\"" + std::string(key) +
                                                   "\" stands before the first [slot N] section");
        }
        const auto field = Fields().find(key);
        if (field == Fields().end()) {
            throw DescriptionError(lineNumber, "unknown key \"" + std::string(key) + "\"");
        }
        if (!currentKeys->emplace(key).second) {
            throw DescriptionError(lineNumber, "\"" + std::string(key) + "\" is given twice");
        }
        std::visit(FieldSetter(*current, key, value, lineNumber), field->second);
    }
    for (std::size_t i = 0; i < kPresetSlotCount; ++i) {
        if (!seen[i]) {
            throw DescriptionError(lineNumber, "[slot " + std::to_string(i + 1) + "] is missing");
        }
    }
    return slots;
}

}  // namespace skarnel::presets
