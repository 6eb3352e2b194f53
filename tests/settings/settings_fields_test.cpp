// The window values as the settings store keeps them: the names and kinds
// that stores written by earlier versions hold must stay exactly as they are,
// and what a window stores must load into the next one unchanged.
#include <gtest/gtest.h>

#include <map>

#include "engine/crest_modulation.h"
#include "engine/signal_engine.h"
#include "engine/uniform_random.h"
#include "record/settings_fields.h"
#include "settings/generator_model.h"

namespace skarnel {
namespace {

enum class Kind { kText, kInteger };

// The stored window values, typed in from the store's documented list.
const std::map<std::string, Kind> kDocumentedValues = {
    {"AmplitudeLeft", Kind::kText},
    {"ModulationOnLeft", Kind::kInteger},
    {"WaveFormLeft", Kind::kInteger},
    {"AmplitudeRight", Kind::kText},
    {"AsLeft", Kind::kInteger},
    {"PeakRmsL", Kind::kInteger},
    {"PeakRmsR", Kind::kInteger},
    {"ModulationOnRight", Kind::kInteger},
    {"WaveFormRight", Kind::kInteger},
    {"Duration", Kind::kText},
    {"Loop", Kind::kInteger},
    {"mono", Kind::kInteger},
    {"LeftTick", Kind::kInteger},
    {"RightTick", Kind::kInteger},
    {"ModPeriodLeftEdit", Kind::kText},
    {"ModDepthLeftEdit", Kind::kText},
    {"ModFunctionLeft", Kind::kInteger},
    {"ModPhaseLeftEdit", Kind::kText},
    {"ModPeriodRightEdit", Kind::kText},
    {"ModDepthRightEdit", Kind::kText},
    {"ModFunctionRight", Kind::kInteger},
    {"ModPhaseRightEdit", Kind::kText},
    {"WaveDevice", Kind::kInteger},
    {"PresetAutoStart", Kind::kInteger},
    {"cboFilterTypeL1", Kind::kInteger},
    {"txtFZeroL", Kind::kText},
    {"txtQL", Kind::kText},
    {"txtGainL", Kind::kText},
    {"cboFilterTypeR1", Kind::kInteger},
    {"txtFZeroR", Kind::kText},
    {"txtQR", Kind::kText},
    {"txtGainR", Kind::kText},
    {"FormX", Kind::kInteger},
    {"FormY", Kind::kInteger},
    // Newer than the list: the device's name beside its index, then its
    // whole description and the host's name for it.
    {"WaveDeviceName", Kind::kText},
    {"WaveDeviceDescription", Kind::kText},
    {"WaveDeviceId", Kind::kText},
};

// A device list as a back-end gives it: the default item, then devices known
// by their descriptions.
std::vector<OutputDevice> DeviceItems(std::initializer_list<const char*> devices) {
    std::vector<OutputDevice> items{{"", kDefaultDeviceItem, kDefaultDeviceItem}};
    for (const char* device : devices) {
        items.push_back({device, device, device});
    }
    return items;
}

class Devices : public OutputControl {
public:
    bool Running() const override { return false; }
    void StopImmediately() override {}
    void SelectDevice(std::int32_t item) override { selected = item; }
    std::int32_t selected = -99;
};

struct Window {
    Window() : engine(random), model(engine, &devices) {
        model.SetDeviceItems(DeviceItems({"Speakers", "USB Interface", "HDMI"}));
        StartAsNewWindow(model, 44100);
    }
    UniformRandom random;
    SignalEngine engine;
    Devices devices;
    GeneratorModel model;
};

TEST(StoredWindowValues, NamesAndKindsAreTheDocumentedOnes) {
    Window w;
    std::map<std::string, Kind> stored;
    for (const SettingValue& v : w.model.StoredValues(0, 0)) {
        const Kind kind =
            std::holds_alternative<std::string>(v.value) ? Kind::kText : Kind::kInteger;
        EXPECT_TRUE(stored.emplace(v.name, kind).second) << v.name << " stored twice";
    }
    EXPECT_EQ(stored, kDocumentedValues);
}

TEST(StoredWindowValues, WhatOneWindowStoresTheNextLoads) {
    Window first;
    GeneratorModel& m = first.model;
    m.SetChannelMode(kStereo);
    m.OnChannelModeChanged();
    m.SetOnTick(kLeft, false);
    m.SetWaveDevice(3);
    m.SetPeriodText("2,5");  // kept as typed: validated on loading
    m.SetAutostart(true);
    for (int c = 0; c < kChannelCount; ++c) {
        m.SetAmplitudeText(c, c == kLeft ? "-3.5" : "-20");
        m.SetNoiseFunction(c, kWhiteNoise);
        m.SetCrestFactor(c, 2 + c);
        m.SetFilterType(c, c == kLeft ? kFilterPeaking : kFilterNotch);
        m.SetFilterText(c, &ChannelSettings::frequency, c == kLeft ? "500" : "2000");
        m.SetFilterText(c, &ChannelSettings::gain, "-6");
        m.SetFilterText(c, &ChannelSettings::q, "2");
        m.SetModulationOn(c, true);
        m.SetModFunction(c, kModTriangular - c);
        m.SetModPeriodText(c, "4");
        m.SetModDepthText(c, "30");
        m.SetModPhaseText(c, "90");
    }
    m.FinishAmplitudeEntry(kLeft);
    m.FinishAmplitudeEntry(kRight);
    const std::vector<SettingValue> values = m.StoredValues(120, -40);

    Window next;
    int x = 0, y = 0;
    ASSERT_TRUE(next.model.Load(SettingsValues(values), [&](int atX, int atY) {
        x = atX;
        y = atY;
    }));
    GeneratorSettings expected = m.values();
    expected.period = "2.5";
    EXPECT_EQ(next.model.values(), expected);
    EXPECT_TRUE(next.model.autostart());
    EXPECT_EQ(next.devices.selected, 3);
    EXPECT_EQ(std::pair(x, y), std::pair(120, -40));
    EXPECT_EQ(next.engine.state.left().gate, 0);
    // The loaded choices derived their crest exponents: white noise, 4:1.
    EXPECT_EQ(next.engine.state.channels[kRight].crestExponent, kCrestExponentsWhite[3]);

    // A value of the wrong kind costs only itself: it takes its reset value
    // and is named; every other value loads.
    SettingsValues spoiled(values);
    spoiled.Set({"PeakRmsR", std::string("4")});
    Window third;
    EXPECT_TRUE(third.model.Load(spoiled, nullptr));
    expected.channels[kRight].crestFactor = GeneratorSettings{}.channels[kRight].crestFactor;
    EXPECT_EQ(third.model.values(), expected);
    EXPECT_EQ(third.model.unreadableStored(), std::vector<std::string>{"PeakRmsR"});

    // Only the output values stored: no window value, a new window.
    Window fourth;
    EXPECT_FALSE(fourth.model.Load(SettingsValues({{"Fs", std::int32_t{4}}}), nullptr));
}

// The device is found by its name when the list has changed, and a device
// that is gone leaves the default device with a note, never another device.
TEST(StoredWindowValues, TheDeviceIsFoundByItsName) {
    Window first;
    first.model.SetWaveDevice(2);  // "USB Interface"
    const SettingsValues stored(first.model.StoredValues(0, 0));

    Window added;  // a device came before the stored one
    added.model.SetDeviceItems(DeviceItems({"Speakers", "JACK", "USB Interface", "HDMI"}));
    ASSERT_TRUE(added.model.Load(stored, nullptr));
    EXPECT_EQ(added.model.values().waveDevice, 3);
    EXPECT_EQ(added.devices.selected, 3);
    EXPECT_EQ(added.model.missingDevice(), "");

    Window gone;
    gone.model.SetDeviceItems(DeviceItems({"Speakers", "HDMI"}));
    ASSERT_TRUE(gone.model.Load(stored, nullptr));
    EXPECT_EQ(gone.model.values().waveDevice, 0);
    EXPECT_EQ(gone.devices.selected, 0);
    EXPECT_EQ(gone.model.missingDevice(), "USB Interface");

    // A store from before names were kept: the index, as it always was.
    std::vector<SettingValue> older;
    for (const SettingValue& v : stored.entries()) {
        if (!v.name.starts_with("WaveDevice") || v.name == "WaveDevice") {
            older.push_back(v);
        }
    }
    Window legacy;
    legacy.model.SetDeviceItems(DeviceItems({"Speakers", "JACK", "USB Interface"}));
    ASSERT_TRUE(legacy.model.Load(SettingsValues(older), nullptr));
    EXPECT_EQ(legacy.model.values().waveDevice, 2);
    EXPECT_EQ(legacy.model.missingDevice(), "");
}

TEST(StoredWindowValues, ChannelKeysNameTheirSide) {
    std::map<std::string, std::string> keys;
    for (const ChannelField& f : ChannelFields()) {
        keys[StoreKey(f, kLeft)] = StoreKey(f, kRight);
    }
    EXPECT_EQ(keys.at("LeftTick"), "RightTick");
    EXPECT_EQ(keys.at("PeakRmsL"), "PeakRmsR");
    EXPECT_EQ(keys.at("cboFilterTypeL1"), "cboFilterTypeR1");
    EXPECT_EQ(keys.at("ModPhaseLeftEdit"), "ModPhaseRightEdit");
}

}  // namespace
}  // namespace skarnel
