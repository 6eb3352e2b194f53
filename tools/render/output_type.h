#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skarnel::render {

// The containers skarnel-render writes; every one holds the same 16-bit
// samples.
enum class OutputType {
    kWav,   // RIFF/WAVE through the window's own writer: at most 4 GiB of samples
    kW64,   // Sony Wave64: 64-bit sizes
    kRf64,  // RF64 (EBU Tech 3306): WAV with 64-bit sizes
    kFlac,  // FLAC, lossless
};

// "wav", "w64", "rf64" or "flac".
const char* OutputTypeName(OutputType type) noexcept;
// The type of a --type word (any case); none for another word.
std::optional<OutputType> OutputTypeNamed(std::string_view word);
// The type a file name's extension names (".wav", ".w64", ".rf64", ".flac",
// any case); none for another extension or none at all.
std::optional<OutputType> OutputTypeOfPath(std::string_view path);
// The words --type takes, as the messages list them: "wav, w64, rf64, flac".
std::string OutputTypeList();
// Whether a type can be written where the file cannot be sought back into
// (standard output): only WAV, whose header is known before the samples.
bool StreamsToPipe(OutputType type) noexcept;

}  // namespace skarnel::render
