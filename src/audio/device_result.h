#pragma once

#include <cstdint>
#include <string>

namespace skarnel {

// Result codes of the wave output operations. 0 is success; the others keep
// the numbering programs for the platform's wave-out functions know, so that
// logs and messages read the same everywhere. A back-end may return codes of
// its own from kFirstBackendError on and explain them in its ErrorText.
enum DeviceResult : std::uint32_t {
    kDeviceOk = 0,
    kDeviceError = 1,          // unspecified error
    kDeviceBadId = 2,          // device index out of range
    kDeviceAllocated = 4,      // device already allocated
    kDeviceInvalidHandle = 5,  // device handle is invalid
    kDeviceNoDriver = 6,       // no device driver present
    kDeviceNoMemory = 7,       // unable to allocate or lock memory
    kDeviceInvalidFlag = 10,   // invalid flag passed
    kDeviceInvalidParameter = 11,
    kWaveBadFormat = 32,     // unsupported wave format
    kWaveStillPlaying = 33,  // still something playing
    kWaveUnprepared = 34,    // header not prepared
    kFirstBackendError = 0x1000,
};

// The text of our own codes (at most 256 characters); "" for codes that are
// not ours.
std::string StandardErrorText(std::uint32_t code);

}  // namespace skarnel
