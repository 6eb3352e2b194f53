#pragma once

#include <istream>
#include <stdexcept>
#include <string>

#include "persistence/preset_file.h"

namespace skarnel::presets {

// A description of the four memory slots of a preset file, as plain text:
//
//   # a comment; "#" also starts a comment after a blank within a line
//   [slot 1]
//   name = Pink -20 dB
//   period = 10
//   noiseFunctionLeft = 1
//
// Each of the sections [slot 1] to [slot 4] must appear once. Keys are the
// names of the settings table's rows (settings/settings_fields.cpp) with their
// side, and "name"; a value not given keeps the reset settings of a new
// MemoryPreset. Values:
// - name: any text of at most 255 characters that Windows-1252 can hold;
// - number entries (period, amplitudes, modulation period/depth/phase, filter
//   frequency/gain/Q): a number with "." as decimal mark, within the range the
//   window accepts for that entry; kept as written;
// - list choices: the zero-based index of the item, within the list;
// - flags (loop, mono, leftOn, rightOn, modulationLeft/Right, asLeft): 0 or 1.
class DescriptionError : public std::runtime_error {
public:
    DescriptionError(int line, const std::string& reason)
        : std::runtime_error("line " + std::to_string(line) + ": " + reason),
          line_(line),
          reason_(reason) {}
    int line() const noexcept { return line_; }
    const std::string& reason() const noexcept { return reason_; }

private:
    int line_;
    std::string reason_;
};

// Reads a description. Throws DescriptionError naming the line of the first
// fault: an unknown key or section, a bad or out-of-range value, a repeated
// key or section, a key outside a section, or (at the last line) a missing
// slot.
PresetSlots ParsePresetDescription(std::istream& in);

}  // namespace skarnel::presets
