// A slot of a preset file sounds the same whether the window recalls and
// exports it or skarnel-render renders it with --preset: both go through one
// recall, so high and low pass play with Q 1 in both, whatever Q the slot holds.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "engine/uniform_random.h"
#include "flat_preset.h"
#include "generator_fixture.h"
#include "persistence/preset_file.h"
#include "persistence/settings_store.h"

namespace skarnel::testing {
namespace {

// Four slots that reach every filter rule of a recall: high and low pass
// with a Q that is not 1 on both sides, "= Left" (the right filter stays the
// right one's), Mono, modulation, and texts the recall validates.
// clang-format off
const FlatPreset kSlots[4] = {
    {"HP left, LP right", "0.3", "-3.456", "-6", kWhiteNoise, kPinkNoise,
     false, false, true, true, false, true, "1", "0.25", "100", "60", kModSine, kModTriangular,
     "0", "90", 2, 5, false,
     kFilterHighPass, "500", "0", "3", kFilterLowPass, "2000", "0", "0.5"},
    {"LP mono", "0.25", "-1", "0", kPinkNoise, kWhiteNoise,
     true, true, true, true, true, false, "0.1", "1", "50", "100", kModSquare, kModSine,
     "45", "0", 4, 1, false,
     kFilterLowPass, "300", "0", "7", kFilterHighPass, "4000", "0", "12"},
    {"= Left, HP right", "0.2", "-12", "-40", kPinkNoise, kWhiteNoise,
     false, false, true, false, true, false, "0.05", "2", "80", "10", kModCosine, kModSquare,
     "30", "0", 6, 0, true,
     kFilterPeaking, "1000", "-6", "4", kFilterHighPass, "30000", "0", "2"},
    {"band pass and notch", "0.2", "0", "-0,5", kWhiteNoise, kWhiteNoise,
     false, false, false, true, false, false, "1", "1", "100", "100", kModSine, kModSine,
     "0", "0", 0, 3, false,
     kFilterBandPass, "700", "0", "0.3", kFilterNotch, "3000", "0", "150000"},
};
// clang-format on

class RecallRenderTest : public GeneratorTest {
protected:
    RecallRenderTest() {
        window->SetStore(&store);
        store.Save(SettingsKeyPath(), {FlagValue("CDformat", true)});  // no format hint
    }

    QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The window recalls the slot and exports it, drawing its noise from a
    // generator at the state a new process starts with, as skarnel-render does.
    QByteArray ExportFromWindow(int slot) {
        window->RecallMemory(slot);
        window->engine().random() = UniformRandom();
        const QString path = dir.filePath(QString("window%1.wav").arg(slot));
        dialogs.paths.push_back(path);
        window->findChild<QAction*>("SaveWaveFile1")->trigger();
        return Read(path);
    }

    QByteArray Render(const QString& presetFile, int slot) {
        const QString path = dir.filePath(QString("render%1.wav").arg(slot));
        QProcess render;
        render.start(SKARNEL_RENDER_PATH,
                     {"-r", QString::number(window->engine().state.sampleRate), "--preset",
                      presetFile, "--slot", QString::number(slot), path});
        EXPECT_TRUE(render.waitForFinished(30000));
        EXPECT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
        return Read(path);
    }

    MemorySettingsStore store;
    QTemporaryDir dir;
};

TEST_F(RecallRenderTest, EverySlotExportsTheBytesSkarnelRenderWrites) {
    PresetSlots presets;
    for (int s = 0; s < 4; ++s) {
        presets[s] = kSlots[s];
    }
    const QString file = dir.filePath("slots.vlm");
    ASSERT_EQ(SavePresetFile(file.toStdString(), presets), "");
    ASSERT_EQ(window->LoadPresets(file), "");

    for (int slot = 1; slot <= 4; ++slot) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const QByteArray exported = ExportFromWindow(slot);
        ASSERT_GT(exported.size(), 44);
        EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
        EXPECT_EQ(exported, Render(file, slot));
    }
    // The recall settled high and low pass on Q 1 in the window too, and the
    // export played them so.
    window->RecallMemory(1);
    EXPECT_EQ(Entry("txtQL")->text(), "1");
    EXPECT_EQ(Entry("txtQR")->text(), "1");
    window->PrepareEngineFromWindow();
    EXPECT_EQ(window->engine().state.left().filterQ, 1.0);
    EXPECT_EQ(window->engine().state.right().filterQ, 1.0);
}

}  // namespace
}  // namespace skarnel::testing
