// The progress line's figures, and when the meter writes it: never for a
// short render, then at most a few times a second, ended by one newline.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/progress_meter.h"

namespace skarnel::render {
namespace {

TEST(ProgressLine, ShowsShareSpeedAndTimeLeft) {
    // A quarter of 10 minutes of 48 kHz audio in 5 s: 30x real time, 15 s left.
    EXPECT_EQ(FormatProgressLine(7200000, 28800000, 48000, 5.0),
              " 25.0 %   30.0x real time   0:00:15 left");
    // A day of audio at 2x: 6 hours to go after half of it.
    EXPECT_EQ(FormatProgressLine(2073600000, 4147200000, 48000, 21600.0),
              " 50.0 %   2.0x real time   6:00:00 left");
    EXPECT_EQ(FormatProgressLine(4147200000, 4147200000, 48000, 600.0),
              "100.0 %   144.0x real time   0:00:00 left");
}

TEST(ProgressLine, NothingDoneYetHasNoSpeed) {
    EXPECT_EQ(FormatProgressLine(0, 1000, 8000, 2.0), "  0.0 %   --x real time   --:--:-- left");
    EXPECT_EQ(FormatProgressLine(500, 1000, 8000, 0.0), " 50.0 %   --x real time   --:--:-- left");
}

// A meter on a clock the test moves by hand.
struct MeterRun {
    double now = 100.0;
    std::vector<std::string> shown;
    ProgressMeter meter;

    explicit MeterRun(std::int64_t frames)
        : meter(
              frames, 4, 48000, [this] { return now; },
              [this](std::string_view text) { shown.emplace_back(text); }) {}
};

TEST(ProgressMeter, AShortRenderShowsNothing) {
    MeterRun run(48000);
    run.now += 0.5;
    run.meter.Written(48000 * 4);
    run.meter.Finish(true);
    EXPECT_TRUE(run.shown.empty());
}

TEST(ProgressMeter, UpdatesInPlaceAtMostFourTimesASecondAndEndsTheLine) {
    const std::int64_t frames = 48000 * 600;
    MeterRun run(frames);
    // 10 minutes of stereo in 10 s (60x real time), in the renderer's runs of
    // 256 frames: a write every 89 us, which must not each read the clock.
    const std::uint64_t total = static_cast<std::uint64_t>(frames) * 4;
    const std::uint64_t step = 1024;
    const double tick = 10.0 * static_cast<double>(step) / static_cast<double>(total);
    int clockReads = 0;
    ProgressMeter counted(
        frames, 4, 48000,
        [&] {
            ++clockReads;
            return run.now;
        },
        [](std::string_view) {});
    for (std::uint64_t done = 0; done < total; done += step) {
        run.now += tick;
        run.meter.Written(step);
        counted.Written(step);
    }
    EXPECT_LE(clockReads, static_cast<int>(total / ProgressMeter::kCheckBytes) + 1);
    // Nothing in the first second, then one line per quarter second at most.
    ASSERT_GE(run.shown.size(), 30u);
    EXPECT_LE(run.shown.size(), 37u);
    for (const std::string& line : run.shown) {
        EXPECT_EQ(line.rfind("\rskarnel-render: ", 0), 0u) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
    EXPECT_NE(run.shown.back().find("60.0x real time"), std::string::npos) << run.shown.back();
    const std::size_t before = run.shown.size();
    run.meter.Finish(true);
    ASSERT_EQ(run.shown.size(), before + 2);
    EXPECT_NE(run.shown[before].find("100.0 %"), std::string::npos) << run.shown[before];
    EXPECT_EQ(run.shown.back(), "\n");
}

TEST(ProgressMeter, AFailedRenderKeepsItsLastFiguresAndEndsTheLine) {
    MeterRun run(48000 * 600);
    run.now += 2.0;
    run.meter.Written(48000 * 4 * 30);
    ASSERT_EQ(run.shown.size(), 1u);
    EXPECT_NE(run.shown[0].find("  5.0 %"), std::string::npos) << run.shown[0];
    run.meter.Finish(false);
    EXPECT_EQ(run.shown, (std::vector<std::string>{run.shown[0], "\n"}));
}

}  // namespace
}  // namespace skarnel::render
