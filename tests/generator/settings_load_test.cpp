// The settings store as the window meets it: what closing writes, what the
// next start restores, the fallback to the reset, and the suppressible question.
#include <QStatusBar>
#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "app/window_settings.h"
#include "flat_preset.h"
#include "generator_fixture.h"
#include "persistence/settings_store.h"
#include "platform/suppressible_question.h"

namespace skarnel::testing {
namespace {

class SettingsLoadTest : public GeneratorTest {
protected:
    struct Started {
        ScriptedDialogs dialogs;
        std::unique_ptr<GeneratorWindow> window;
        std::unique_ptr<OutputSettingsDialog> settings;
    };
    // A new window and Output Settings dialog, loaded from `from` as at start-up.
    std::unique_ptr<Started> Start(SettingsStore& from) {
        auto s = std::make_unique<Started>();
        s->window = std::make_unique<GeneratorWindow>(backend, s->dialogs, screenSaver);
        s->settings = std::make_unique<OutputSettingsDialog>(s->window.get());
        s->window->SetSettingsDialog(s->settings.get());
        LoadSettings(from, *s->window, *s->settings);
        return s;
    }
    // Every entry, list, tick and slider, the Output Settings' included.
    static std::map<std::string, std::string> Shown(const GeneratorWindow& w) {
        std::map<std::string, std::string> shown;
        const auto put = [&](const QObject* o, const QString& v) {
            shown[o->objectName().toStdString()] = v.toStdString();
        };
        for (const auto* e : w.findChildren<QLineEdit*>())
            put(e, e->text());
        for (const auto* l : w.findChildren<QComboBox*>())
            put(l, l->currentText());
        for (const auto* b : w.findChildren<QCheckBox*>())
            put(b, b->isChecked() ? "1" : "");
        for (const auto* s : w.findChildren<QSlider*>())
            put(s, QString::number(s->value()));
        return shown;
    }
    // A copy of `store` with one value replaced, or removed when `value` is empty.
    MemorySettingsStore Spoiled(const char* name, std::optional<SettingData> value) {
        const std::optional<SettingsValues> stored = store.Load(SettingsKeyPath());
        std::vector<SettingValue> values;
        for (const SettingValue& v : stored->entries()) {
            if (!NamesEqual(v.name, name)) {
                values.push_back(v);
            }
        }
        if (value) {
            values.push_back({name, *value});
        }
        MemorySettingsStore spoiled;
        spoiled.Save(SettingsKeyPath(), values);
        return spoiled;
    }

    MemorySettingsStore store;
};

TEST_F(SettingsLoadTest, ClosingWritesWhatTheNextStartRestores) {
    ConnectSettingsStore(store, *window, *settings);
    settings->ui.cboFsList->setCurrentIndex(4);
    emit settings->ui.cboFsList->activated(4);
    settings->ui.cboBuffers->setCurrentIndex(0);
    settings->ui.cboQuant->setCurrentIndex(2);
    settings->ui.cboBufferSize->setCurrentIndex(4);
    settings->ui.chkDisableSS->setChecked(false);
    // Every preset field away from the start state, in record order; the
    // modulation period as typed with a comma, not yet left.
    // clang-format off
    window->presets().records()[0] = FlatPreset{"", "0.5", "-3.5", "-7", kWhiteNoise, kPinkNoise,
        false, false, true, false, true, false, "1,5", "8", "25", "70", kModTriangular, kModCosine,
        "0", "45", 0, 5, false, kFilterLowPass, "250", "0", "1", kFilterPeaking, "4000", "-6", "0.5"};
    // clang-format on
    window->RecallMemory(1);
    Pick("WaveDevice", 2);
    window->findChild<QAction*>("mnuAutostart")->setChecked(true);
    window->setGeometry(QRect(QPoint(10, 0), window->size()));  // fits the test screen

    settings->show();
    settings->close();
    window->close();
    const std::optional<SettingsValues> values = store.Load(SettingsKeyPath());
    ASSERT_TRUE(values);
    std::int32_t mono = -1;
    std::string period;
    values->ReadInteger("mono", mono);
    values->ReadText("ModPeriodLeftEdit", period);
    EXPECT_EQ(mono, 0);
    EXPECT_EQ(period, "1,5");  // as shown, not validated

    const auto next = Start(store);
    EXPECT_EQ(Shown(*next->window), Shown(*window));
    EXPECT_EQ(next->window->geometry().topLeft(), QPoint(10, 0));
    EXPECT_TRUE(next->window->findChild<QAction*>("mnuAutostart")->isChecked());
    EXPECT_EQ(next->window->audioOut().WaveDevice(), 1u);
    const EngineState& was = window->engine().state;
    const EngineState& is = next->window->engine().state;
    EXPECT_EQ(is.sampleRate, 48000);
    for (const int c : {kLeft, kRight}) {
        EXPECT_EQ(is.channels[c].crestExponent, was.channels[c].crestExponent) << c;
        EXPECT_EQ(is.channels[c].gate, was.channels[c].gate) << c;
        EXPECT_EQ(is.channels[c].b0, was.channels[c].b0) << c;
    }
    EXPECT_EQ(next->window->presets().records()[3].settings.period, "0.5");
    EXPECT_TRUE(next->dialogs.shown.isEmpty()) << next->dialogs.Last().toStdString();
}

// Loaded numbers show short: the period (validated by the load) and a filter
// frequency (loaded as stored, the text a validation left).
TEST_F(SettingsLoadTest, LoadedNumbersShowShort) {
    Pick("cboChannels", kStereo);
    Pick("cboFilterTypeR1", kFilterPeaking);
    TypeAndLeave("Duration", "0.3");
    TypeAndLeave("txtFZeroR", "1000.3");
    SaveWindowSettings(store, *window);
    const auto next = Start(store);
    EXPECT_EQ(next->window->findChild<QLineEdit*>("Duration")->text(), "0.3");
    EXPECT_EQ(next->window->findChild<QLineEdit*>("txtFZeroR")->text(), "1000.3");
    EXPECT_EQ(next->window->model().values().channels[kRight].frequency, "1000.29999");
}

// One value that cannot be read costs only itself: it starts at its reset
// value, every other value loads, the status line names it, and the close
// writes back what the window holds, the other values as they were stored.
// A store found damaged or too large to read: the window starts from its
// defaults and the status line says why and what the close will do.
TEST_F(SettingsLoadTest, ADamagedStoreIsNamedInTheStatusLine) {
    class DamagedStore : public MemorySettingsStore {
    public:
        std::optional<SettingsValues> Load(std::string_view) override { return std::nullopt; }
        std::string lastError() const override {
            return "settings store Skarnel.db unusable: larger than 16 MB (18 MB)";
        }
        bool damaged() const override { return true; }
    };
    DamagedStore damaged;
    const auto started = Start(damaged);
    EXPECT_EQ(Shown(*started->window), Shown(*window));  // the reset state
    const QStatusBar* bar = started->window->findChild<QStatusBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->currentMessage().contains("larger than 16 MB"))
        << bar->currentMessage().toStdString();
    EXPECT_TRUE(bar->currentMessage().contains("set aside when it closes"));
    // A store that is only missing (a first start) says nothing.
    MemorySettingsStore empty;
    EXPECT_EQ(Start(empty)->window->findChild<QStatusBar*>(), nullptr);
}

TEST_F(SettingsLoadTest, AnUnreadableValueTakesItsDefaultAndEveryOtherValueLoads) {
    const auto reset = Shown(*window);  // the fixture's window is the reset state
    MemorySettingsStore empty;
    EXPECT_EQ(Shown(*Start(empty)->window), reset);
    MemorySettingsStore newWindow;  // what a new window stores
    SaveWindowSettings(newWindow, *window);
    const SettingsValues resetStored = *newWindow.Load(SettingsKeyPath());

    Pick("cboChannels", kStereo);
    Pick("cboFilterTypeR1", kFilterPeaking);
    TypeAndLeave("txtGainR", "-6");
    Pick("cboCrestFactorL", 2);
    Pick("cboCrestFactorR", 5);
    TypeAndLeave("AmplitudeLeft", "-9");
    window->findChild<QAction*>("mnuAutostart")->setChecked(true);
    window->setGeometry(QRect(QPoint(10, 0), window->size()));  // the client area
    SaveWindowSettings(store, *window);
    const SettingsValues saved = *store.Load(SettingsKeyPath());

    // Missing values (a store from an older version) load silently; values
    // of another kind and texts their entries cannot read are named.
    const std::tuple<const char*, std::optional<SettingData>, bool> cases[] = {
        {"WaveDevice", std::nullopt, false},  {"WaveDevice", std::string("2"), true},
        {"Loop", std::string("1"), true},     {"PeakRmsL", std::string("4"), true},
        {"PeakRmsR", std::nullopt, false},    {"txtFZeroL", std::string("abc"), true},
        {"txtGainR", std::string(), true},    {"Duration", std::int32_t{5}, true},
        {"FormX", std::string("left"), true}, {"txtQL", std::string("abc"), true}};
    for (const auto& [name, value, named] : cases) {
        SCOPED_TRACE(name);
        MemorySettingsStore spoiled = Spoiled(name, value);
        const auto started = Start(spoiled);
        GeneratorWindow& w = *started->window;
        EXPECT_EQ(w.findChild<QComboBox*>("cboChannels")->currentIndex(), kStereo);
        EXPECT_EQ(w.panel(kLeft)->ui.amplitude->text(), "-9");
        EXPECT_TRUE(w.findChild<QAction*>("mnuAutostart")->isChecked());
        EXPECT_TRUE(started->dialogs.shown.isEmpty());
        const QStatusBar* bar = w.findChild<QStatusBar*>();
        const QString note = bar != nullptr ? bar->currentMessage() : QString();
        EXPECT_EQ(note.contains(name), named) << note.toStdString();

        // The close writes each value as the window holds it: the spoiled
        // one as a new window has it, every other one as it was stored.
        SaveWindowSettings(spoiled, w);
        const SettingsValues after = *spoiled.Load(SettingsKeyPath());
        const auto stored = [](const SettingsValues& values, std::string_view key) {
            const auto found =
                std::find_if(values.entries().begin(), values.entries().end(),
                             [&](const SettingValue& v) { return NamesEqual(v.name, key); });
            return found != values.entries().end() ? std::optional(found->value) : std::nullopt;
        };
        const bool placedAnew = NamesEqual(name, "FormX");  // without a stored place
        for (const SettingValue& v : saved.entries()) {
            if (placedAnew && v.name.starts_with("Form")) {
                continue;
            }
            if (!NamesEqual(v.name, name)) {
                EXPECT_EQ(stored(after, v.name), std::optional(v.value)) << v.name;
            } else {
                EXPECT_EQ(stored(after, name), stored(resetStored, name));
            }
        }
    }

    // With "= Left" ticked the right channel follows the left.
    Box("chkAsLeft")->setChecked(true);
    SaveWindowSettings(store, *window);

    // Empty or missing texts are no failures.
    MemorySettingsStore emptyDuration = Spoiled("Duration", std::string());
    auto started = Start(emptyDuration);
    EXPECT_EQ(started->window->findChild<QLineEdit*>("Duration")->text(), "1");
    EXPECT_TRUE(started->window->findChild<QCheckBox*>("chkAsLeft")->isChecked());
    EXPECT_FALSE(started->window->panel(kRight)->ui.noiseFunction->isEnabled());  // "= Left" greys
    EXPECT_FALSE(started->window->panel(kLeft)->ui.modPeriod->isEnabled());       // modulation off
    EXPECT_EQ(started->window->geometry().topLeft(), QPoint(10, 0));
    MemorySettingsStore noPhase = Spoiled("ModPhaseLeftEdit", std::nullopt);
    started = Start(noPhase);
    EXPECT_EQ(started->window->panel(kLeft)->ui.modPhase->text(), "");
    EXPECT_EQ(started->window->findChild<QComboBox*>("cboChannels")->currentIndex(), kStereo);

    // Output values count only with "Fs"; an index outside its list keeps the default.
    store.Save(SettingsKeyPath(), {{"Buffers", std::int32_t{0}}});
    EXPECT_EQ(Shown(*Start(store)->window), Shown(*window));
    store.Save(SettingsKeyPath(), {{"Fs", std::int32_t{9}}, {"Quant", std::int32_t{-1}}});
    started = Start(store);
    EXPECT_EQ(started->settings->SamplingFrequency(), 11025);
    EXPECT_EQ(started->settings->QuantizationBits(), 16);
    EXPECT_EQ(started->settings->BufferCount(), 2);
}

// Each way of closing Output Settings writes its values: the Close button,
// the title bar's close, and Escape (which bypasses the close event).
TEST_F(SettingsLoadTest, EveryWayOfClosingOutputSettingsWritesItsValues) {
    ConnectSettingsStore(store, *window, *settings);
    const auto storedBuffers = [this] {
        std::int32_t value = -1;
        const std::optional<SettingsValues> stored = store.Load(SettingsKeyPath());
        return stored && stored->ReadInteger("Buffers", value) == ReadStatus::kOk ? value : -1;
    };
    const std::vector<std::pair<const char*, std::function<void()>>> ways{
        {"Close button", [this] { settings->ui.btnClose->click(); }},
        {"title bar", [this] { settings->close(); }},
        {"Escape", [this] { QTest::keyClick(settings.get(), Qt::Key_Escape); }},
    };
    int item = 0;
    for (const auto& [way, closeIt] : ways) {
        settings->show();
        item = (item + 1) % 3;
        settings->ui.cboBuffers->setCurrentIndex(item);
        closeIt();
        EXPECT_FALSE(settings->isVisible()) << way;
        EXPECT_EQ(storedBuffers(), item) << way;
    }
}

// A stored device that is no longer there: the default device, and a note in
// the status area that says which one was missed.
TEST_F(SettingsLoadTest, AStoredDeviceThatIsGoneLeavesTheDefaultWithANote) {
    Pick("WaveDevice", 2);
    SaveWindowSettings(store, *window);
    auto found = Start(store);
    EXPECT_EQ(found->window->findChild<QComboBox*>("WaveDevice")->currentIndex(), 2);
    EXPECT_TRUE(found->window->statusBar()->currentMessage().isEmpty());

    // Stored as a device the list does not hold: by every name it is known by.
    store = Spoiled("WaveDeviceId", std::string("usb-interface"));
    store = Spoiled("WaveDeviceDescription", std::string("USB Interface"));
    MemorySettingsStore gone = Spoiled("WaveDeviceName", std::string("USB Interface"));
    auto started = Start(gone);
    EXPECT_EQ(started->window->findChild<QComboBox*>("WaveDevice")->currentIndex(), 0);
    EXPECT_EQ(started->window->audioOut().WaveDevice(), kDefaultWaveDevice);
    EXPECT_EQ(started->window->statusBar()->currentMessage(),
              "The output device \"USB Interface\" is not available; \"Windows Default\" plays "
              "instead.");
    EXPECT_TRUE(started->dialogs.shown.isEmpty());
}

TEST_F(SettingsLoadTest, SuppressibleQuestionKeepsOnlyTheTick) {
    const auto ask = [this] {
        return AskUnlessSuppressed(store, dialogs, "Intro?", "Welcome", "Welcome");
    };
    dialogs.answers = {false};
    EXPECT_EQ(ask(), SuppressibleAnswer::kNo);
    EXPECT_EQ(store.saveCount(), 0);
    dialogs.ticks = {true};
    EXPECT_EQ(ask(), SuppressibleAnswer::kYes);
    EXPECT_EQ(dialogs.shown, QStringList({"Intro?", "Intro?"}));
    EXPECT_EQ(dialogs.titles.back(), "Welcome");
    std::int32_t flag = 0;
    EXPECT_EQ(store.Load(SettingsKeyPath())->ReadInteger("Welcome", flag), ReadStatus::kOk);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(ask(), SuppressibleAnswer::kNotShown);

    // Presence alone suppresses, in any letter case and of any kind.
    MemorySettingsStore other;
    other.Save(SettingsKeyPath(), {{"CDFORMAT", std::string("no")}});
    EXPECT_EQ(AskUnlessSuppressed(other, dialogs, "Hint?", "Hint", "CDformat"),
              SuppressibleAnswer::kNotShown);
    EXPECT_EQ(dialogs.shown.size(), 2);
}

}  // namespace
}  // namespace skarnel::testing
