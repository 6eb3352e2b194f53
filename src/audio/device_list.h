#pragma once

#include <string>
#include <vector>

#include "audio/wave_out_backend.h"

namespace skarnel {

// The output device list of a generator window: item 0 is the system default
// device, then every device of the back-end in its order. Item k (k >= 1)
// selects device k - 1; item 0 selects kDefaultWaveDevice.
inline constexpr const char* kDefaultDeviceItem = "Windows Default";

std::vector<std::string> OutputDeviceList(WaveOutBackend& backend);

// The component's WaveDevice for a list item: item - 1, so item 0 gives the
// default device (0xFFFFFFFF). Counted in unsigned arithmetic, which wraps: a
// stored item of -2147483648 gives a device that is not there instead of an
// overflow.
inline std::uint32_t WaveDeviceForItem(int item) {
    return static_cast<std::uint32_t>(item) - 1u;
}

}  // namespace skarnel
