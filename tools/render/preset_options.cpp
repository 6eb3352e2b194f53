#include "render/preset_options.h"

#include <fstream>
#include <stdexcept>

#include "persistence/preset_file.h"

namespace skarnel::render {

void ApplyPreset(const MemoryPreset& preset, RenderOptions& options) {
    options.settings = preset.settings;
    options.settings.loop = false;
}

MemoryPreset ReadPresetSlot(const std::string& path, int slot) {
    PresetSlots slots{};
    const std::string error = LoadPresetFile(path, slots);
    if (!error.empty()) {
        throw std::runtime_error(error);
    }
    // A file of another kind loads as nothing, silently; here that is an error.
    std::ifstream in(path, std::ios::binary);
    char header[1 + 18] = {};
    in.read(header, sizeof header);
    if (in.gcount() != sizeof header || header[0] != 18 ||
        std::string(header + 1, 18) != "WBQ Preset File V1") {
        throw std::runtime_error("\"" + path + "\" is not a preset file.");
    }
    return slots[static_cast<std::size_t>(slot - 1)];
}

}  // namespace skarnel::render
