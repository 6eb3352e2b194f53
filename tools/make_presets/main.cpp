// skarnel-make-presets: turns a text description of the four memory slots
// into a preset file. The build uses it for the preset files that lie beside
// the program.

#include <fstream>
#include <iostream>
#include <string>

#include "make_presets/preset_description.h"
#include "persistence/preset_file.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a fault in the description, or the file not written
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace skarnel;
    if (argc != 3) {
        std::cerr << "Usage: skarnel-make-presets DESCRIPTION OUTPUT\n"
                     "Writes the preset file OUTPUT from the slot description DESCRIPTION.\n";
        return kExitUsage;
    }
    const std::string description = argv[1];
    const std::string output = argv[2];
    std::ifstream in(description);
    if (!in) {
        std::cerr << "skarnel-make-presets: cannot open " << description << "\n";
        return kExitFailed;
    }
    try {
        const PresetSlots slots = presets::ParsePresetDescription(in);
        if (const std::string error = SavePresetFile(output, slots); !error.empty()) {
            std::cerr << "skarnel-make-presets: " << error << "\n";
            return kExitFailed;
        }
    } catch (const presets::DescriptionError& e) {
        // file:line: message, as compilers report, so editors can jump there.
        std::cerr << description << ":" << e.line() << ": " << e.reason() << "\n";
        return kExitFailed;
    }
    return kExitOk;
}
