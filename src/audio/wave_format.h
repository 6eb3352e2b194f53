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

// One buffer handed to a device, with the device's bookkeeping. `data` always
// points at the same sample buffer; the component sets `bufferLength` to the
// number of bytes to play. The flags are the device's.
struct WaveHeader {
    std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;
    std::uint32_t flags = 0;
};

// WaveHeader::flags
inline constexpr std::uint32_t kHeaderPrepared = 0x02;  // registered with the device
inline constexpr std::uint32_t kHeaderInQueue = 0x10;   // queued on the device

}  // namespace skarnel
