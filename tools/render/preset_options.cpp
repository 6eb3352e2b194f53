#include "render/preset_options.h"

#include <fstream>
#include <stdexcept>

#include "numtext/entry_rules.h"
#include "numtext/number_reader.h"
#include "persistence/preset_file.h"

namespace skarnel::render {

namespace {

// A modulation text the recall cannot read leaves the live value as it was:
// for a rendering from scratch that is a new window's value.
std::string ReadableOr(const std::string& text, const char* fallback) {
    return !text.empty() && TryReadNumber(text) ? text : fallback;
}

}  // namespace

void ApplyPreset(const MemoryPreset& preset, RenderOptions& options) {
    options.duration = kPeriodRule.Apply(preset.period);
    options.channelMode = preset.mono ? kMono : kStereo;
    options.asLeft = preset.asLeft;
    for (int c = 0; c < kChannelCount; ++c) {
        const auto from = PresetChannelOf(preset, c);
        ChannelOptions& to = options.channels[c];
        to.amplitude = kAmplitudeRule.Apply(from.amplitude);
        to.noiseFunction = from.noiseFunction;
        to.crestIndex = from.crestFactor;
        to.modulationOn = from.modulation;
        to.on = from.on;
        to.modPeriod = ReadableOr(from.modPeriod, "1");
        to.modDepth = ReadableOr(from.modDepth, "100");
        to.modPhase = ReadableOr(from.modPhase, "0");
        to.modFunction = from.modFunction;
        to.filterType = from.filterType;
        // The recall leaves the left frequency as it is; the preparation
        // then reads it (and fails on a non-number).
        to.frequency = c == kLeft ? from.frequency
                                  : FilterFrequencyRule(options.sampleRate).Apply(from.frequency);
        to.gain = kFilterGainRule.Apply(from.gain);
        to.q = kFilterQRule.Apply(from.q);
    }
    ReadNumber(options.channels[kLeft].frequency);  // the recall's failure, if any
}

MemoryPreset ReadPresetSlot(const std::string& path, int slot) {
    PresetSlots slots{};
    const std::string error = LoadPresetFile(path, slots);
    if (!error.empty()) {
        throw std::runtime_error(error);
    }
    // A file of another kind loads as nothing, silently; here that is an error.
    std::ifstream in(path, std::ios::binary);
    char header[1 + 18] = {};
    in.read(header, sizeof header);
    if (in.gcount() != sizeof header || header[0] != 18 ||
        std::string(header + 1, 18) != "WBQ Preset File V1") {
        throw std::runtime_error("\"" + path + "\" is not a preset file.");
    }
    return slots[static_cast<std::size_t>(slot - 1)];
}

}  // namespace skarnel::render
