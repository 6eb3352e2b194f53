#pragma once

#include <cstdint>
#include <string>

#include "persistence/memory_preset.h"
#include "render/render_options.h"

namespace skarnel::render {

// Takes the settings of a memory slot to render; ConfigureEngine recalls them
// as the window does (validations included). Loop stays off.
void ApplyPreset(const MemoryPreset& preset, RenderOptions& options);

// Reads slot `slot` (1..4) of a preset file. Throws std::runtime_error with a
// message naming the file when it cannot be read or is no preset file.
MemoryPreset ReadPresetSlot(const std::string& path, int slot);

}  // namespace skarnel::render
