#pragma once

#include <cstdint>

namespace skarnel {

// The numbered window commands (first and second are their two arguments).
inline constexpr std::uint32_t kCommandStart = 0x400;       // start if stopped
inline constexpr std::uint32_t kCommandStop = 0x401;        // stop at once
inline constexpr std::uint32_t kCommandPause = 0x402;       // invert pause
inline constexpr std::uint32_t kCommandSync = 0x403;        // sync box := first != 0
inline constexpr std::uint32_t kCommandPeriod = 0x40A;      // period := first / 10 s
inline constexpr std::uint32_t kCommandLoop = 0x40B;        // Loop := first > 0
inline constexpr std::uint32_t kCommandChannels = 0x40E;    // 0 mono, 1/2/3 stereo ticks
inline constexpr std::uint32_t kCommandAmplitudeL = 0x410;  // dBFS
inline constexpr std::uint32_t kCommandModOnL = 0x411;
inline constexpr std::uint32_t kCommandModPeriod = 0x412;  // left, right (s)
inline constexpr std::uint32_t kCommandModDepth = 0x413;   // left, right (%)
inline constexpr std::uint32_t kCommandModFunction = 0x414;
inline constexpr std::uint32_t kCommandModPhase = 0x415;  // left, right (degrees)
inline constexpr std::uint32_t kCommandNoiseL = 0x416;
inline constexpr std::uint32_t kCommandDevice = 0x417;  // item first + 1
inline constexpr std::uint32_t kCommandPreset = 0x418;  // 0 recall / 1 store, slot
inline constexpr std::uint32_t kCommandAmplitudeR = 0x474;
inline constexpr std::uint32_t kCommandModOnR = 0x475;
inline constexpr std::uint32_t kCommandNoiseR = 0x47A;

}  // namespace skarnel
