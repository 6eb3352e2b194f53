#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "persistence/memory_preset.h"

namespace skarnel {

// A preset file: a 21-byte header (length byte 18, the identification text,
// filler), then the records of memory slots 1 to 4. Little-endian throughout.
inline constexpr std::size_t kPresetSlotCount = 4;
inline constexpr std::size_t kPresetHeaderSize = 21;
inline constexpr std::size_t kPresetRecordSize = 2628;
inline constexpr std::size_t kPresetFileSize = 10533;
inline constexpr std::string_view kPresetIdentification = "WBQ Preset File V1";
static_assert(kPresetHeaderSize + kPresetSlotCount * kPresetRecordSize == kPresetFileSize);

using PresetSlots = std::array<MemoryPreset, kPresetSlotCount>;

// Offsets of the fields within a record. A short text is a length byte and 255
// bytes of Windows-1252 text; a flag is one byte; an index is a signed 32-bit
// integer.
namespace preset_record {
inline constexpr std::size_t kShortTextSize = 256;
inline constexpr std::size_t kShortTextMaxLength = 255;

inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kPeriod = 256;
inline constexpr std::size_t kAmplitudeLeft = 512;
inline constexpr std::size_t kAmplitudeRight = 768;
inline constexpr std::size_t kNoiseFunctionLeft = 1024;
inline constexpr std::size_t kNoiseFunctionRight = 1028;
inline constexpr std::size_t kLoop = 1032;
inline constexpr std::size_t kMono = 1033;
inline constexpr std::size_t kLeftOn = 1034;
inline constexpr std::size_t kRightOn = 1035;
inline constexpr std::size_t kModulationLeft = 1036;
inline constexpr std::size_t kModulationRight = 1037;
inline constexpr std::size_t kModPeriodLeft = 1038;
inline constexpr std::size_t kModPeriodRight = 1294;
inline constexpr std::size_t kModDepthLeft = 1550;
inline constexpr std::size_t kModDepthRight = 1806;
// A 2-byte gap that older files leave without meaning. Our writer puts the
// mark "FV" here to say that the six filter slots below hold float32 values.
inline constexpr std::size_t kFilterValueMark = 2062;
inline constexpr std::size_t kModFunctionLeft = 2064;
inline constexpr std::size_t kModFunctionRight = 2068;
inline constexpr std::size_t kModPhaseLeft = 2072;
inline constexpr std::size_t kModPhaseRight = 2328;
inline constexpr std::size_t kCrestFactorLeft = 2584;
inline constexpr std::size_t kCrestFactorRight = 2588;
inline constexpr std::size_t kAsLeft = 2592;
// 2593..2595: gap.
inline constexpr std::size_t kFilterTypeLeft = 2596;
inline constexpr std::size_t kFilterFrequencyLeft = 2600;
inline constexpr std::size_t kFilterGainLeft = 2604;
inline constexpr std::size_t kFilterQLeft = 2608;
inline constexpr std::size_t kFilterTypeRight = 2612;
inline constexpr std::size_t kFilterFrequencyRight = 2616;
inline constexpr std::size_t kFilterGainRight = 2620;
inline constexpr std::size_t kFilterQRight = 2624;
}  // namespace preset_record

// The whole file, always kPresetFileSize bytes. Texts are converted to
// Windows-1252 ('?' for characters it cannot hold) and cut to 255 characters.
// Each filter text is written as the float32 it reads as (ParseDecimal); an
// unreadable text is written as its reset value.
std::vector<std::uint8_t> EncodePresetFile(const PresetSlots& slots);

// Reads a preset file's bytes into the slots. Without the exact identification
// (case included), or with fewer than 21 bytes, nothing changes. Records the
// bytes hold whole replace their slot completely; a record cut short and the
// slots after it stay as they were; bytes after the fourth record are ignored.
// A record whose filter slots carry our mark and six finite values gets the
// shortest texts that read back as those values, any other record the reset
// filter texts.
void DecodePresetFile(std::span<const std::uint8_t> bytes, PresetSlots& slots);

// Loads the file into the slots. Returns "" on success, also when a file of
// the preset file's size turns out not to be a preset file (the slots then
// stay as they were). Returns a message naming the file, the slots unchanged,
// when it cannot be read, is not a regular file (a FIFO is not waited for, a
// device not read without end) or is not exactly kPresetFileSize bytes long
// (a file cut short would otherwise leave some slots as they were).
std::string LoadPresetFile(const std::string& path, PresetSlots& slots);

// Writes the slots to the file, replacing it. The bytes go to a temporary file
// in the same folder, which is flushed to disk and then renamed over the
// target, so a failed save leaves an existing file as it was. An existing file
// that may not be written, or a folder in its place, is refused, not replaced;
// a device is written where it is (AtomicFile). Returns "" or a message naming
// the file and the system's reason.
std::string SavePresetFile(const std::string& path, const PresetSlots& slots);

}  // namespace skarnel
