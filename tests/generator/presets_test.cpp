// The four memory slots: store, recall, rename, the start-up fill, and the
// File menu's preset files.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextDocument>
#include <map>

#include "engine/crest_modulation.h"
#include "flat_preset.h"
#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

// A slot whose every field differs from the start state, in record order.
// clang-format off
const MemoryPreset kDistinct = FlatPreset{"Sweep", "2.5", "-12", "-20.5", kWhiteNoise, kWhiteNoise,
    false, false, false, true, true, true, "2", "3", "40", "60", kModSquare, kModTriangular,
    "30", "90", 2, 6, false, kFilterPeaking, "500", "6", "2", kFilterBandPass, "3000", "-3", "4"};
// clang-format on

class PresetsTest : public GeneratorTest {
protected:
    // Every entry, list, tick and slider a preset holds, by name.
    std::map<std::string, std::string> Shown() {
        std::map<std::string, std::string> shown;
        const auto put = [&](const QObject* o, const QString& v) {
            shown[o->objectName().toStdString()] = v.toStdString();
        };
        for (const auto* e : window->findChildren<QLineEdit*>())
            put(e, e->text());
        for (const auto* l : window->findChildren<QComboBox*>())
            put(l, l->currentText());
        for (const auto* b : window->findChildren<QCheckBox*>())
            put(b, b->isChecked() ? "1" : "");
        for (const auto* s : window->findChildren<QSlider*>())
            put(s, QString::number(s->value()));
        shown.erase("WaveDevice");
        shown.erase("MemoryNameEdit");
        return shown;
    }
    std::vector<double> EngineValues() {
        std::vector<double> v;
        for (const ChannelEngineState& c : window->engine().state.channels) {
            v.insert(v.end(), {c.crestExponent, double(c.gate), c.linearAmplitude, c.modPeriod,
                               c.modDepth, c.modPhase, c.b0, c.b1, c.b2, c.a0, c.a1, c.a2});
        }
        return v;
    }
    QString Caption(int slot) { return window->presets().button(slot)->text(); }
};

TEST_F(PresetsTest, StoreAndRecallKeepEveryEntryAndTheEngine) {
    window->presets().records()[0] = kDistinct;
    window->RecallMemory(1);
    EXPECT_EQ(List("cboChannels")->currentIndex(), kStereo);
    EXPECT_EQ(Entry("AmplitudeRight")->text(), "-20.5");
    EXPECT_EQ(List("ModFunctionRight")->currentIndex(), kModTriangular);
    EXPECT_EQ(Entry("txtQR")->text(), "4");
    window->presets().Store(2);
    MemoryPreset stored = window->presets().records()[1];
    EXPECT_EQ(stored.name, "Memory 2");  // a slot keeps its name
    stored.name = kDistinct.name;
    EXPECT_EQ(stored, kDistinct);
    const auto shown = Shown();
    const std::vector<double> engine = EngineValues();

    window->ResetSettings();
    Box("chkAsLeft")->setChecked(true);
    window->PrepareEngineFromWindow();
    ASSERT_NE(Shown(), shown);
    window->RecallMemory(2);
    EXPECT_EQ(Shown(), shown);
    EXPECT_EQ(EngineValues(), engine);
    EXPECT_EQ(window->engine().state.left().crestExponent, kCrestExponentsWhite[2]);
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();

    // The start-up fill: every slot as the window, named by its number.
    window->presets().FillFromWindow();
    for (int slot = 1; slot <= 4; ++slot) {
        MemoryPreset p = window->presets().records()[slot - 1];
        EXPECT_EQ(Caption(slot), QString("Memory %1").arg(slot));
        EXPECT_EQ(p.name, Caption(slot).toStdString());
        p.name = kDistinct.name;
        EXPECT_EQ(p, kDistinct) << slot;
    }
}

// A recall validates the period and the right filter: their entries show the
// short text, the slot a store fills keeps the validated one.
TEST_F(PresetsTest, RecalledNumbersShowShortAndAreStoredWhole) {
    MemoryPreset slot = kDistinct;
    slot.settings.period = "0.3";
    slot.settings.channels[kRight].frequency = "1000.3";
    window->presets().records()[0] = slot;
    window->RecallMemory(1);
    EXPECT_EQ(Entry("Duration")->text(), "0.3");
    EXPECT_EQ(Entry("txtFZeroR")->text(), "1000.3");
    window->presets().Store(2);
    EXPECT_EQ(window->presets().records()[1].settings.period, "0.3000000119");
    EXPECT_EQ(window->presets().records()[1].settings.channels[kRight].frequency, "1000.29999");
}

TEST_F(PresetsTest, AutostartPlayingLockAndSlotsOutsideOneToFour) {
    TypeAndLeave("Duration", "3");
    const PresetSlots before = window->presets().records();
    for (const int slot : {0, 5}) {
        window->presets().Store(slot);
        window->RecallMemory(slot);
        window->presets().Rename(slot);
    }
    EXPECT_EQ(window->presets().records(), before);
    EXPECT_EQ(Entry("Duration")->text(), "3");

    const auto expectLocked = [this](bool locked) {
        for (int slot = 1; slot <= 4; ++slot) {
            EXPECT_EQ(window->presets().button(slot)->isEnabled(), !locked) << slot;
        }
        EXPECT_EQ(window->findChild<QMenu*>("mnuPresets")->isEnabled(), !locked);
    };
    window->findChild<QAction*>("mnuAutostart")->trigger();
    window->RecallMemory(1);
    EXPECT_EQ(Entry("Duration")->text(), "10");
    EXPECT_TRUE(window->audioOut().Running());
    HandleNotifications();
    expectLocked(true);
    // Without autostart a recall stops what plays and starts nothing.
    window->findChild<QAction*>("mnuAutostart")->trigger();
    window->RecallMemory(1);
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_EQ(backend.OpenCount(), 1);
    HandleNotifications();
    expectLocked(false);
}

TEST_F(PresetsTest, StereoSlotWithAsLeftCopiesTheLeftSettings) {
    GeneratorSettings& p = window->presets().records()[2].settings;
    p.channelMode = kStereo;
    p.channels[kRight].on = false;
    p.asLeft = p.channels[kLeft].modulationOn = true;
    p.channels[kLeft].amplitude = "-6";
    p.channels[kLeft].noiseFunction = kWhiteNoise;
    p.channels[kLeft].crestFactor = 1;
    p.channels[kLeft].modPeriod = "4";
    p.channels[kRight].filterType = kFilterNotch;
    window->RecallMemory(3);
    EXPECT_EQ(List("cboChannels")->currentIndex(), kStereo);
    EXPECT_TRUE(Box("chkAsLeft")->isChecked());
    EXPECT_EQ(Entry("AmplitudeRight")->text(), "-6");
    EXPECT_EQ(window->engine().state.right().crestExponent, kCrestExponentsWhite[1]);
    EXPECT_TRUE(Box("ModulationOnRight")->isChecked());
    EXPECT_EQ(Entry("ModPeriodRightEdit")->text(), "4");
    EXPECT_EQ(window->engine().state.right().gate, 1);
    EXPECT_EQ(List("cboFilterTypeR1")->currentIndex(), kFilterNotch);  // filters are not copied
    window->presets().Store(4);
    EXPECT_TRUE(window->presets().records()[3].settings.asLeft);
}

TEST_F(PresetsTest, RenameEndsOnEnterOrFocusLoss) {
    QLineEdit* field = Entry("MemoryNameEdit");
    window->presets().Rename(3);
    EXPECT_TRUE(Caption(3).isEmpty());
    EXPECT_TRUE(field->isVisible() && field->isEnabled() && field->hasFocus());
    EXPECT_FALSE(window->findChild<QPushButton*>("btnON")->isDefault());
    QTest::keyClicks(field, "Sweep");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(Caption(3), "Sweep");
    EXPECT_EQ(window->presets().records()[2].name, "Sweep");
    EXPECT_FALSE(field->isVisible() || field->isEnabled());
    EXPECT_EQ(backend.OpenCount(), 0);  // the Enter ended the rename only
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(backend.OpenCount(), 1);  // ON is the default button again
    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();

    window->presets().Rename(1);
    QTest::keyClick(field, Qt::Key_Enter);
    EXPECT_TRUE(Caption(1).isEmpty());
    EXPECT_TRUE(window->presets().records()[0].name.empty());
    window->presets().Rename(4);
    field->setText(QString(300, 'n'));
    window->findChild<QPushButton*>("btnPause")
        ->setFocus();  // leaving the field ends the rename too
    EXPECT_EQ(window->presets().records()[3].name, std::string(255, 'n'));
    EXPECT_FALSE(field->isVisible());
    EXPECT_TRUE(window->findChild<QPushButton*>("btnON")->isDefault());
}

// A long name is cut to its button, whole in the hint: the window keeps its
// width, and ON, OFF, Pause and the period stay within it.
TEST_F(PresetsTest, ALongNameIsCutToItsButtonAndWhollyInTheHint) {
    QPushButton* memory = window->findChild<QPushButton*>("btnMemory2");
    const QString hint = memory->toolTip();
    const auto rename = [this](const QString& name) {
        window->presets().Rename(2);
        Entry("MemoryNameEdit")->setText(name);
        QTest::keyClick(Entry("MemoryNameEdit"), Qt::Key_Return);
        QApplication::processEvents();
    };
    rename("Short");
    EXPECT_EQ(Caption(2), "Short");
    EXPECT_EQ(memory->toolTip(), hint);
    const int width = window->width();
    const int wanted = window->sizeHint().width();

    rename(QString(200, 'W'));
    EXPECT_EQ(window->width(), width);
    EXPECT_EQ(window->sizeHint().width(), wanted);
    EXPECT_TRUE(Caption(2).endsWith(QChar(0x2026))) << Caption(2).toStdString();
    EXPECT_LE(memory->fontMetrics().horizontalAdvance(Caption(2)), memory->width());
    EXPECT_EQ(memory->toolTip(),
              Qt::convertFromPlainText(QString(200, 'W') + "\n" +
                                       "Recall Stored Preset (Right-click to Store)"));

    // Renamed back, the name is whole again and the hint is the button's own.
    rename("Short");
    EXPECT_EQ(Caption(2), "Short");
    EXPECT_EQ(memory->toolTip(), hint);
    EXPECT_EQ(window->sizeHint().width(), wanted);

    // A name is text: markup shows as written, "&" as itself (not a mnemonic).
    rename("<b>x</b> & y");
    EXPECT_EQ(Caption(2), "<b>x</b> && y");
    const QString marked = QString(60, 'W') + "<img src=\"/etc/passwd\"><b>x</b>";
    rename(marked);
    QTextDocument shown;
    shown.setHtml(memory->toolTip());
    EXPECT_TRUE(shown.toPlainText().startsWith(marked)) << shown.toPlainText().toStdString();
}

// Ctrl+Z resets; right after, Ctrl+Z (or "Undo Reset") brings the values
// back. Once anything changes, Ctrl+Z resets again.
TEST_F(PresetsTest, AResetCanBeUndoneUntilSomethingChanges) {
    TypeAndLeave("AmplitudeLeft", "-12");
    TypeAndLeave("Duration", "3");
    Pick("cboChannels", kStereo);
    Pick("WaveFormRight", kWhiteNoise);
    Pick("WaveDevice", 1);
    const GeneratorSettings before = window->model().values();
    QAction* undo = window->findChild<QAction*>("mnuUndoReset");
    EXPECT_FALSE(undo->isEnabled());

    QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "0");
    EXPECT_EQ(window->model().values().channelMode, kMono);
    EXPECT_TRUE(undo->isEnabled());

    QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_TRUE(window->model().values() == before);
    EXPECT_EQ(Entry("AmplitudeLeft")->text(), "-12");
    EXPECT_EQ(List("WaveDevice")->currentIndex(), 1);
    EXPECT_EQ(window->audioOut().WaveDevice(), 0u);
    EXPECT_FALSE(undo->isEnabled());

    // A reset, then a change: Ctrl+Z resets again and the undo is gone.
    window->findChild<QAction*>("mnuResetSettings")->trigger();
    TypeAndLeave("Duration", "5");
    EXPECT_FALSE(undo->isEnabled());
    QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(Entry("Duration")->text(), "10");
    undo->trigger();
    EXPECT_EQ(Entry("Duration")->text(), "5");
}

TEST_F(PresetsTest, FileMenuSavesAndLoadsTheSlots) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PresetSlots& memory = window->presets().records();
    memory[0] = kDistinct;
    const QStringList names = {"Alpha", "Beta", "Gamma", "Delta"};
    for (int i = 0; i < 4; ++i) {
        memory[i].name = names[i].toStdString();
    }
    const PresetSlots saved = memory;

    window->findChild<QPushButton*>("btnON")->click();
    dialogs.paths = {dir.filePath("set")};
    window->findChild<QAction*>("SavePresetsAs1")->trigger();
    EXPECT_FALSE(window->audioOut().Running());
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    const Dialogs::FileDialogOptions& save = dialogs.fileDialogs[0];
    EXPECT_EQ(QStringList({save.title, save.filterName, save.filterPattern}),
              QStringList({"Save VLM presets", "VLM presets", "*.vlm"}));
    EXPECT_FALSE(save.confirmOverwrite);
    const QString file = dir.filePath("set.vlm");
    EXPECT_EQ(QFileInfo(file).size(), qint64(kPresetFileSize));

    window->presets().FillFromWindow();
    dialogs.paths = {file};
    window->findChild<QAction*>("LoadPresets1")->trigger();
    ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
    const Dialogs::FileDialogOptions& open = dialogs.fileDialogs[1];
    EXPECT_EQ(QStringList({open.title, open.filterName, open.filterPattern}),
              QStringList({"Open preset file", "Velmor Presets", "*.vlm"}));
    EXPECT_EQ(memory, saved);
    EXPECT_EQ(QStringList({Caption(1), Caption(2), Caption(3), Caption(4)}), names);
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();

    dialogs.paths = {dir.filePath("missing.vlm")};
    window->findChild<QAction*>("LoadPresets1")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.Last().contains("missing.vlm")) << dialogs.Last().toStdString();
    EXPECT_EQ(memory, saved);
    EXPECT_EQ(Caption(1), "Alpha");

    // Only a mono byte of 1 means Mono; slot 3's is made 2.
    QFile bytes(file);
    ASSERT_TRUE(bytes.open(QIODevice::ReadWrite));
    ASSERT_TRUE(bytes.seek(kPresetHeaderSize + 2 * kPresetRecordSize + preset_record::kMono));
    ASSERT_EQ(bytes.write("\x02", 1), 1);
    bytes.close();
    dialogs.paths = {file};
    window->findChild<QAction*>("LoadPresets1")->trigger();
    window->RecallMemory(4);
    EXPECT_EQ(List("cboChannels")->currentIndex(), kMono);
    window->RecallMemory(3);
    EXPECT_EQ(List("cboChannels")->currentIndex(), kStereo);

    const QString taken = dir.filePath("taken.vlm");  // a folder in the file's place
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken.vlm"));
    dialogs.paths = {taken};
    window->findChild<QAction*>("SavePresetsAs1")->trigger();
    EXPECT_EQ(dialogs.Last(), "Cannot replace file \"" + taken + "\". Is a directory.");
    EXPECT_TRUE(QFileInfo(taken).isDir());
}

}  // namespace
}  // namespace skarnel::testing
