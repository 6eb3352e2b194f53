#include "app/quick_answer.h"

#include "base/product_info.h"

namespace skarnel {

namespace {

constexpr std::string_view kUsage =
    "Usage: skarnel [--version | --help | --toggle | /nosplash | SCRIPT.wbs | PRESETS.wbq | TEXT]\n"
    "\n"
    "Opens the noise generator window. Only the first argument is read, as it is\n"
    "written (upper and lower case differ):\n"
    "  (none)        start with the example presets in the memory slots\n"
    "  /nosplash     an argument containing this starts without the splash\n"
    "  SCRIPT.wbs    an existing file whose name contains \".wbs\": run the\n"
    "                script with the window hidden, then end\n"
    "  PRESETS.wbq   an existing file whose name contains \".wbq\": load its\n"
    "                presets into the memory slots\n"
    "  TEXT          any other text containing \".\" loads nothing into the\n"
    "                memory slots; text without \".\" loads the example presets\n"
    "  --version     print the version and end\n"
    "  --help        print this text and end\n"
    "  --toggle      ON or OFF in the running window used last, as Ctrl+Insert\n"
    "                does (bind it to a key where the desktop gives programs\n"
    "                no global keys, as on Wayland), then end\n"
    "\n"
    "See the manual page skarnel(1) for details, and skarnel-render(1) for\n"
    "rendering signals to sound files from the command line.\n";

}  // namespace

std::optional<std::string> QuickAnswer(std::string_view firstArgument) {
    if (firstArgument == "--version") {
        return std::string("skarnel ") + kProductVersion + "\n";
    }
    if (firstArgument == "--help") {
        return std::string(kUsage);
    }
    return std::nullopt;
}

}  // namespace skarnel
