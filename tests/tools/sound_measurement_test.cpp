// The generated sound measured: crest factors against the help page's table,
// the filters' responses against their designs, and the colour of pink noise.
// Signals are rendered as skarnel-render renders them (its options, its engine
// set-up and the WAV writer, with a generator starting where a new process's
// does), so every figure here can be reproduced with `skarnel-render --stats`.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/crest_modulation.h"
#include "engine/uniform_random.h"
#include "export/byte_sink.h"
#include "export/wave_writer.h"
#include "render/render_options.h"
#include "render/render_stats.h"
#include "settings/choice_lists.h"

namespace skarnel {
namespace {

class DiscardSink : public ByteSink {
public:
    bool Write(const std::uint8_t*, std::size_t) override { return true; }
    bool Flush() override { return true; }
};

struct Rendered {
    std::unique_ptr<render::RenderMeasurement> measurement;
    ChannelEngineState left;  // the left chain's design, as prepared

    const SignalAnalyzer& analyzer() const { return measurement->analyzer; }
};

// Renders a mono signal from skarnel-render's options into an analyzer.
Rendered Render(const std::string& options) {
    std::istringstream words("skarnel-render " + options + " unused.wav");
    const std::vector<std::string> args{std::istream_iterator<std::string>(words),
                                        std::istream_iterator<std::string>()};
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    const render::ParseResult parsed =
        render::ParseRenderOptions(static_cast<int>(argv.size()), argv.data());
    if (!parsed.options) {
        throw std::invalid_argument(options + ": " + parsed.error);
    }
    UniformRandom random;  // where a new process's generator starts
    SignalEngine engine(random);
    const long double seconds = render::ConfigureEngine(*parsed.options, engine);
    Rendered rendered;
    rendered.left = engine.state.left();
    rendered.measurement = std::make_unique<render::RenderMeasurement>(
        parsed.options->sampleRate, 1, WaveFrameCount(seconds, parsed.options->sampleRate));
    DiscardSink sink;
    const WaveWriteResult result =
        WriteWaveStream(engine, sink, seconds, rendered.measurement->Hooks());
    EXPECT_EQ(result.status, WaveWriteStatus::kCompleted) << options;
    return rendered;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// --- Crest factors on the help page ----------------------------------------

struct PageRow {
    std::string choice;
    std::string whiteExponent, pinkExponent;
    std::string whiteRatio, whiteDb, pinkRatio, pinkDb;
};

struct CrestPage {
    std::vector<PageRow> rows;
    std::string seconds, rate;  // what the measurement sentence names
};

CrestPage ReadCrestPage() {
    std::ifstream in(SKARNEL_HELP_DIR "/crest_factor.md");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    CrestPage page;
    const std::regex row(
        R"(\| ([0-9.]+:1) \| ([0-9.]+)[^|]*\| ([0-9.]+) \| ([0-9.]+):1 \(([0-9.]+) dB\) \| )"
        R"(([0-9.]+):1 \(([0-9.]+) dB\) \|)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), row);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        page.rows.push_back({m[1], m[2], m[3], m[4], m[5], m[6], m[7]});
    }
    std::smatch sentence;
    if (std::regex_search(text, sentence,
                          std::regex(R"(peak to RMS of\s+([0-9]+)\s+seconds of noise at\s+)"
                                     R"(([0-9]+)\s+Hz and\s+0\s+dBFS)"))) {
        page.seconds = sentence[1];
        page.rate = sentence[2];
    }
    return page;
}

// Each crest choice of each noise function, unfiltered at 0 dBFS over the
// page's duration and rate: the printed ratio (2 decimals) and dB (1 decimal)
// are the measurement rounded the same way. The exponents the page names are
// the engine's.
TEST(SoundMeasurement, CrestFactorsAreThoseOnTheHelpPage) {
    const CrestPage page = ReadCrestPage();
    ASSERT_EQ(page.rows.size(), kCrestFactorItems.size());
    ASSERT_FALSE(page.seconds.empty()) << "the sentence naming the measurement";
    for (std::size_t i = 0; i < page.rows.size(); ++i) {
        const PageRow& row = page.rows[i];
        EXPECT_EQ(row.choice, kCrestFactorItems[i]);
        EXPECT_EQ(std::stof(row.whiteExponent), kCrestExponentsWhite[i]) << row.choice;
        EXPECT_EQ(std::stof(row.pinkExponent), kCrestExponentsPink[i]) << row.choice;
        for (const bool white : {true, false}) {
            const Rendered r =
                Render("-r " + page.rate + " -d " + page.seconds + " --left-noise " +
                       (white ? "white" : "pink") + " --left-crest " + std::to_string(i));
            const LevelFigures f = r.analyzer().meter(0).SinceReset();
            const std::string what = std::string(white ? "white " : "pink ") + kCrestFactorItems[i];
            std::printf("%s: crest %.4f:1 (%.3f dB), RMS %.3f dBFS, peak %.3f dBFS\n", what.c_str(),
                        f.crestRatio, f.crestDb, f.rmsDbfs, f.peakDbfs);
            EXPECT_EQ(white ? row.whiteRatio : row.pinkRatio, Fixed(f.crestRatio, 2)) << what;
            EXPECT_EQ(white ? row.whiteDb : row.pinkDb, Fixed(f.crestDb, 1)) << what;
        }
    }
}

// --- Filter responses ---------------------------------------------------------

// The biquad's numerator and denominator at `hz`, normalised to a0 = 1.
struct Response {
    std::complex<double> numerator, denominator;
};

Response ResponseAt(const ChannelEngineState& c, double hz, int sampleRate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / sampleRate);
    const std::complex<double> z2 = z1 * z1;
    return {(c.b0 + c.b1 * z1 + c.b2 * z2) / c.a0, (c.a0 + c.a1 * z1 + c.a2 * z2) / c.a0};
}

// The FFT bins whose centres lie within a twelfth of an octave of `hz`.
std::vector<std::size_t> BinsAround(const SpectrumAnalyzer& s, double hz) {
    std::vector<std::size_t> bins;
    const double edge = std::pow(2.0, 1.0 / 12.0);
    for (auto k = static_cast<std::size_t>(std::ceil(hz / edge / s.binHz()));
         static_cast<double>(k) * s.binHz() <= hz * edge; ++k) {
        bins.push_back(k);
    }
    return bins;
}

// White noise at -20 dBFS through each filter type at 1 kHz (Q 1, +-10 dB for
// the peaking filter) against the same noise unfiltered: the same generator
// start draws the same noise, so the ratio of the two spectra is the filter's
// response. Measured over the bins within 1/12 octave, it agrees within
// 0.5 dB with the design's |H(e^jw)|^2 over the same bins.
//
// The filter rounds every output and feeds the rounded value back, which adds
// white rounding noise (1/12 LSB^2) shaped by 1/A(z). Where a filter takes
// 36 dB off noise already 20 dB below full scale this noise is only a few dB
// under the signal, so it belongs to what the design predicts.
TEST(SoundMeasurement, FilterResponsesFollowTheirDesigns) {
    constexpr double kToleranceDb = 0.5;
    constexpr int kRate = 48000;
    const std::string signal =
        "-r 48000 -d 30 --left-noise white --left-crest 1.42:1 --left-amplitude -20 "
        "--left-freq 1000 --left-q 1";
    const Rendered unfiltered = Render(signal);
    const SpectrumAnalyzer& reference = unfiltered.analyzer().spectrum(0);
    ASSERT_GT(reference.transforms(), 0u);
    // The rounding noise's mean square per bin, one-sided, relative to full
    // scale (the analyzer's bins add up to the mean square).
    const double roundingPerBin = 2.0 / 12.0 / reference.fftSize() / (32768.0 * 32768.0);
    for (const std::string filter : {"none", "peaking --left-gain 10", "peaking --left-gain -10",
                                     "highpass", "lowpass", "bandpass", "notch"}) {
        const Rendered filtered = Render(signal + " --left-filter " + filter);
        const SpectrumAnalyzer& spectrum = filtered.analyzer().spectrum(0);
        std::string line = "filter " + filter + ":";
        for (const double hz : {125.0, 500.0, 1000.0, 2000.0, 8000.0}) {
            double measured = 0.0, input = 0.0, designed = 0.0, rounding = 0.0;
            for (const std::size_t k : BinsAround(spectrum, hz)) {
                measured += spectrum.BinPower(k);
                input += reference.BinPower(k);
                if (filter == "none") {
                    designed += reference.BinPower(k);
                    continue;
                }
                const Response r =
                    ResponseAt(filtered.left, static_cast<double>(k) * spectrum.binHz(), kRate);
                designed += std::norm(r.numerator / r.denominator) * reference.BinPower(k);
                rounding += roundingPerBin / std::norm(r.denominator);
            }
            const double measuredDb = 10.0 * std::log10(measured / input);
            const double designDb = 10.0 * std::log10(designed / input);
            const double expectedDb = 10.0 * std::log10((designed + rounding) / input);
            line += "\n  " + Fixed(hz, 0) + " Hz: measured " + Fixed(measuredDb, 2) +
                    " dB, design " + Fixed(designDb, 2) + " dB, with rounding noise " +
                    Fixed(expectedDb, 2) + " dB";
            EXPECT_NEAR(measuredDb, expectedDb, kToleranceDb) << filter << " at " << hz << " Hz";
        }
        std::printf("%s\n", line.c_str());
    }
}

// --- Pink noise ------------------------------------------------------------

// Pink noise's power density falls 3 dB per octave (10 log10 2), so its
// third-octave bands, a third of an octave wide each, hold the same power:
// from 4:1 up, the band levels from 63 Hz to 8 kHz lie within +-1 dB of one
// flat level (their spread is at most 2 dB). The slope of the power density,
// from a line fitted to the band levels against log2 of the frequency (its
// slope minus 3.01 dB), is printed with it. The lower choices bend the top
// octave upwards; their figures are printed, not checked.
TEST(SoundMeasurement, PinkNoiseFallsThreeDecibelsPerOctave) {
    constexpr double kFlatWithinDb = 1.0;
    const double kPinkSlope = -10.0 * std::log10(2.0);
    for (std::size_t i = 0; i < kCrestFactorItems.size(); ++i) {
        const Rendered r =
            Render("-r 48000 -d 60 --left-noise pink --left-crest " + std::to_string(i));
        const SpectrumAnalyzer& s = r.analyzer().spectrum(0);
        std::vector<double> levels;
        s.BandLevels(SpectrumAnalyzer::Average::kSinceReset, levels);
        std::vector<double> x, y;
        for (std::size_t b = 0; b < levels.size(); ++b) {
            const double centre = s.bandCentres()[b];
            if (centre > 60.0 && centre < 8100.0) {
                x.push_back(std::log2(centre));
                y.push_back(levels[b]);
            }
        }
        ASSERT_EQ(x.size(), 22u);  // 63 Hz .. 8 kHz
        const auto n = static_cast<double>(x.size());
        double mx = 0, my = 0;
        for (std::size_t j = 0; j < x.size(); ++j) {
            mx += x[j] / n;
            my += y[j] / n;
        }
        double sxy = 0, sxx = 0;
        for (std::size_t j = 0; j < x.size(); ++j) {
            sxy += (x[j] - mx) * (y[j] - my);
            sxx += (x[j] - mx) * (x[j] - mx);
        }
        const auto [low, high] = std::minmax_element(y.begin(), y.end());
        const double spread = *high - *low;
        std::printf(
            "pink %s: slope %.2f dB/oct, 63 Hz .. 8 kHz spread %.2f dB (%.1f .. %.1f dBFS)\n",
            kCrestFactorItems[i], sxy / sxx + kPinkSlope, spread, *low, *high);
        if (i >= 3) {  // 4:1 and above
            EXPECT_LE(spread, 2.0 * kFlatWithinDb) << "pink " << kCrestFactorItems[i];
        }
    }
}

}  // namespace
}  // namespace skarnel
