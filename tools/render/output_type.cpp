#include "render/output_type.h"

#include <array>
#include <cctype>

namespace skarnel::render {

namespace {

struct Named {
    OutputType type;
    const char* name;
};

constexpr std::array<Named, 4> kTypes{{{OutputType::kWav, "wav"},
                                       {OutputType::kW64, "w64"},
                                       {OutputType::kRf64, "rf64"},
                                       {OutputType::kFlac, "flac"}}};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

const char* OutputTypeName(OutputType type) noexcept {
    for (const Named& t : kTypes) {
        if (t.type == type) {
            return t.name;
        }
    }
    return "wav";
}

std::optional<OutputType> OutputTypeNamed(std::string_view word) {
    for (const Named& t : kTypes) {
        if (SameIgnoringCase(word, t.name)) {
            return t.type;
        }
    }
    return std::nullopt;
}

std::optional<OutputType> OutputTypeOfPath(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    // A name that is only an extension (".wav") is a hidden file without one.
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    return OutputTypeNamed(name.substr(dot + 1));
}

std::string OutputTypeList() {
    std::string list;
    for (const Named& t : kTypes) {
        list += list.empty() ? "" : ", ";
        list += t.name;
    }
    return list;
}

bool StreamsToPipe(OutputType type) noexcept {
    return type == OutputType::kWav;
}

}  // namespace skarnel::render
