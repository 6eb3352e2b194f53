#pragma once

#include <cstdint>

namespace skarnel {

// An integer PCM format as handed to a device.
struct WaveFormat {
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 22050;
    std::uint32_t avgBytesPerSec = 44100;
    std::uint16_t blockAlign = 2;  // bytes per frame: (bits div 8) * channels
    std::uint16_t bitsPerSample = 16;

    bool operator==(const WaveFormat&) const = default;
};

}  // namespace skarnel
