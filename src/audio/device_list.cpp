#include "audio/device_list.h"

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

std::vector<std::string> OutputDeviceList(WaveOutBackend& backend) {
    std::vector<std::string> items{kDefaultDeviceItem};
    const std::uint32_t count = backend.DeviceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        items.push_back(CutDeviceName(backend.DeviceName(i)));
    }
    return items;
}

}  // namespace skarnel
