#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include "generator/script_control.h"
#include "generator/script_window.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "generator_fixture.h"
#include "persistence/preset_file.h"
#include "platform/help_router.h"

namespace skarnel::testing {
namespace {

// A script plays two presets one after the other on a device that plays in
// real time: each period is played once (Loop forced off), the second only
// after the first has ended, and the window is as before afterwards.
TEST_F(GeneratorTest, ScriptPlaysTwoPresetsOnePeriodEach) {
    backend.SetPaced(true);
    settings->ui.cboFsList->setCurrentIndex(0);  // 8000 Hz
    settings->OnSampleRateChosen();
    settings->ui.cboBufferSize->setCurrentIndex(0);  // 4096 bytes: 2048 mono frames

    QTemporaryDir dir;
    PresetSlots first{}, second{};
    // Each period is longer than the first buffer (a start needs one filled
    // buffer) and ends within the four buffers queued at the start.
    GeneratorSettings& a = first[0].settings;
    GeneratorSettings& b = second[1].settings;
    a.period = "0.3";  // 2400 frames
    a.channels[kLeft].noiseFunction = kWhiteNoise;
    a.channels[kLeft].crestFactor = 0;
    a.channels[kLeft].amplitude = "-6.03";  // peaks below 16384
    b.period = "0.45";                      // 3600 frames
    b.channels[kLeft].crestFactor = 6;      // pink "10:1" at 0 dBFS
    ASSERT_EQ(SavePresetFile(dir.filePath("a.vlm").toStdString(), first), "");
    ASSERT_EQ(SavePresetFile(dir.filePath("b.vlm").toStdString(), second), "");
    const QString script = dir.filePath("two.wbs");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString("play 1 %1\r\nPLAY 2 %2\r\nend\r\n")
                   .arg(dir.filePath("a.vlm"), dir.filePath("b.vlm"))
                   .toUtf8());
    file.close();

    Box("Loop")->setChecked(true);
    window->scripts().Run(script);

    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Last().toStdString();
    EXPECT_TRUE(Box("Loop")->isChecked());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_FALSE(window->scripts().window().isVisible());
    EXPECT_FALSE(window->audioOut().Running());
    EXPECT_EQ(window->scripts().window().label(), "Line 3: end ");

    // Each start queues its four buffers; the period ends inside them, so the
    // device gets the period's frames and then silence, once per preset.
    const std::vector<std::uint8_t> played = backend.Played();
    constexpr std::size_t kFramesPerStart = 4 * 2048;
    ASSERT_EQ(played.size(), 2 * kFramesPerStart * 2);
    const auto sample = [&](std::size_t frame) {
        return static_cast<std::int16_t>(played[2 * frame] | (played[2 * frame + 1] << 8));
    };
    const std::size_t periods[2] = {2400, 3600};
    int loud[2] = {0, 0};
    for (int start = 0; start < 2; ++start) {
        const std::size_t base = start * kFramesPerStart;
        int silent = 0;
        for (std::size_t f = 0; f < periods[start]; ++f) {
            silent += sample(base + f) == 0;
            loud[start] += std::abs(sample(base + f)) > 16384;
        }
        EXPECT_LT(silent, 20) << "preset " << start + 1;
        for (std::size_t f = periods[start]; f < kFramesPerStart; ++f) {
            ASSERT_EQ(sample(base + f), 0) << "preset " << start + 1 << " frame " << f;
        }
    }
    EXPECT_EQ(loud[0], 0);  // the quiet white preset
    EXPECT_GT(loud[1], 0);  // then the full-scale pink one
}

// Next ends the script while its preset goes on playing to the end of its
// period; the Loop box ticked before the script comes back only then, or
// the preset would loop for ever.
TEST_F(GeneratorTest, ScriptNextLetsThePlayingPeriodEnd) {
    backend.SetPaced(true);
    settings->ui.cboFsList->setCurrentIndex(0);  // 8000 Hz
    settings->OnSampleRateChosen();
    settings->ui.cboBufferSize->setCurrentIndex(0);  // 4096 bytes: 2048 mono frames

    QTemporaryDir dir;
    PresetSlots presets{};
    presets[0].settings.period = "1.5";  // longer than the four buffers of a start
    ASSERT_EQ(SavePresetFile(dir.filePath("a.vlm").toStdString(), presets), "");
    const QString script = WriteScript(
        dir, "next.wbs", QString("play 1 %1\nend\n").arg(dir.filePath("a.vlm")).toUtf8());

    Box("Loop")->setChecked(true);
    QTimer::singleShot(300, window.get(), [this] {
        window->scripts().window().findChild<QPushButton*>("Button2")->click();  // Next
    });
    window->scripts().Run(script);
    ASSERT_TRUE(window->audioOut().Running()) << "Next must leave the preset playing";
    EXPECT_FALSE(Box("Loop")->isChecked());

    QElapsedTimer waited;
    waited.start();
    while (window->audioOut().Running() && waited.elapsed() < 5000) {
        QTest::qWait(20);
    }
    EXPECT_FALSE(window->audioOut().Running()) << "the period never ended";
    EXPECT_LT(waited.elapsed(), 2500);
    EXPECT_TRUE(Box("Loop")->isChecked());
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(GeneratorTest, ScriptFailureKeepsTheScriptWindowUntilClosed) {
    QTemporaryDir dir;
    const QString script =
        WriteScript(dir, "bad.wbs", "rem a delay that is no number\ndelay soon\nend\n");
    window->scripts().Run(script);
    EXPECT_EQ(dialogs.Last(), "'soon' is not a valid floating point value");
    EXPECT_TRUE(window->scripts().window().isVisible());
    EXPECT_FALSE(window->isEnabled());
    window->scripts().window().findChild<QPushButton*>("Button1")->click();  // Cancel
    EXPECT_TRUE(window->isEnabled());

    // The line shown is text from a file: never rendered as markup.
    const QString marked = WriteScript(dir, "marked.wbs", "delay <b>x</b><img src=x>\n");
    window->scripts().Run(marked);
    QLabel* line = window->scripts().window().findChild<QLabel*>("Label1");
    EXPECT_EQ(line->text(), "Line 1: delay <b>x</b><img");
    EXPECT_EQ(line->textFormat(), Qt::PlainText);
    window->scripts().window().findChild<QPushButton*>("Button1")->click();
}

// The script window belongs to the generator window for the whole run (a
// window manager keeps it above the generator), and F1 in a box of the
// script explains scripts.
TEST_F(GeneratorTest, ScriptWindowBelongsToTheGeneratorAndItsBoxesExplainScripts) {
    QTemporaryDir dir;
    const QString script = WriteScript(
        dir, "check.wbs", "pause Check the amplifier\ndelay 0.2\nplay 1 missing.vlm\nend\n");
    QWindow* owner = nullptr;
    QTimer::singleShot(
        100, [&] { owner = window->scripts().window().windowHandle()->transientParent(); });
    window->scripts().Run(script);
    EXPECT_EQ(owner, window->windowHandle()) << "during the delay after the pause box";
    EXPECT_EQ(dialogs.shown,
              (QStringList{"Check the amplifier", "FILE NOT FOUND: 'missing.vlm'."}));
    EXPECT_EQ(dialogs.contexts, (std::vector<int>{kScriptHelp, kScriptHelp}));
    EXPECT_EQ(HelpContext::Current(), kGeneratorHelp) << "the run's context outlived it";

    const Qt::WindowFlags flags = window->scripts().window().windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_FALSE(flags & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint));
}

}  // namespace
}  // namespace skarnel::testing
