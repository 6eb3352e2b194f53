#pragma once

#include <string>

#include "record/generator_settings.h"

namespace skarnel {

// One memory slot: a complete copy of the generator window's settings under a
// name. Texts are UTF-8 and hold the entries' texts as typed or validated
// (not the shorter form an entry may show); the device is not part of a
// preset. A new record holds the reset settings.
struct MemoryPreset {
    std::string name;
    GeneratorSettings settings;

    bool operator==(const MemoryPreset&) const = default;
};

}  // namespace skarnel
