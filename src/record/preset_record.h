#pragma once

#include <cstddef>

namespace skarnel {

// One memory slot's record in a preset file: kPresetRecordSize bytes,
// little-endian.
inline constexpr std::size_t kPresetRecordSize = 2628;

// Offsets of the fields within a record. A short text is a length byte and 255
// bytes of Windows-1252 text; a flag is one byte; an index is a signed 32-bit
// integer.
namespace preset_record {
inline constexpr std::size_t kShortTextSize = 256;
inline constexpr std::size_t kShortTextMaxLength = 255;

inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kPeriod = 256;
inline constexpr std::size_t kAmplitudeLeft = 512;
inline constexpr std::size_t kAmplitudeRight = 768;
inline constexpr std::size_t kNoiseFunctionLeft = 1024;
inline constexpr std::size_t kNoiseFunctionRight = 1028;
inline constexpr std::size_t kLoop = 1032;
inline constexpr std::size_t kMono = 1033;
inline constexpr std::size_t kLeftOn = 1034;
inline constexpr std::size_t kRightOn = 1035;
inline constexpr std::size_t kModulationLeft = 1036;
inline constexpr std::size_t kModulationRight = 1037;
inline constexpr std::size_t kModPeriodLeft = 1038;
inline constexpr std::size_t kModPeriodRight = 1294;
inline constexpr std::size_t kModDepthLeft = 1550;
inline constexpr std::size_t kModDepthRight = 1806;
// A 2-byte gap that older files leave without meaning. Our writer puts the
// mark "FV" here to say that the six filter slots below hold float32 values.
inline constexpr std::size_t kFilterValueMark = 2062;
inline constexpr std::size_t kModFunctionLeft = 2064;
inline constexpr std::size_t kModFunctionRight = 2068;
inline constexpr std::size_t kModPhaseLeft = 2072;
inline constexpr std::size_t kModPhaseRight = 2328;
inline constexpr std::size_t kCrestFactorLeft = 2584;
inline constexpr std::size_t kCrestFactorRight = 2588;
inline constexpr std::size_t kAsLeft = 2592;
// 2593..2595: gap.
inline constexpr std::size_t kFilterTypeLeft = 2596;
inline constexpr std::size_t kFilterFrequencyLeft = 2600;
inline constexpr std::size_t kFilterGainLeft = 2604;
inline constexpr std::size_t kFilterQLeft = 2608;
inline constexpr std::size_t kFilterTypeRight = 2612;
inline constexpr std::size_t kFilterFrequencyRight = 2616;
inline constexpr std::size_t kFilterGainRight = 2620;
inline constexpr std::size_t kFilterQRight = 2624;
}  // namespace preset_record

}  // namespace skarnel
