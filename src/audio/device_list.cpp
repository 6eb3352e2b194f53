#include "audio/device_list.h"

#include <algorithm>

namespace skarnel {

std::string CutDeviceName(const std::string& name) {
    if (name.size() <= kMaxDeviceNameLength) {
        return name;
    }
    std::size_t end = kMaxDeviceNameLength;
    // Step back over UTF-8 continuation bytes so no character is split.
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0u) == 0x80u) {
        --end;
    }
    return name.substr(0, end);
}

std::vector<OutputDevice> OutputDeviceList(WaveOutBackend& backend) {
    std::vector<OutputDevice> items{{"", kDefaultDeviceItem, kDefaultDeviceItem}};
    const std::uint32_t count = backend.DeviceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        OutputDevice device{backend.DeviceId(i), backend.DeviceName(i), {}};
        const std::string cut = CutDeviceName(device.description);
        const std::string text = cut.size() < device.description.size() ? cut + "\u2026" : cut;
        device.shown = text;
        for (int n = 2; std::any_of(items.begin(), items.end(),
                                    [&](const OutputDevice& d) { return d.shown == device.shown; });
             ++n) {
            device.shown = text + " (" + std::to_string(n) + ")";
        }
        items.push_back(std::move(device));
    }
    return items;
}

RememberedDevice RememberDevice(const std::vector<OutputDevice>& items, std::int32_t item) {
    if (item <= 0 || static_cast<std::size_t>(item) >= items.size()) {
        return {};
    }
    const OutputDevice& device = items[static_cast<std::size_t>(item)];
    return {device.id, device.description, CutDeviceName(device.description), item};
}

std::int32_t FindDevice(const std::vector<OutputDevice>& items, const RememberedDevice& device) {
    if (!device.NamesADevice()) {
        return device.item >= 0 && static_cast<std::size_t>(device.item) < items.size()
                   ? device.item
                   : 0;
    }
    const auto first = [&](auto matches) -> std::int32_t {
        for (std::size_t i = 1; i < items.size(); ++i) {
            if (matches(items[i])) {
                return static_cast<std::int32_t>(i);
            }
        }
        return -1;
    };
    std::int32_t found = -1;
    if (!device.id.empty()) {
        found = first([&](const OutputDevice& d) { return d.id == device.id; });
    }
    if (found < 0 && !device.description.empty()) {
        found = first([&](const OutputDevice& d) { return d.description == device.description; });
    }
    // The cut description only for a store that kept nothing more: it may
    // fit a look-alike of a device that is gone.
    if (found < 0 && device.id.empty() && device.description.empty() && !device.cutName.empty()) {
        found = first(
            [&](const OutputDevice& d) { return CutDeviceName(d.description) == device.cutName; });
    }
    return found;
}

}  // namespace skarnel
