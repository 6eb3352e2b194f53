// The enabled, greyed, checked and locked state of every control of the
// generator window, walked through a table of situations. Each situation
// names what differs from the stopped Stereo window with both channels on, no
// modulation and no filter; every other control must be as it is there.
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <map>

#include "generator/script_control.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator/window_commands.h"
#include "generator_fixture.h"
#include "persistence/settings_store.h"
#include "settings/choice_lists.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel::testing {
namespace {

// A control's state in a few letters: "e" enabled or "-" disabled, then "x"
// when ticked or checked, "g" when an enabled control's text is greyed (a
// disabled one has the palette's disabled look anyway), "b" when its caption
// is bold.
using States = std::map<std::string, std::string>;

class ControlStatesTest : public GeneratorTest {
protected:
    ControlStatesTest() {
        window->SetStore(&store);
        store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});
        Pick("cboChannels", kStereo);
        base = Snapshot();
    }

    States Snapshot() {
        States s;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            std::string name = w->objectName().toStdString();
            if (name.empty() || name.starts_with("qt_")) {
                continue;
            }
            // Inside a panel: "L." or "R." names the side.
            for (const QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget()) {
                if (p == window->panel(kLeft) || p == window->panel(kRight)) {
                    name = (p == window->panel(kLeft) ? "L." : "R.") + name;
                    break;
                }
            }
            std::string state = w->isEnabled() ? "e" : "-";
            if (const auto* box = qobject_cast<QCheckBox*>(w); box && box->isChecked()) {
                state += "x";
            }
            if (w->isEnabled() && GreyText(w)) {
                state += "g";
            }
            if (w->font().bold()) {
                state += "b";
            }
            s[name] = state;
        }
        for (QAction* a : window->findChildren<QAction*>()) {
            const std::string name = a->objectName().toStdString();
            if (!name.empty()) {
                s[name] = std::string(a->isEnabled() ? "e" : "-") + (a->isChecked() ? "x" : "");
            }
        }
        // Ctrl+F9 and F11 go through these actions; the menus hold them.
        s["(default button)"] = window->defaultButton() == nullptr
                                    ? "none"
                                    : window->defaultButton()->objectName().toStdString();
        return s;
    }

    // What differs from the base, as "name: base -> now" lines.
    static std::vector<std::string> Diff(const States& from, const States& to) {
        std::vector<std::string> lines;
        for (const auto& [name, state] : to) {
            const auto was = from.find(name);
            if (was == from.end() || was->second != state) {
                lines.push_back(name + ": " + (was == from.end() ? "?" : was->second) + " -> " +
                                state);
            }
        }
        return lines;
    }

    void ExpectDiff(const char* situation, const States& changes) {
        States expected = base;
        for (const auto& [name, state] : changes) {
            ASSERT_TRUE(base.count(name)) << situation << ": no control " << name;
            expected[name] = state;
        }
        const std::vector<std::string> wrong = Diff(expected, Snapshot());
        EXPECT_TRUE(wrong.empty()) << situation << ":\n  " << ::testing::PrintToString(wrong);
    }

    void Play() {
        Find<QPushButton>("btnON")->click();
        HandleNotifications();
        ASSERT_TRUE(window->audioOut().Running());
    }
    void Stop() {
        Find<QPushButton>("btnOFF")->click();
        HandleNotifications();
    }

    // The right side's own controls, which Mono and "= Left" grey, and the
    // two on ticks they fix.
    static States RightGreyed() {
        return {{"L.Lefttick", "-x"},
                {"R.RightTick", "-x"},
                {"R.WaveFormRight", "-"},
                {"R.cboCrestFactorR", "-"},
                {"R.filterGroupRight", "-"},
                {"R.cboFilterTypeR1", "-"},
                {"R.frequencyLabel", "-"},
                {"R.frequencyUnit", "-"},
                {"R.gainLabel", "-"},
                {"R.gainUnit", "-"},
                {"R.qLabel", "-"},
                {"R.AmplitudeRight", "-"},
                {"R.AmplitudeSliderRight", "-"},
                {"R.amplitudeUnitRight", "-"},
                {"R.rmsReadoutRight", "-"},
                {"R.amplitudeGroupRight", "-"},  // its title greys with it
                {"R.noiseFunctionLabelRight", "-"},
                {"R.crestFactorLabelRight", "-"},
                {"R.ModulationOnRight", "-"}};
    }
    // A channel's modulation entries and their labels, enabled.
    static States ModulationEnabled(const std::string& side, const std::string& name) {
        const std::string p = side + ".";
        return {{p + "ModPeriod" + name + "Edit", "e"},
                {p + "ModDepth" + name + "Edit", "e"},
                {p + "ModFunction" + name, "e"},
                {p + "ModPhase" + name + "Edit", "e"},
                {p + "modPeriodLabel", "e"},
                {p + "modPeriodUnit", "e"},
                {p + "modDepthLabel", "e"},
                {p + "modDepthUnit", "e"},
                {p + "modFunctionLabel", "e"},
                {p + "modPhaseLabel", "e"},
                {p + "modPhaseUnit", "e"}};
    }
    // While a signal plays: the values that must not change are locked.
    static States Playing() {
        return {{"cboChannels", "-"}, {"WaveDevice", "-"},      {"Duration", "-"},
                {"Loop", "-x"},       {"L.AmplitudeLeft", "-"}, {"R.AmplitudeRight", "-"},
                {"btnMemory1", "-"},  {"btnMemory2", "-"},      {"btnMemory3", "-"},
                {"btnMemory4", "-"},  {"mnuPresets", "-"},      {"(default button)", "btnOFF"}};
    }
    static States With(States a, const States& b) {
        for (const auto& [name, state] : b) {
            a[name] = state;
        }
        return a;
    }

    MemorySettingsStore store;
    States base;
};

TEST_F(ControlStatesTest, TheStoppedStereoWindowOffersEveryChoice) {
    for (const char* name :
         {"btnON", "btnOFF", "btnPause", "mnuON", "mnuOFF", "SaveWaveFile1", "cboChannels",
          "WaveDevice", "Duration", "chkAsLeft", "btnMemory1", "mnuPresets", "L.AmplitudeLeft",
          "R.AmplitudeRight", "R.WaveFormRight", "R.ModulationOnRight", "R.cboFilterTypeR1"}) {
        EXPECT_EQ(base.at(name), "e") << name;
    }
    EXPECT_EQ(base.at("L.Lefttick"), "ex");
    EXPECT_EQ(base.at("R.RightTick"), "ex");
    // No modulation and no filter: their entries are off, the list greyed.
    for (const char* name :
         {"L.ModPeriodLeftEdit", "R.ModPhaseRightEdit", "L.txtFZeroL", "R.txtGainR", "L.txtQL"}) {
        EXPECT_EQ(base.at(name), "-") << name;
    }
    EXPECT_EQ(base.at("R.ModFunctionRight"), "-");
    EXPECT_EQ(base.at("(default button)"), "btnON");
}

TEST_F(ControlStatesTest, ChannelModesAndTicks) {
    Pick("cboChannels", kMono);
    ExpectDiff("mono", With(RightGreyed(), {{"chkAsLeft", "-"}}));
    // Greyed right fields look as the left ones do when those are disabled:
    // the palette's own disabled colours, not a fixed grey.
    const auto disabledText = [this](const char* name) {
        return Entry(name)->palette().color(QPalette::Disabled, QPalette::Text);
    };
    EXPECT_EQ(disabledText("txtFZeroR"), disabledText("txtFZeroL"));
    EXPECT_EQ(disabledText("AmplitudeRight"), disabledText("txtQL"));
    Pick("cboChannels", kStereo);
    ExpectDiff("stereo again", {});

    Box("chkAsLeft")->setChecked(true);
    ExpectDiff("= Left", With(RightGreyed(), {{"chkAsLeft", "ex"}}));
    Box("chkAsLeft")->setChecked(false);
    ExpectDiff("= Left off", {});

    Box("Lefttick")->setChecked(false);
    ExpectDiff("left off", {{"L.Lefttick", "e"}});
    Box("RightTick")->setChecked(false);
    // Nothing to play: ON, its menu entry (F11) and the export are off, and
    // so is OFF (F9), since nothing plays either.
    ExpectDiff("both off", {{"L.Lefttick", "e"},
                            {"R.RightTick", "e"},
                            {"btnON", "-"},
                            {"mnuON", "-"},
                            {"mnuOFF", "-"},
                            {"SaveWaveFile1", "-"}});
    QTest::keyClick(window.get(), Qt::Key_F11);
    EXPECT_FALSE(window->audioOut().Running());
    // A start from another window still plays (silence); F9 stops it.
    window->ExecuteCommand(kCommandStart, 0, 0);
    HandleNotifications();
    ASSERT_TRUE(window->audioOut().Running());
    EXPECT_EQ(Snapshot().at("mnuOFF"), "e");
    QTest::keyClick(window.get(), Qt::Key_F9);
    HandleNotifications();
    EXPECT_FALSE(window->audioOut().Running());
    Box("Lefttick")->setChecked(true);
    ExpectDiff("right off", {{"R.RightTick", "e"}});
}

TEST_F(ControlStatesTest, ModulationBoxesAndFilterTypes) {
    Box("ModulationOnLeft")->setChecked(true);
    ExpectDiff("left modulation",
               With(ModulationEnabled("L", "Left"), {{"L.ModulationOnLeft", "ex"}}));
    Box("ModulationOnRight")->setChecked(true);
    ExpectDiff("both modulated",
               With(With(ModulationEnabled("L", "Left"), ModulationEnabled("R", "Right")),
                    {{"L.ModulationOnLeft", "ex"}, {"R.ModulationOnRight", "ex"}}));
    // "= Left" carries the left box over; the right entries follow "= Left".
    Box("ModulationOnRight")->setChecked(false);
    Box("chkAsLeft")->setChecked(true);
    ExpectDiff(
        "= Left modulated",
        With(With(RightGreyed(), ModulationEnabled("L", "Left")),
             {{"chkAsLeft", "ex"}, {"L.ModulationOnLeft", "ex"}, {"R.ModulationOnRight", "-x"}}));
    Box("chkAsLeft")->setChecked(false);
    Box("ModulationOnLeft")->setChecked(false);
    Box("ModulationOnRight")->setChecked(false);
    ExpectDiff("modulation off", {});

    // Each filter type enables the entries its design reads.
    struct Type {
        int type;
        const char* frequency;
        const char* gain;
        const char* q;
    };
    const Type types[] = {{kFilterPeaking, "e", "e", "e"}, {kFilterHighPass, "e", "-", "-"},
                          {kFilterLowPass, "e", "-", "-"}, {kFilterBandPass, "e", "-", "e"},
                          {kFilterNotch, "e", "-", "e"},   {kFilterNone, "-", "-", "-"}};
    for (const Type& t : types) {
        Pick("cboFilterTypeL1", t.type);
        Pick("cboFilterTypeR1", t.type);
        ExpectDiff(kFilterTypeItems[t.type], {{"L.txtFZeroL", t.frequency},
                                              {"L.txtGainL", t.gain},
                                              {"L.txtQL", t.q},
                                              {"R.txtFZeroR", t.frequency},
                                              {"R.txtGainR", t.gain},
                                              {"R.txtQR", t.q}});
    }
}

TEST_F(ControlStatesTest, PlayingAndPausedLockTheValues) {
    Play();
    ExpectDiff("playing", Playing());
    Find<QPushButton>("btnPause")->click();
    ExpectDiff("paused", With(Playing(), {{"btnPause", "eb"}}));
    Find<QPushButton>("btnPause")->click();

    // Ticking "= Left" on and off while playing keeps the right amplitude
    // locked (it used to come back editable).
    Box("chkAsLeft")->setChecked(true);
    Box("chkAsLeft")->setChecked(false);
    ExpectDiff("playing after = Left", Playing());
    Stop();
    ExpectDiff("stopped", {});
}

// Every control of the window, the menus included, is off while an export or
// a script runs; only their own small windows react.
TEST_F(ControlStatesTest, AnExportAndAScriptHoldTheWindow) {
    const auto expectHeld = [this](const char* situation, const States& during) {
        ASSERT_FALSE(during.empty()) << situation;
        for (const auto& entry : base) {
            const QString name = QString::fromStdString(entry.first);
            const bool dialogControl =
                window->settingsDialog()->findChild<QObject*>(name) != nullptr ||
                name == "OutputSettingsDialog";
            if (entry.first == "(default button)" || dialogControl ||
                window->findChild<QAction*>(name) != nullptr) {
                continue;  // not a widget of the window itself
            }
            EXPECT_EQ(during.at(entry.first).substr(0, 1), "-") << situation << ": " << entry.first;
        }
    };
    TypeAndLeave("Duration", "3");  // 33075 frames: progress points inside the export
    QTemporaryDir dir;
    States exporting;
    ModalOperation operation = ModalOperation::kNone;
    const auto look = [&](States& into) {
        into = Snapshot();
        operation = window->modalOperation();
    };
    QTimer::singleShot(0, window.get(), [&] { look(exporting); });
    dialogs.paths.push_back(dir.filePath("held.wav"));
    Find<QAction>("SaveWaveFile1")->trigger();
    EXPECT_EQ(operation, ModalOperation::kExport);
    expectHeld("exporting", exporting);
    EXPECT_EQ(window->modalOperation(), ModalOperation::kNone);
    ExpectDiff("after the export", {});

    const QString script = WriteScript(dir, "wait.wbs", "delay 0.3\nend\n");
    States waiting;
    QTimer::singleShot(50, window.get(), [&] { look(waiting); });
    window->scripts().Run(script);
    EXPECT_EQ(operation, ModalOperation::kScript);
    expectHeld("script waiting", waiting);
    ExpectDiff("after the script", {});
}

// Resident memory in KiB, from /proc.
long ResidentKiB() {
    QFile status("/proc/self/statm");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Greying and ungreying controls must not leave something behind each time:
// 70,000 channel-mode commands once took 177 MB.
TEST_F(ControlStatesTest, TogglingModesAndModulationKeepsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in its quarantine on purpose, so
    // the resident size grows with every allocation, leak or not.
    GTEST_SKIP() << "resident memory is not a measure under AddressSanitizer";
#endif
    const auto toggle = [this](int times) {
        for (int i = 0; i < times; ++i) {
            window->ExecuteCommand(kCommandChannels, i % 2 == 0 ? 0 : 3, 0);
            window->ExecuteCommand(kCommandModOnL, i % 2, 0);
            window->ExecuteCommand(kCommandModOnR, i % 2, 0);
            if (i % 10 == 0) {
                window->grab();  // paints, as the screen would
            }
        }
        QApplication::processEvents();
    };
    // Caches and pools fill up once, within the first 2,000 toggles (about
    // 1 MB with the scroll area): what is measured is growth after that.
    for (int warm = 0; warm < 3; ++warm) {
        toggle(1000);
    }
    const long before = ResidentKiB();
    ASSERT_GT(before, 0);
    toggle(10000);
    EXPECT_LT(ResidentKiB() - before, 1024) << "KiB grown over 10,000 toggles";
}

}  // namespace
}  // namespace skarnel::testing
