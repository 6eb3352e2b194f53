#pragma once

#include <array>
#include <cstdint>

namespace skarnel {

// Channels are indexed 0 (left, which is also the mono channel) and 1 (right).
enum Channel : int { kLeft = 0, kRight = 1 };
inline constexpr int kChannelCount = 2;

inline constexpr int kPinkRowCount = 13;

// Per-channel values derived from a window's settings, and the channel's
// running state. Types are part of the signal's definition: levels and
// modulation are float32, the filter design float64, the filter memory int32.
struct ChannelEngineState {
    float linearAmplitude = 1.0f;  // 10^(dBFS/20)
    std::int32_t gate = 1;         // on tick: 1 ticked, 0 not; stereo only
    float crestExponent = 0.0f;    // power-law exponent of the crest shaping
    float modDepth = 1.0f;         // fraction (percent * 0.01)
    float modPeriod = 1.0f;        // seconds
    float modPhase = 0.0f;         // radians
    float modGain = 1.0f;          // current modulation gain

    double filterFrequency = 0;  // Hz, as read at the last preparation
    double filterGain = 0;       // dB
    double filterQ = 0;
    double w0 = 0, cosW0 = 0, sinW0 = 0;
    double peakA = 0, alpha = 0;
    double b0 = 0, b1 = 0, b2 = 0, a0 = 0, a1 = 0, a2 = 0;

    // Filter memory: the filter feeds back its own rounded outputs.
    std::int32_t x = 0, x1 = 0, x2 = 0;
    std::int32_t y = 0, y1 = 0, y2 = 0;

    // How often the window has set modGain back to 1 (switching the
    // modulation), so that a copy of the engine that plays can tell.
    std::uint32_t modulationRestarts = 0;
};

// The engine record of one generator window.
struct EngineState {
    std::int32_t sampleRate = 44100;  // written by the output settings only
    // Frame counts are 64-bit so that a period may run for days at any rate:
    // a 32-bit counter would stop after 2^31 frames (12.4 h at 48 kHz).
    std::int64_t periodSamples = 0;               // length of the period in frames
    std::int64_t sampleCounter = 0;               // next frame within the period
    bool busy = false;                            // the block renderer is running
    std::array<float, kPinkRowCount> pinkRows{};  // shared by both channels
    // How often the running state (counter, pink rows, modulation gains,
    // filter memory) was restarted by a preparation, so that a copy of the
    // engine that plays can tell.
    std::uint32_t restarts = 0;
    // Samples that lay outside the 16-bit range and were narrowed to its
    // nearest end, per output channel (left or mono, right), since the
    // engine was made. A running count: readers take the difference across
    // what they render. It never restarts, so a copy that plays keeps its own.
    std::array<std::uint64_t, kChannelCount> clippedSamples{};
    std::array<ChannelEngineState, kChannelCount> channels{};

    ChannelEngineState& left() noexcept { return channels[kLeft]; }
    ChannelEngineState& right() noexcept { return channels[kRight]; }
    const ChannelEngineState& left() const noexcept { return channels[kLeft]; }
    const ChannelEngineState& right() const noexcept { return channels[kRight]; }
};

}  // namespace skarnel
