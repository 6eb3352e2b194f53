// The meter and the spectrum on signals whose figures are known exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/expected_level.h"
#include "analysis/level_text.h"
#include "analysis/signal_analyzer.h"
#include "engine/live_settings.h"
#include "engine/uniform_random.h"

namespace skarnel {
namespace {

constexpr int kRate = 48000;

// One second of stereo frames: `left(n)` and `right(n)` as 16-bit samples.
template <typename Left, typename Right>
std::vector<std::int16_t> Stereo(int frames, Left left, Right right) {
    std::vector<std::int16_t> samples;
    for (int n = 0; n < frames; ++n) {
        samples.push_back(left(n));
        samples.push_back(right(n));
    }
    return samples;
}

std::int16_t FullScaleSine(double hz, int n) {
    return static_cast<std::int16_t>(
        std::lround(32767.0 * std::sin(2.0 * std::numbers::pi * hz * n / kRate)));
}

TEST(LevelMeter, KnownSignalsReadTheirFigures) {
    SignalAnalyzer analyzer({kRate, 2, 16});
    // Left a full-scale square wave (+32767/-32768, 100 Hz), right a
    // full-scale 1 kHz sine.
    const auto frames = Stereo(
        kRate, [](int n) { return static_cast<std::int16_t>((n / 240) % 2 ? -32768 : 32767); },
        [](int n) { return FullScaleSine(1000.0, n); });
    analyzer.Feed(frames.data(), kRate);
    EXPECT_EQ(analyzer.frames(), static_cast<std::uint64_t>(kRate));
    for (const LevelFigures& square :
         {analyzer.meter(0).SinceReset(), analyzer.meter(0).Window()}) {
        ASSERT_FALSE(square.silent);
        EXPECT_NEAR(square.rmsDbfs, 0.0, 0.001);
        EXPECT_NEAR(square.peakDbfs, 0.0, 1e-9);
        EXPECT_EQ(CrestRatioText(square.crestRatio), "1.00:1");
    }
    const LevelFigures sine = analyzer.meter(1).SinceReset();
    EXPECT_NEAR(sine.rmsDbfs, -3.0103, 0.001);
    EXPECT_NEAR(sine.peakDbfs, 0.0, 0.001);
    EXPECT_EQ(CrestRatioText(sine.crestRatio), "1.41:1");
    EXPECT_NEAR(sine.crestDb, 3.01, 0.005);
    EXPECT_EQ(DbfsText(sine.rmsDbfs), "-3.0");

    // Silence: no decibels, nothing that would print as -inf or NaN.
    analyzer.Reset();
    const std::vector<std::int16_t> silence(2 * 4800, 0);
    analyzer.Feed(silence.data(), 4800);
    EXPECT_TRUE(analyzer.meter(0).SinceReset().silent);
    EXPECT_TRUE(analyzer.meter(1).Window().silent);
    EXPECT_EQ(DbfsText(-INFINITY), "\u2014");
    EXPECT_EQ(CrestRatioText(NAN), "\u2014");
    std::vector<double> bands;
    analyzer.spectrum(0).BandLevels(SpectrumAnalyzer::Average::kRecent, bands);
    for (const double level : bands) {
        EXPECT_EQ(level, SpectrumAnalyzer::kFloorDb);
    }
}

// The window holds the last second only: after a loud second and a quiet
// one, the window reads the quiet level and the total both.
TEST(LevelMeter, TheWindowForgetsWhatIsOlderThanASecond) {
    LevelMeter meter(kRate);
    for (int n = 0; n < kRate; ++n) {
        meter.Add(n % 2 ? 16384 : -16384);  // -6.02 dBFS
    }
    for (int n = 0; n < kRate; ++n) {
        meter.Add(n % 2 ? 1638 : -1638);  // -26.02 dBFS
    }
    EXPECT_NEAR(meter.Window().rmsDbfs, -26.02, 0.01);
    EXPECT_NEAR(meter.Window().peakDbfs, -26.02, 0.01);
    EXPECT_NEAR(meter.SinceReset().rmsDbfs, 10 * std::log10((0.25 + 0.0025) / 2), 0.01);
    EXPECT_NEAR(meter.SinceReset().peakDbfs, -6.02, 0.01);
}

// Bands whose upper edge lies past the Nyquist frequency: only the last
// one at 8000 Hz (4 kHz, up to 4467 Hz), none up to 20 kHz at 48000 Hz.
TEST(SpectrumAnalyzer, OnlyABandThatReachesPastTheNyquistFrequencyIsPartial) {
    const std::vector<double> narrow = ThirdOctaveCentres(8000);
    for (std::size_t b = 0; b < narrow.size(); ++b) {
        EXPECT_EQ(ThirdOctaveBandIsPartial(narrow[b], 8000), b + 1 == narrow.size())
            << NominalBandText(narrow[b]);
    }
    EXPECT_EQ(NominalBandText(narrow.back()), "4k");
    for (const double centre : ThirdOctaveCentres(48000)) {
        EXPECT_FALSE(ThirdOctaveBandIsPartial(centre, 48000)) << centre;
    }
}

// Counts as the clip messages write them.
TEST(LevelText, CountsHaveThousandsSeparators) {
    EXPECT_EQ(GroupedCount(0), "0");
    EXPECT_EQ(GroupedCount(999), "999");
    EXPECT_EQ(GroupedCount(1000), "1,000");
    EXPECT_EQ(GroupedCount(1234567), "1,234,567");
    EXPECT_EQ(ClippedMessage(1234),
              "1,234 samples were clipped: lower the amplitude or the filter gain");
    EXPECT_EQ(ClippedMessage(1), "1 sample was clipped: lower the amplitude or the filter gain");
}

TEST(SpectrumAnalyzer, BandsHoldTheSignalsPowerWhereItLies) {
    const std::vector<double> centres = ThirdOctaveCentres(kRate);
    ASSERT_GE(centres.size(), 30u);
    EXPECT_NEAR(centres.front(), 19.95, 0.01);
    EXPECT_LT(centres.back(), kRate / 2.0);
    EXPECT_EQ(NominalBandText(centres.front()), "20");
    EXPECT_EQ(NominalBandText(centres[17]), "1k");
    EXPECT_EQ(NominalBandText(centres[18]), "1.25k");
    EXPECT_EQ(NominalBandText(centres[12]), "315");

    // A full-scale 1 kHz sine left, white noise at -20 dBFS RMS right.
    SignalAnalyzer analyzer({kRate, 2, 16});
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 3276.8);
    const auto frames = Stereo(
        4 * kRate, [](int n) { return FullScaleSine(1000.0, n); },
        [&](int) { return static_cast<std::int16_t>(std::lround(gauss(random))); });
    analyzer.Feed(frames.data(), 4 * kRate);
    std::vector<double> sine;
    std::vector<double> noise;
    analyzer.spectrum(0).BandLevels(SpectrumAnalyzer::Average::kSinceReset, sine);
    analyzer.spectrum(1).BandLevels(SpectrumAnalyzer::Average::kSinceReset, noise);
    EXPECT_NEAR(sine[17], -3.01, 0.05);
    EXPECT_LT(sine[15], -60.0);  // two bands away the window's leakage is gone
    EXPECT_LT(sine[19], -60.0);
    // The bands of white noise add up to its RMS level in the share of the
    // spectrum they cover (20 Hz to the top band's upper edge, 22.4 kHz), and
    // each holds a share in proportion to its width.
    double total = 0.0;
    for (const double level : noise) {
        total += std::pow(10.0, level / 10.0);
    }
    const double low = centres.front() * std::pow(10.0, -0.05);
    const double high = centres.back() * std::pow(10.0, 0.05);
    EXPECT_NEAR(
        10 * std::log10(total),
        analyzer.meter(1).SinceReset().rmsDbfs + 10 * std::log10((high - low) / (kRate / 2.0)),
        0.1);
    const double bandwidth1k = 1000.0 * (std::pow(10.0, 0.05) - std::pow(10.0, -0.05));
    EXPECT_NEAR(noise[17], -20.0 + 10 * std::log10(bandwidth1k / (kRate / 2.0)), 0.5);
    // The fine curve runs along the bands' tops: its eight points within the
    // 1 kHz band hold on average what the band holds.
    std::vector<double> fine;
    analyzer.spectrum(1).FineLevels(SpectrumAnalyzer::Average::kSinceReset, fine);
    const auto& fineHz = analyzer.spectrum(1).fineFrequencies();
    ASSERT_EQ(fine.size(), fineHz.size());
    const auto at1k = static_cast<std::size_t>(std::lround(24 * std::log2(1000.0 / 20.0)));
    EXPECT_NEAR(fineHz[at1k], 1000.0, 15.0);
    double mean = 0.0;
    for (std::size_t i = at1k - 4; i < at1k + 4; ++i) {
        mean += std::pow(10.0, fine[i] / 10.0) / 8.0;
    }
    EXPECT_NEAR(10 * std::log10(mean), noise[17], 0.3);
}

// Left out while the view is hidden, the spectrum holds nothing of what
// played meanwhile, and starts afresh when turned on, with no transform
// across the gap; the meters count every frame throughout.
TEST(SignalAnalyzer, TheSpectrumRestsWhileTheMetersRun) {
    SignalAnalyzer analyzer({kRate, 1, 16});
    const auto second = [&](double hz) {
        std::vector<std::int16_t> samples(kRate);
        for (int n = 0; n < kRate; ++n) {
            samples[static_cast<std::size_t>(n)] = FullScaleSine(hz, n);
        }
        analyzer.Feed(samples.data(), samples.size());
    };
    second(1000.0);
    const std::uint64_t transforms = analyzer.spectrum(0).transforms();
    EXPECT_GT(transforms, 0u);
    analyzer.SetSpectrumOn(false);
    second(5000.0);
    EXPECT_EQ(analyzer.spectrum(0).transforms(), transforms);
    analyzer.SetSpectrumOn(true);
    second(5000.0);
    std::vector<double> bands;
    analyzer.spectrum(0).BandLevels(SpectrumAnalyzer::Average::kSinceReset, bands);
    EXPECT_NEAR(bands[24], -3.01, 0.1);  // 5 kHz
    EXPECT_LT(bands[17], -60.0);         // nothing left of the 1 kHz second
    EXPECT_LT(bands[20], -60.0);         // nor of a transform across the gap
    EXPECT_EQ(analyzer.frames(), 3u * kRate);
    EXPECT_NEAR(analyzer.meter(0).SinceReset().rmsDbfs, -3.01, 0.01);
}

// Frames fed in pieces of any size, 8-bit or 16-bit, give exactly what
// adding their samples one at a time gives: the figures, the window's
// blocks, every transform and every bin's power.
TEST(SignalAnalyzer, PiecesOfAnySizeMeasureAsSampleBySample) {
    std::mt19937 draw(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    constexpr int kFrames = 3 * kRate + 1234;
    std::vector<std::int16_t> frames(2 * static_cast<std::size_t>(kFrames));
    for (std::int16_t& s : frames) {
        s = static_cast<std::int16_t>(sample(draw) / (1 + (&s - frames.data()) % 7));
    }
    constexpr int kFft = 1024;
    std::array<LevelMeter, 2> meters{LevelMeter(kRate), LevelMeter(kRate)};
    std::array<SpectrumAnalyzer, 2> oneByOne{SpectrumAnalyzer(kRate, kFft),
                                             SpectrumAnalyzer(kRate, kFft)};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        meters[i % 2].Add(frames[i]);
        oneByOne[i % 2].Add(frames[i]);
    }
    SignalAnalyzer pieces({kRate, 2, 16}, kFft);
    std::uniform_int_distribution<std::size_t> length(0, 3000);
    for (std::size_t done = 0; done < static_cast<std::size_t>(kFrames);) {
        const std::size_t piece = std::min(length(draw), kFrames - done);
        pieces.Feed(frames.data() + 2 * done, piece);
        done += piece;
    }
    EXPECT_EQ(pieces.frames(), static_cast<std::uint64_t>(kFrames));
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        const auto same = [](const LevelFigures& a, const LevelFigures& b) {
            EXPECT_EQ(a.silent, b.silent);
            EXPECT_EQ(a.rmsDbfs, b.rmsDbfs);
            EXPECT_EQ(a.peakDbfs, b.peakDbfs);
        };
        same(pieces.meter(c).SinceReset(), meters[c].SinceReset());
        same(pieces.meter(c).Window(), meters[c].Window());
        const SpectrumAnalyzer& spectrum = pieces.spectrum(c);
        ASSERT_EQ(spectrum.transforms(), oneByOne[c].transforms());
        ASSERT_GT(spectrum.transforms(), 200u);
        for (std::size_t bin = 0; bin <= kFft / 2; ++bin) {
            ASSERT_EQ(spectrum.BinPower(bin), oneByOne[c].BinPower(bin)) << "bin " << bin;
        }
        std::vector<double> recent;
        std::vector<double> expected;
        spectrum.FineLevels(SpectrumAnalyzer::Average::kRecent, recent);
        oneByOne[c].FineLevels(SpectrumAnalyzer::Average::kRecent, expected);
        EXPECT_EQ(recent, expected);
    }

    // An 8-bit device's bytes read as the 16-bit values they stand for.
    std::vector<std::uint8_t> bytes(2 * 5000);
    for (std::uint8_t& b : bytes) {
        b = static_cast<std::uint8_t>(sample(draw) & 0xff);
    }
    SignalAnalyzer eight({kRate, 2, 8}, kFft);
    eight.Feed(bytes.data(), bytes.size());
    LevelMeter left(kRate);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        left.Add(static_cast<std::int16_t>((bytes[i] - 128) * 256));
    }
    EXPECT_EQ(eight.frames(), 5000u);
    EXPECT_EQ(eight.meter(0).SinceReset().rmsDbfs, left.SinceReset().rmsDbfs);
    EXPECT_EQ(eight.meter(0).SinceReset().peakDbfs, left.SinceReset().peakDbfs);
}

}  // namespace
}  // namespace skarnel

namespace skarnel {
namespace {

// The readout beside the level entry: the known figures of the example
// presets, from an engine and generator of its own, so measuring leaves the
// program's generator (and with it every signal it plays) untouched.
TEST(ExpectedLevel, MatchesTheSignalAndLeavesTheProgramsGeneratorAlone) {
    const std::uint32_t before = ProcessRandom().seed();
    const double pink6 = RmsBelowAmplitudeDb(kPinkNoise, 4);    // "6:1"
    const double pink4 = RmsBelowAmplitudeDb(kPinkNoise, 3);    // "4:1"
    const double white1 = RmsBelowAmplitudeDb(kWhiteNoise, 0);  // "1.42:1", unshaped
    EXPECT_EQ(ProcessRandom().seed(), before);
    EXPECT_NEAR(pink6, -15.35, 0.1);  // 15.3 to 15.4 dB over a few seconds
    // "Pink -20 dBFS RMS" plays pink 4:1 at -8.1 dBFS.
    EXPECT_NEAR(-8.1 + pink4, -20.0, 0.1);
    // Evenly spread values: RMS 1/sqrt(3) of the peak, -4.77 dB.
    EXPECT_NEAR(white1, -4.77, 0.05);
    EXPECT_EQ(RmsBelowAmplitudeDb(kPinkNoise, 4), pink6);  // measured once
    EXPECT_EQ(RmsBelowAmplitudeDb(7, 99), 0.0);
}

}  // namespace
}  // namespace skarnel
