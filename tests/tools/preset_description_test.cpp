// skarnel-make-presets: the shipped slot descriptions say what the program
// and its performance test rely on, and faults in a description are refused
// with their line.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "engine/live_settings.h"
#include "make_presets/preset_description.h"
#include "numtext/number_reader.h"

namespace skarnel::presets {
namespace {

PresetSlots ParseShipped(const std::string& name) {
    std::ifstream in(std::string(SKARNEL_PRESET_DESCRIPTIONS_DIR) + "/" + name);
    EXPECT_TRUE(in) << name;
    return ParsePresetDescription(in);
}

TEST(PresetDescription, CompatibilityTestSlotsMatchTheirAnnouncements) {
    const PresetSlots slots = ParseShipped("compatibility_test.txt");
    struct Expected {
        long double period;
        bool mono;
        bool modulated;
    };
    // Slot 1 mono, 2 stereo, 3 modulated stereo, 4 the timed 10 s stereo.
    const Expected expected[] = {
        {5, true, false}, {5, false, false}, {5, false, true}, {10, false, false}};
    for (int s = 0; s < 4; ++s) {
        SCOPED_TRACE("slot " + std::to_string(s + 1));
        const MemoryPreset& preset = slots[static_cast<std::size_t>(s)];
        const GeneratorSettings& p = preset.settings;
        const bool mono = p.channelMode == kMono;
        EXPECT_EQ(ReadNumber(p.period), expected[s].period);
        EXPECT_EQ(mono, expected[s].mono);
        EXPECT_FALSE(p.loop);  // each plays once for its period
        EXPECT_FALSE(preset.name.empty());
        const int channels = mono ? 1 : 2;
        for (int c = 0; c < channels; ++c) {
            const ChannelSettings& ch = p.channels[c];
            EXPECT_TRUE(ch.on);
            EXPECT_EQ(ch.modulationOn, expected[s].modulated);
            // Heard as a tone near 1 kHz.
            EXPECT_EQ(ch.filterType, kFilterBandPass);
            EXPECT_EQ(ReadNumber(ch.frequency), 1000);
            EXPECT_GE(ReadNumber(ch.q), 10);
        }
        if (!mono) {
            EXPECT_FALSE(p.asLeft);
        }
    }
}

TEST(PresetDescription, ExamplesHaveFourNamedSlots) {
    const PresetSlots slots = ParseShipped("examples.txt");
    for (std::size_t i = 0; i < slots.size(); ++i) {
        EXPECT_FALSE(slots[i].name.empty()) << "slot " << i + 1;
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_NE(slots[i].name, slots[j].name);
        }
    }
}

TEST(PresetDescription, FaultsAreRefusedWithTheirLine) {
    const std::string fourSlots = "[slot 1]\n[slot 2]\n[slot 3]\n[slot 4]\n";
    struct Case {
        std::string text;
        int line;
        std::string reason;
    };
    const Case cases[] = {
        {"# header\n[slot 1]\nname = A\namplitde = -3\n", 4, "unknown key \"amplitde\""},
        {"[slot 1]\n\nperiod = 1O\n", 3, "must be a number"},
        {"[slot 1]\namplitudeLeft = 3\n", 2, "out of range"},
        {"[slot 1]\nfilterTypeLeft = 6\n", 2, "list index"},
        {"[slot 1]\nname = " + std::string(256, 'x') + "\n", 2, "longer than 255"},
        {"[slot 1]\nname = A\nname = B\n", 3, "given twice"},
        {"[slot 1]\n[slot 2]\n[slot 4]\n", 3, "[slot 3] is missing"},
        {fourSlots + "[slot 2]\n", 5, "second time"},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        try {
            ParsePresetDescription(in);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const DescriptionError& e) {
            EXPECT_EQ(e.line(), c.line) << c.text;
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.what();
        }
    }
    // The longest name a preset file holds is fine, and so is a comment
    // after a value.
    std::istringstream longest("[slot 1]\nname = " + std::string(255, 'x') +
                               "\nperiod = 0.1  # the shortest\n" + fourSlots.substr(9));
    const PresetSlots slots = ParsePresetDescription(longest);
    EXPECT_EQ(slots[0].name.size(), 255u);
    EXPECT_EQ(slots[0].settings.period, "0.1");
}

}  // namespace
}  // namespace skarnel::presets
