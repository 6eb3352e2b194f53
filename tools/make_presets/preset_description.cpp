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
#include "record/settings_fields.h"

namespace skarnel::presets {

namespace {

// How a description value is checked and where it goes: the slot's name, or
// one value of the settings record of a preset.
struct Field {
    bool isName = false;
    const WindowField* window = nullptr;
    const ChannelField* channel = nullptr;
    int side = kLeft;
};

constexpr int kHighestRate = 192000;  // the filter frequency may go up to half of it

using FieldTable = std::map<std::string, Field, std::less<>>;

// Every value a preset file holds, by the name of its row in the settings
// table.
FieldTable MakeFields() {
    FieldTable fields{{"name", Field{.isName = true}}};
    for (const WindowField& f : WindowFields()) {
        if (f.preset != PresetAs::kNotInPresets) {
            fields[std::string(f.name)] = Field{.window = &f};
        }
    }
    for (const ChannelField& f : ChannelFields()) {
        for (int c = 0; c < kChannelCount; ++c) {
            fields[Name(f, c)] = Field{.channel = &f, .side = c};
        }
    }
    return fields;
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

    void Set(const Field& field) const {
        if (field.isName) {
            SetName();
        } else if (field.window != nullptr) {
            std::visit([&](auto m) { SetValue(*field.window, preset_.settings.*m); },
                       field.window->member);
        } else {
            ChannelSettings& channel = preset_.settings.channels[field.side];
            std::visit([&](auto m) { SetValue(*field.channel, channel.*m); },
                       field.channel->member);
        }
    }

private:
    void SetName() const {
        const std::string bytes = Utf8ToWindows1252(value_);
        if (Windows1252ToUtf8(bytes) != value_) {
            Fail("holds a character a preset file cannot store");
        }
        if (bytes.size() > preset_record::kShortTextMaxLength) {
            Fail("is longer than 255 characters");
        }
        preset_.name = std::string(value_);
    }

    // An entry holding a number, within the range the window keeps it in; a
    // modulation period is any number but 0.
    template <typename Row>
    void SetValue(const Row& row, std::string& text) const {
        // Narrowed to float32 as the window's entries are, so that a limit
        // such as 0.1 s admits the text "0.1".
        const std::optional<long double> number = TryReadNumber(value_);
        const float value =
            number ? static_cast<float>(*number) : std::numeric_limits<float>::quiet_NaN();
        if (!std::isfinite(value)) {
            Fail("must be a number");
        }
        const std::optional<EntryRule> rule = RuleOf(row.check, kHighestRate);
        const bool inRange = rule ? value >= rule->minimum && value <= rule->maximum
                                  : row.check != EntryCheck::kModPeriod || value != 0.0f;
        if (!inRange) {
            Fail("is out of range");
        }
        text = std::string(value_);
    }
    // A list choice by index; the channel mode is the flag "mono".
    template <typename Row>
    void SetValue(const Row& row, std::int32_t& choice) const {
        if (row.preset == PresetAs::kMonoFlag) {
            choice = Flag() ? kMono : kStereo;
            return;
        }
        const std::optional<int> index = Integer(value_);
        if (!index || *index < 0 || *index >= row.choices) {
            Fail("must be a list index from 0 to " + std::to_string(row.choices - 1));
        }
        choice = *index;
    }
    template <typename Row>
    void SetValue(const Row&, bool& flag) const {
        flag = Flag();
    }
    bool Flag() const {
        if (value_ != "0" && value_ != "1") {
            Fail("must be 0 or 1");
        }
        return value_ == "1";
    }

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
        FieldSetter(*current, key, value, lineNumber).Set(field->second);
    }
    for (std::size_t i = 0; i < kPresetSlotCount; ++i) {
        if (!seen[i]) {
            throw DescriptionError(lineNumber, "[slot " + std::to_string(i + 1) + "] is missing");
        }
    }
    return slots;
}

}  // namespace skarnel::presets
