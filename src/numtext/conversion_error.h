#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace skarnel {

// Raised when a text is not a number. The message is the one the user sees,
// e.g. "'abc' is not a valid floating point value".
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(std::string_view text)
        : std::runtime_error("'" + std::string(text) + "' is not a valid floating point value"),
          text_(text) {}

    // The text that failed to convert.
    const std::string& text() const noexcept { return text_; }

private:
    std::string text_;
};

}  // namespace skarnel
