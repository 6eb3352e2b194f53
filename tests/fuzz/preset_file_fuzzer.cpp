// Decodes arbitrary bytes as a preset file, writes the slots out again and
// reads that file back: whatever a file held, the second reading must give the
// slots of the first. Input without the identification must change nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "persistence/preset_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace skarnel;
    const std::span<const std::uint8_t> input(data, size);
    const PresetSlots defaults{};
    PresetSlots first = defaults;
    DecodePresetFile(input, first);

    const bool identified =
        size >= kPresetHeaderSize && data[0] == kPresetIdentification.size() &&
        std::memcmp(data + 1, kPresetIdentification.data(), kPresetIdentification.size()) == 0;
    if (!identified) {
        if (first != defaults) {
            std::abort();
        }
        return 0;
    }
    const std::vector<std::uint8_t> encoded = EncodePresetFile(first);
    if (encoded.size() != kPresetFileSize) {
        std::abort();
    }
    PresetSlots second = defaults;
    DecodePresetFile(encoded, second);
    if (second != first) {
        std::abort();
    }
    return 0;
}
