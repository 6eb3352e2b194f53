#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "numtext/entry_rules.h"

#include "record/generator_settings.h"

namespace skarnel {

// Every value of GeneratorSettings once: where the settings store keeps it,
// where a preset record keeps it, and how its entry is validated. The store,
// the preset codec, the memory presets, skarnel-render and the window all
// read these rows, so a value is described in one place.

// A value's member in its record: a text, a list index or a flag.
template <typename Record>
using ValueMember = std::variant<std::string Record::*, std::int32_t Record::*, bool Record::*>;

// How the settings store keeps a value. Flags are integers written as 0 or 1
// and read as set when not zero; the channel mode is a flag set for Mono.
enum class StoredAs { kNotStored, kText, kInteger, kFlag, kMonoFlag };

// How a preset record keeps a value: a short text (length byte and 255 bytes
// of Windows-1252), a little-endian int32 index, a flag byte, the mono byte
// (only 1 means Mono), or a float32 filter value.
enum class PresetAs { kNotInPresets, kShortText, kIndex, kFlag, kMonoFlag, kFilterValue };

// The validation an entry gets when it is left or recalled.
enum class EntryCheck {
    kNone,
    kAmplitude,
    kPeriod,
    kModPeriod,
    kModDepth,
    kModPhase,
    kFilterFrequency,
    kFilterGain,
    kFilterQ,
};

// One value of a record. A channel's row serves both channels: its name and
// store key name the side where they hold "{Left}" (replaced by "Left" or
// "Right"), "{left}" ("left", "right") or "{L}" ("L", "R"), and the preset
// record keeps the two sides at offsets of their own.
template <typename Record, typename PresetOffset>
struct SettingsField {
    ValueMember<Record> member;
    std::string_view name;  // in preset descriptions (data/presets/*.txt)
    std::int32_t choices;   // items of its list; 0 for a text or a flag
    std::string_view storeKey;
    StoredAs stored;
    PresetOffset presetOffset;
    PresetAs preset;
    EntryCheck check;
};
using WindowField = SettingsField<GeneratorSettings, std::size_t>;
using ChannelField = SettingsField<ChannelSettings, std::array<std::size_t, kChannelCount>>;

// Stored window values outside the settings record.
inline constexpr std::string_view kAutostartKey = "PresetAutoStart";
// The chosen output device, stored beside its "WaveDevice" index: its
// description cut to 32 bytes (what older versions read), its whole
// description and the host's own name for it, which tells apart devices whose
// descriptions look alike.
inline constexpr std::string_view kWaveDeviceNameKey = "WaveDeviceName";
inline constexpr std::string_view kWaveDeviceDescriptionKey = "WaveDeviceDescription";
inline constexpr std::string_view kWaveDeviceIdKey = "WaveDeviceId";
inline constexpr std::string_view kWindowXKey = "FormX";
inline constexpr std::string_view kWindowYKey = "FormY";

std::span<const WindowField> WindowFields();
std::span<const ChannelField> ChannelFields();

// The store key of a channel value for one side ("{Left}Tick" -> "RightTick").
std::string StoreKey(const ChannelField& field, int channel);
// The description name of a channel value for one side ("{left}On" -> "rightOn").
std::string Name(const ChannelField& field, int channel);

// The row of a member (nullptr for a member without one).
const ChannelField* FieldOf(ValueMember<ChannelSettings> member);
const WindowField* FieldOf(ValueMember<GeneratorSettings> member);

// The text an entry shows after its validation: the clamped, rounded text of
// the entry's rule (the filter frequency's upper limit is half of
// `sampleRate`). The modulation period is read with the plain number reader
// (no comma) and rounded to 3 decimals, or becomes "1" when unreadable.
// kNone returns the text unchanged.
std::string CheckedEntryText(EntryCheck check, std::string_view text, std::int32_t sampleRate);

// What an entry shows for the text its value holds: the shortest text of the
// same float32 value where the text is that text rounded as the entry's
// check rounds it ("0.1" for "0.1000000015"), the text itself otherwise
// (EntryRule::Shown). The value keeps the long text; only the entry shows the
// short one. Entries without a float32 check (the modulation period, kNone)
// show their text as it is.
std::string DisplayedEntryText(EntryCheck check, std::string_view text);

// The range and rounding of an entry's check; nothing for kNone and for the
// modulation period, which has no range.
std::optional<EntryRule> RuleOf(EntryCheck check, std::int32_t sampleRate);

}  // namespace skarnel
