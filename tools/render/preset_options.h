#pragma once

#include <cstdint>
#include <string>

#include "persistence/memory_preset.h"
#include "render/render_options.h"

namespace skarnel::render {

// The settings of a memory slot as a recall leaves them in the window: the
// period, amplitude and filter texts validated as the recall validates them,
// unreadable modulation texts replaced by the values a new window holds. A
// left filter frequency that is no number fails the recall, and here throws
// ConversionError.
void ApplyPreset(const MemoryPreset& preset, RenderOptions& options);

// Reads slot `slot` (1..4) of a preset file. Throws std::runtime_error with a
// message naming the file when it cannot be read or is no preset file.
MemoryPreset ReadPresetSlot(const std::string& path, int slot);

}  // namespace skarnel::render
