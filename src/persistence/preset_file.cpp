#include "persistence/preset_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>
#include <variant>

#include "io/atomic_file.h"
#include "io/little_endian.h"
#include "numtext/conversion_error.h"
#include "numtext/decimal_entry.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"
#include "persistence/windows1252.h"
#include "record/settings_fields.h"

namespace skarnel {
namespace {

namespace rec = preset_record;
using Bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t kFilterMark[2] = {'F', 'V'};

void PutU32(std::uint8_t* at, std::uint32_t value) {
    PutLittleEndian(at, value);
}

std::uint32_t GetU32(Bytes at) {
    return GetLittleEndian<std::uint32_t>(at.data());
}

void PutShortText(std::uint8_t* at, const std::string& utf8) {
    std::string text = Utf8ToWindows1252(utf8);  // one byte per character
    if (text.size() > rec::kShortTextMaxLength) {
        text.resize(rec::kShortTextMaxLength);
    }
    at[0] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), at + 1);
}

std::string GetShortText(Bytes at) {
    const std::size_t length = at[0];
    return Windows1252ToUtf8({reinterpret_cast<const char*>(at.data() + 1), length});
}

std::optional<float> TryParseDecimal(std::string_view text) {
    try {
        return ParseDecimal(text);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

// The shortest text that ParseDecimal reads back as `value`, in the program's
// number format when that format reads back the same ("1000", "0.707",
// "1E-5"). `value` must be finite.
std::string FilterText(float value) {
    for (int digits = 1; digits <= 17; ++digits) {
        // Only the digits and the exponent are taken from printf, so the
        // decimal mark of the process locale does not matter.
        char printed[64];
        std::snprintf(printed, sizeof printed, "%.*e", digits - 1, static_cast<double>(value));
        std::string mantissa;
        const char* p = printed;
        for (; *p != 'e'; ++p) {
            if (*p >= '0' && *p <= '9') {
                mantissa += *p;
            }
        }
        std::string text = std::signbit(value) ? "-" : "";
        text += mantissa.substr(0, 1);
        if (mantissa.size() > 1) {
            text += "." + mantissa.substr(1);
        }
        text += "E" + std::to_string(std::atoi(p + 1));
        if (TryParseDecimal(text) != value) {
            continue;
        }
        std::string formatted = FormatNumber(*TryReadNumber(text));
        return TryParseDecimal(formatted) == value ? formatted : text;
    }
    return FormatNumber(value);  // unreachable: 17 digits identify every float
}

// Puts a text, index or flag at `at` as `kind` says. Filter values are
// channel values and are written by EncodeRecord itself.
template <typename T>
void PutValue(std::uint8_t* at, PresetAs kind, const T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        PutShortText(at, value);
    } else if constexpr (std::is_same_v<T, bool>) {
        at[0] = value ? 1 : 0;
    } else if (kind == PresetAs::kMonoFlag) {
        at[0] = value == kMono ? 1 : 0;
    } else {
        PutU32(at, static_cast<std::uint32_t>(value));
    }
}

template <typename T>
void GetValue(Bytes at, PresetAs kind, T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        value = GetShortText(at);
    } else if constexpr (std::is_same_v<T, bool>) {
        value = at[0] != 0;
    } else if (kind == PresetAs::kMonoFlag) {
        value = at[0] == 1 ? kMono : kStereo;  // only 1 means Mono
    } else {
        value = static_cast<std::int32_t>(GetU32(at));
    }
}

bool InPresets(PresetAs kind) {
    return kind != PresetAs::kNotInPresets;
}

void EncodeRecord(const MemoryPreset& preset, std::uint8_t* record) {
    const GeneratorSettings& settings = preset.settings;
    PutShortText(record + rec::kName, preset.name);
    for (const WindowField& f : WindowFields()) {
        if (InPresets(f.preset)) {
            std::visit([&](auto m) { PutValue(record + f.presetOffset, f.preset, settings.*m); },
                       f.member);
        }
    }
    for (const ChannelField& f : ChannelFields()) {
        for (int c = 0; c < kChannelCount; ++c) {
            const ChannelSettings& channel = settings.channels[c];
            std::uint8_t* at = record + f.presetOffset[c];
            if (f.preset == PresetAs::kFilterValue) {
                // Written as the float32 the text reads as; an unreadable
                // text as its reset value.
                const auto member = std::get<std::string ChannelSettings::*>(f.member);
                const float value = TryParseDecimal(channel.*member)
                                        .value_or(ParseDecimal(ChannelSettings{}.*member));
                PutU32(at, std::bit_cast<std::uint32_t>(value));
            } else if (InPresets(f.preset)) {
                std::visit([&](auto m) { PutValue(at, f.preset, channel.*m); }, f.member);
            }
        }
    }
    std::copy(std::begin(kFilterMark), std::end(kFilterMark), record + rec::kFilterValueMark);
}

void DecodeRecord(Bytes record, MemoryPreset& preset) {
    GeneratorSettings& settings = preset.settings;
    preset.name = GetShortText(record.subspan(rec::kName));
    for (const WindowField& f : WindowFields()) {
        if (InPresets(f.preset)) {
            std::visit(
                [&](auto m) { GetValue(record.subspan(f.presetOffset), f.preset, settings.*m); },
                f.member);
        }
    }
    // The filter values count only when the record carries our mark and all
    // of them are finite; otherwise every filter text is its reset text.
    bool haveValues = std::equal(std::begin(kFilterMark), std::end(kFilterMark),
                                 record.begin() + rec::kFilterValueMark);
    for (const ChannelField& f : ChannelFields()) {
        for (int c = 0; c < kChannelCount && f.preset == PresetAs::kFilterValue; ++c) {
            const float value = std::bit_cast<float>(GetU32(record.subspan(f.presetOffset[c])));
            haveValues = haveValues && std::isfinite(value);
        }
    }
    for (const ChannelField& f : ChannelFields()) {
        for (int c = 0; c < kChannelCount; ++c) {
            ChannelSettings& channel = settings.channels[c];
            const Bytes at = record.subspan(f.presetOffset[c]);
            if (f.preset == PresetAs::kFilterValue) {
                const auto member = std::get<std::string ChannelSettings::*>(f.member);
                channel.*member = haveValues ? FilterText(std::bit_cast<float>(GetU32(at)))
                                             : ChannelSettings{}.*member;
            } else if (InPresets(f.preset)) {
                std::visit([&](auto m) { GetValue(at, f.preset, channel.*m); }, f.member);
            }
        }
    }
}

std::string Failure(const char* what, const std::string& path, int error) {
    return std::string(what) + " \"" + path + "\". " + std::strerror(error) + ".";
}

}  // namespace

std::vector<std::uint8_t> EncodePresetFile(const PresetSlots& slots) {
    std::vector<std::uint8_t> bytes(kPresetFileSize, 0);
    bytes[0] = static_cast<std::uint8_t>(kPresetIdentification.size());
    std::copy(kPresetIdentification.begin(), kPresetIdentification.end(), bytes.begin() + 1);
    for (std::size_t slot = 0; slot < kPresetSlotCount; ++slot) {
        EncodeRecord(slots[slot], bytes.data() + kPresetHeaderSize + slot * kPresetRecordSize);
    }
    return bytes;
}

void DecodePresetFile(Bytes bytes, PresetSlots& slots) {
    if (bytes.size() < kPresetHeaderSize || bytes[0] != kPresetIdentification.size() ||
        !std::equal(kPresetIdentification.begin(), kPresetIdentification.end(),
                    bytes.begin() + 1)) {
        return;
    }
    for (std::size_t slot = 0; slot < kPresetSlotCount; ++slot) {
        const std::size_t start = kPresetHeaderSize + slot * kPresetRecordSize;
        if (start + kPresetRecordSize > bytes.size()) {
            return;
        }
        DecodeRecord(bytes.subspan(start, kPresetRecordSize), slots[slot]);
    }
}

std::string LoadPresetFile(const std::string& path, PresetSlots& slots) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Failure("Cannot open file", path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return Failure("Cannot read file", path, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        if (S_ISDIR(info.st_mode)) {
            return Failure("Cannot read file", path, EISDIR);
        }
        // A pipe or a device such as /dev/zero has no end to read to.
        return "Cannot read file \"" + path + "\". It is not a regular file.";
    }
    if (static_cast<std::uintmax_t>(info.st_size) != kPresetFileSize) {
        ::close(fd);
        return "\"" + path + "\" is not a preset file: it holds " + std::to_string(info.st_size) +
               " bytes, a preset file " + std::to_string(kPresetFileSize) + ".";
    }
    std::vector<std::uint8_t> bytes(kPresetFileSize);
    std::size_t size = 0;
    while (size < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return Failure("Cannot read file", path, error);
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    bytes.resize(size);
    DecodePresetFile(bytes, slots);
    return {};
}

std::string SavePresetFile(const std::string& path, const PresetSlots& slots) {
    const std::vector<std::uint8_t> bytes = EncodePresetFile(slots);
    AtomicFile file;
    std::optional<FileFailure> failure = file.Open(path, AtomicFile::Sync::kAlways);
    if (!failure && !WriteAll(file.fd(), bytes.data(), bytes.size())) {
        failure = FileFailure{FileStep::kWrite, errno};
    }
    if (!failure) {
        failure = file.Commit();
    }
    return failure ? failure->Message(path) : std::string();
}

}  // namespace skarnel
