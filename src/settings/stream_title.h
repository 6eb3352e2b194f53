#pragma once

#include <string>

#include "record/generator_settings.h"

namespace skarnel {

// The name a sound server shows for a window's stream, so a mixer tells the
// windows apart: "Generator 2 - Pink 6:1", and with a right channel of its
// own "Generator 2 - Pink 6:1 | White 4:1". A channel that is off reads
// "Off".
std::string StreamTitle(const GeneratorSettings& settings, int windowNumber);

}  // namespace skarnel
