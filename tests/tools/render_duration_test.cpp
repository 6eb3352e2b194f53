// --duration's forms: what each text reads as, and that the period then goes
// through the window's validation as a number of seconds always did.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/wave_writer.h"
#include "numtext/number_reader.h"
#include "render/duration_text.h"
#include "render/render_options.h"

namespace skarnel::render {
namespace {

ParseResult Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "skarnel-render");
    words.push_back("out.wav");
    std::vector<const char*> argv;
    for (const std::string& w : words) {
        argv.push_back(w.c_str());
    }
    return ParseRenderOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(DurationText, ClockFormsAddUpToSeconds) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"1:30", "90"},          {"01:30.250", "90.250"},
        {"0:05", "5"},           {"1:5", "65"},  // sox reads a short field too
        {"1:02:03.5", "3723.5"}, {"24:00:00", "86400"},
        {"90:00", "5400"},   // the first field may pass 59
        {"0:59,5", "59.5"},  // the decimal comma the other numbers take
        {"100:00:00", "360000"},
    };
    for (const auto& [text, seconds] : cases) {
        const DurationReading reading = ReadDuration(text, 48000);
        EXPECT_EQ(reading.problem, "") << text;
        EXPECT_EQ(reading.seconds, seconds) << text;
        EXPECT_FALSE(reading.frames.has_value()) << text;
    }
}

TEST(DurationText, FrameCountsAreFramesAtTheRate) {
    struct Case {
        std::string text;
        std::int32_t rate;
        std::string seconds;
    };
    const std::vector<Case> cases{
        {"48000s", 48000, "1"},
        {"48000s", 44100, "1.088435374149659863945578231292"},  // 30 places, cut
        {"44100s", 48000, "0.91875"},
        {"10s", 48000, "0.000208333333333333333333333333"},
        {"4147200000s", 48000, "86400"},
        {"0s", 8000, "0"},
    };
    for (const Case& c : cases) {
        const DurationReading reading = ReadDuration(c.text, c.rate);
        EXPECT_EQ(reading.problem, "") << c.text;
        EXPECT_EQ(reading.seconds, c.seconds) << c.text << " at " << c.rate;
        ASSERT_TRUE(reading.frames.has_value()) << c.text;
        EXPECT_EQ(std::to_string(*reading.frames) + "s", c.text);
    }
}

TEST(DurationText, PlainSecondsAreLeftToThePeriodsValidation) {
    for (const std::string text : {"90", "1.5", "1,5", "-5", "abc", "1e3"}) {
        const DurationReading reading = ReadDuration(text, 44100);
        EXPECT_EQ(reading.problem, "") << text;
        EXPECT_EQ(reading.seconds, text);
    }
}

TEST(DurationText, MalformedTextsSayWhatIsWrong) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", "empty"},
        {"1::2", "empty"},
        {":30", "empty"},
        {"1:", "empty"},
        {"0:60", "below 60"},
        {"1:60:00", "below 60"},
        {"1:2:3:4", "at most"},
        {"-1:30", "whole numbers"},
        {"1.5:30", "whole numbers"},
        {"1:30.", "fraction"},
        {"1:30.5.5", "fraction"},
        {"1:3 0", "whole numbers"},
        {"s", "whole number"},
        {"1.5s", "whole number"},
        {"-10s", "whole number"},
        {"1234567890123456789s", "too large"},
        {"9999999999999:00", "too large"},
    };
    for (const auto& [text, problem] : cases) {
        const DurationReading reading = ReadDuration(text, 48000);
        EXPECT_NE(reading.problem.find(problem), std::string::npos)
            << "'" << text << "': " << reading.problem;
        EXPECT_EQ(reading.seconds, "") << text;
    }
}

// Every form gives the period text that typing its seconds gives, so the
// frame counts (and the files) are the same.
TEST(DurationOption, EveryFormValidatesAsItsSeconds) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> same{
        {{"-d", "1:30"}, {"-d", "90"}},
        {{"-d", "0:00.1"}, {"-d", "0.1"}},
        {{"-d", "1:02:03.5"}, {"-d", "3723.5"}},
        {{"-r", "48000", "-d", "48000s"}, {"-r", "48000", "-d", "1"}},
        {{"-r", "44100", "-d", "4410s"}, {"-r", "44100", "-d", "0.1"}},
        {{"-r", "48000", "-d", "24:00:00"}, {"-r", "48000", "-d", "86400"}},
    };
    for (const auto& [form, seconds] : same) {
        const ParseResult a = Parse(form);
        const ParseResult b = Parse(seconds);
        ASSERT_TRUE(a.options.has_value()) << form[form.size() - 1] << ": " << a.error;
        ASSERT_TRUE(b.options.has_value()) << b.error;
        EXPECT_EQ(a.options->settings.period, b.options->settings.period) << form.back();
        EXPECT_EQ(a.error, "") << form.back();
    }
}

TEST(DurationOption, RefusedDurationsNameTheTextAndExitWithTwo) {
    const std::vector<std::vector<std::string>> cases{
        {"-d", "1::2"},                // malformed
        {"-d", "0:60"},                // seconds field past 59
        {"-d", "abc"},                 // no form at all
        {"-d", "-5"},                  // negative
        {"-d", "0:00.05"},             // below 0.1 s
        {"-r", "48000", "-d", "10s"},  // 10 frames: far below 0.1 s
        {"-d", "1e39"},                // beyond what a period can hold
    };
    for (const std::vector<std::string>& words : cases) {
        const ParseResult result = Parse(words);
        EXPECT_FALSE(result.options.has_value()) << words.back();
        EXPECT_EQ(result.exitCode, kExitUsage) << words.back();
        EXPECT_NE(result.error.find("--duration: '" + words.back() + "'"), std::string::npos)
            << result.error;
        EXPECT_NE(result.error.find("H:MM:SS"), std::string::npos) << result.error;
    }
}

// The period is held as the window holds it (float seconds, 10 decimals):
// a frame count it cannot hold exactly is rendered as the nearest it holds,
// and the user is told which.
TEST(DurationOption, AFrameCountThePeriodCannotHoldIsNamedInANote) {
    const ParseResult exact = Parse({"-r", "48000", "-d", "8000000s"});
    ASSERT_TRUE(exact.options.has_value());
    EXPECT_EQ(WaveFrameCount(ReadNumber(exact.options->settings.period), 48000), 8000000);
    EXPECT_EQ(exact.error, "");

    const ParseResult inexact = Parse({"-r", "48000", "-d", "4147200001s"});
    ASSERT_TRUE(inexact.options.has_value()) << inexact.error;
    const std::int64_t rendered =
        WaveFrameCount(ReadNumber(inexact.options->settings.period), 48000);
    EXPECT_NE(rendered, 4147200001);
    EXPECT_NE(inexact.error.find(std::to_string(rendered) + " frames are rendered"),
              std::string::npos)
        << inexact.error;
}

}  // namespace
}  // namespace skarnel::render
