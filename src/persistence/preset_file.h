#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "persistence/memory_preset.h"
#include "record/preset_record.h"

namespace skarnel {

// A preset file: a 21-byte header (length byte 18, the identification text,
// filler), then the records of memory slots 1 to 4. Little-endian throughout.
inline constexpr std::size_t kPresetSlotCount = 4;
inline constexpr std::size_t kPresetHeaderSize = 21;
inline constexpr std::size_t kPresetFileSize = 10533;
inline constexpr std::string_view kPresetIdentification = "WBQ Preset File V1";
static_assert(kPresetHeaderSize + kPresetSlotCount * kPresetRecordSize == kPresetFileSize);

using PresetSlots = std::array<MemoryPreset, kPresetSlotCount>;

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
