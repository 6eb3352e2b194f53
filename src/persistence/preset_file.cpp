#include "persistence/preset_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "io/atomic_file.h"
#include "io/little_endian.h"
#include "numtext/conversion_error.h"
#include "numtext/decimal_entry.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"
#include "persistence/windows1252.h"

namespace skarnel {
namespace {

namespace rec = preset_record;
using Bytes = std::span<const std::uint8_t>;

struct TextField {
    std::size_t offset;
    std::string MemoryPreset::*member;
};
constexpr TextField kTextFields[] = {
    {rec::kName, &MemoryPreset::name},
    {rec::kPeriod, &MemoryPreset::period},
    {rec::kAmplitudeLeft, &MemoryPreset::amplitudeLeft},
    {rec::kAmplitudeRight, &MemoryPreset::amplitudeRight},
    {rec::kModPeriodLeft, &MemoryPreset::modPeriodLeft},
    {rec::kModPeriodRight, &MemoryPreset::modPeriodRight},
    {rec::kModDepthLeft, &MemoryPreset::modDepthLeft},
    {rec::kModDepthRight, &MemoryPreset::modDepthRight},
    {rec::kModPhaseLeft, &MemoryPreset::modPhaseLeft},
    {rec::kModPhaseRight, &MemoryPreset::modPhaseRight},
};

struct IndexField {
    std::size_t offset;
    std::int32_t MemoryPreset::*member;
};
constexpr IndexField kIndexFields[] = {
    {rec::kNoiseFunctionLeft, &MemoryPreset::noiseFunctionLeft},
    {rec::kNoiseFunctionRight, &MemoryPreset::noiseFunctionRight},
    {rec::kModFunctionLeft, &MemoryPreset::modFunctionLeft},
    {rec::kModFunctionRight, &MemoryPreset::modFunctionRight},
    {rec::kCrestFactorLeft, &MemoryPreset::crestFactorLeft},
    {rec::kCrestFactorRight, &MemoryPreset::crestFactorRight},
    {rec::kFilterTypeLeft, &MemoryPreset::filterTypeLeft},
    {rec::kFilterTypeRight, &MemoryPreset::filterTypeRight},
};

// The mono flag is not among these: it is read differently.
struct FlagField {
    std::size_t offset;
    bool MemoryPreset::*member;
};
constexpr FlagField kFlagFields[] = {
    {rec::kLoop, &MemoryPreset::loop},
    {rec::kLeftOn, &MemoryPreset::leftOn},
    {rec::kRightOn, &MemoryPreset::rightOn},
    {rec::kModulationLeft, &MemoryPreset::modulationLeft},
    {rec::kModulationRight, &MemoryPreset::modulationRight},
    {rec::kAsLeft, &MemoryPreset::asLeft},
};

struct FilterField {
    std::size_t offset;
    std::string MemoryPreset::*member;
    std::string_view resetText;
};
constexpr FilterField kFilterFields[] = {
    {rec::kFilterFrequencyLeft, &MemoryPreset::filterFrequencyLeft, kResetFilterFrequency},
    {rec::kFilterGainLeft, &MemoryPreset::filterGainLeft, kResetFilterGain},
    {rec::kFilterQLeft, &MemoryPreset::filterQLeft, kResetFilterQ},
    {rec::kFilterFrequencyRight, &MemoryPreset::filterFrequencyRight, kResetFilterFrequency},
    {rec::kFilterGainRight, &MemoryPreset::filterGainRight, kResetFilterGain},
    {rec::kFilterQRight, &MemoryPreset::filterQRight, kResetFilterQ},
};
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

void EncodeRecord(const MemoryPreset& preset, std::uint8_t* record) {
    for (const TextField& f : kTextFields) {
        PutShortText(record + f.offset, preset.*f.member);
    }
    for (const IndexField& f : kIndexFields) {
        PutU32(record + f.offset, static_cast<std::uint32_t>(preset.*f.member));
    }
    for (const FlagField& f : kFlagFields) {
        record[f.offset] = preset.*f.member ? 1 : 0;
    }
    record[rec::kMono] = preset.mono ? 1 : 0;
    for (const FilterField& f : kFilterFields) {
        const float value = TryParseDecimal(preset.*f.member).value_or(ParseDecimal(f.resetText));
        PutU32(record + f.offset, std::bit_cast<std::uint32_t>(value));
    }
    std::copy(std::begin(kFilterMark), std::end(kFilterMark), record + rec::kFilterValueMark);
}

void DecodeRecord(Bytes record, MemoryPreset& preset) {
    for (const TextField& f : kTextFields) {
        preset.*f.member = GetShortText(record.subspan(f.offset));
    }
    for (const IndexField& f : kIndexFields) {
        preset.*f.member = static_cast<std::int32_t>(GetU32(record.subspan(f.offset)));
    }
    for (const FlagField& f : kFlagFields) {
        preset.*f.member = record[f.offset] != 0;
    }
    preset.mono = record[rec::kMono] == 1;

    bool haveValues = std::equal(std::begin(kFilterMark), std::end(kFilterMark),
                                 record.begin() + rec::kFilterValueMark);
    float values[std::size(kFilterFields)];
    for (std::size_t i = 0; i < std::size(kFilterFields); ++i) {
        values[i] = std::bit_cast<float>(GetU32(record.subspan(kFilterFields[i].offset)));
        haveValues = haveValues && std::isfinite(values[i]);
    }
    for (std::size_t i = 0; i < std::size(kFilterFields); ++i) {
        const FilterField& f = kFilterFields[i];
        preset.*f.member = haveValues ? FilterText(values[i]) : std::string(f.resetText);
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Failure("Cannot open file", path, errno);
    }
    // Nothing after the fourth record matters, so no more is read.
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
