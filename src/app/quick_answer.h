#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skarnel {

// The text `skarnel --version` or `skarnel --help` prints, for a first
// argument that is exactly one of them; nothing for any other argument, which
// the start-up reads as usual. Answering needs neither a display nor the
// settings, so a packager's or a user's terminal gets an answer anywhere.
std::optional<std::string> QuickAnswer(std::string_view firstArgument);

}  // namespace skarnel
