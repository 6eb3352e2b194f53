#include "settings/stream_title.h"

#include <string_view>

#include "settings/choice_lists.h"

namespace skarnel {

namespace {

template <typename Items>
std::string_view ItemText(const Items& items, std::int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < items.size()
               ? std::string_view(items[static_cast<std::size_t>(index)])
               : std::string_view();
}

std::string ChannelSummary(const ChannelSettings& channel) {
    if (!channel.on) {
        return "Off";
    }
    std::string_view noise = ItemText(kNoiseFunctionItems, channel.noiseFunction);
    noise = noise.substr(0, noise.find(' '));  // "Pink Noise" -> "Pink"
    const std::string_view crest = ItemText(kCrestFactorItems, channel.crestFactor);
    return crest.empty() ? std::string(noise) : std::string(noise) + " " + std::string(crest);
}

}  // namespace

std::string StreamTitle(const GeneratorSettings& settings, int windowNumber) {
    std::string title = "Generator " + std::to_string(windowNumber) + " - " +
                        ChannelSummary(settings.channels[kLeft]);
    if (settings.channelMode == kStereo && !settings.asLeft) {
        title += " | " + ChannelSummary(settings.channels[kRight]);
    }
    return title;
}

}  // namespace skarnel
