#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/wave_out_backend.h"

namespace skarnel {

// The output device list of a generator window: item 0 is the system default
// device, then every device of the back-end in its order. Item k (k >= 1)
// selects device k - 1; item 0 selects kDefaultWaveDevice.
inline constexpr const char* kDefaultDeviceItem = "Windows Default";

// One item of the list. Devices are told apart by `id` (the host's own name
// for them: a sound server's sink name, the full ALSA or JACK name), which
// stays the same from run to run; descriptions often share their first 32
// characters ("... HDMI / DisplayPort 1 Output" and "... 2 Output").
struct OutputDevice {
    std::string id;           // empty for the default item
    std::string description;  // whole, as the host describes the device
    std::string shown;        // what the list shows (see OutputDeviceList)

    bool operator==(const OutputDevice&) const = default;
};

// The list: each description cut to kMaxDeviceNameLength bytes with "…" where
// it was cut, and a number after a text that an earlier item already shows
// ("Speakers (2)"), so that no two items look alike.
std::vector<OutputDevice> OutputDeviceList(WaveOutBackend& backend);

// A device as the settings remember it. Stores written before devices had an
// identity hold only the cut description and the item index.
struct RememberedDevice {
    std::string id;
    std::string description;  // whole
    std::string cutName;      // the description cut to 32 bytes
    std::int32_t item = 0;    // the list item it was when remembered

    // Names some device: the default device is remembered as nothing.
    bool NamesADevice() const noexcept {
        return !id.empty() || !description.empty() || !cutName.empty();
    }
    // What a note calls it: the whole description where known.
    const std::string& Label() const noexcept {
        return !description.empty() ? description : !cutName.empty() ? cutName : id;
    }
};

// The remembered device for list item `item` (nothing for the default item).
RememberedDevice RememberDevice(const std::vector<OutputDevice>& items, std::int32_t item);

// The list item of a remembered device: by identity first, then by the whole
// description; by the cut description only when that is all it was
// remembered by (an older store); by its item index only when it names no
// device at all (a store from before names were kept). -1 when it names a
// device the list does not hold.
std::int32_t FindDevice(const std::vector<OutputDevice>& items, const RememberedDevice& device);

// The component's WaveDevice for a list item: item - 1, so item 0 gives the
// default device (0xFFFFFFFF). Counted in unsigned arithmetic, which wraps: a
// stored item of -2147483648 gives a device that is not there instead of an
// overflow.
inline std::uint32_t WaveDeviceForItem(int item) {
    return static_cast<std::uint32_t>(item) - 1u;
}

}  // namespace skarnel
