// skarnel-render: the program run as a process (WAV layout, samples against an
// engine configured by hand, standard output, exit codes) and its option
// reading called directly.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "engine/reference_renderer.h"
#include "export/byte_sink.h"
#include "export/wave_writer.h"
#include "io/temporary_files.h"
#include "persistence/preset_file.h"
#include "render/render_options.h"

#include "render_tool_fixture.h"

namespace skarnel {
namespace {

using namespace render_test;

// A channel as the engine sees it, written out by hand from the settings.
struct Channel {
    int noise = kPinkNoise;
    int crest = 4;  // "6:1"
    long double dBFS = 0;
    int filter = kFilterNone;
    FilterTexts texts{"1000", "1", "0"};
    bool mod = false;
    int modFunction = kModSine;
    long double period = 1, depth = 100, phase = 0;
    bool on = true;
};

// An engine on `random` configured by hand from the settings and prepared.
void Configure(SignalEngine& engine, int mode, std::int32_t rate, const Channel& left,
               const Channel& right) {
    engine.state.sampleRate = rate;
    engine.live.channelMode = mode;
    for (int c = 0; c < kChannelCount; ++c) {
        const Channel& s = c == kLeft ? left : right;
        engine.live.noiseFunction[c] = s.noise;
        engine.live.filterType[c] = s.filter;
        engine.live.modulationOn[c] = s.mod;
        engine.live.modFunction[c] = s.modFunction;
        ChannelEngineState& ch = engine.state.channels[c];
        ch.crestExponent = SelectCrestExponent(s.noise, s.crest, 0.0f);
        ch.linearAmplitude = LinearAmplitude(s.dBFS);
        ch.modPeriod = ModPeriodSeconds(s.period);
        ch.modDepth = ModDepthFraction(s.depth);
        ch.modPhase = ModPhaseRadians(s.phase);
        ch.gate = s.on ? 1 : 0;
    }
    PrepareEngine(engine.state, engine.live, {"10", {left.texts, right.texts}}, nullptr);
}

// The WAV a fresh process's first rendering gives: the engine on a generator
// that starts at state 0.
Bytes Reference(int mode, std::int32_t rate, long double seconds, const Channel& left,
                const Channel& right = {}) {
    UniformRandom random;
    SignalEngine engine(random);
    Configure(engine, mode, rate, left, right);
    MemorySink sink;
    EXPECT_EQ(WriteWaveStream(engine, sink, seconds).status, WaveWriteStatus::kCompleted);
    return sink.bytes;
}

// The samples of the same first rendering before they are narrowed to 16
// bits (the reference renderer's values, gates applied), interleaved as the
// file holds them: what the file would hold if 16 bits had no limits.
std::vector<std::int64_t> Unnarrowed(int mode, std::int32_t rate, std::int64_t frames,
                                     const Channel& left, const Channel& right = {}) {
    UniformRandom random;
    SignalEngine engine(random);
    Configure(engine, mode, rate, left, right);
    std::vector<std::int64_t> samples;
    for (std::int64_t i = 0; i < frames; ++i) {
        if (mode != kStereo) {
            samples.push_back(ReferenceRenderSample(engine, left.noise));
        } else {
            samples.push_back(std::int64_t{ReferenceRenderSample(engine, left.noise)} *
                              engine.state.left().gate);
            samples.push_back(
                std::int64_t{ReferenceRenderSample(engine, right.noise + kRightSourceOffset)} *
                engine.state.right().gate);
        }
        AdvanceFrameCounter(engine.state.sampleCounter);
    }
    return samples;
}

// Equal WAVs; on a difference, where it starts rather than two byte dumps.
void ExpectSameWav(const Bytes& actual, const Bytes& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(diff.first == actual.end())
        << "first difference at byte " << (diff.first - actual.begin()) << " of " << actual.size();
}

void ExpectHeader(const Bytes& wav, int channels, std::uint32_t rate, std::uint32_t frames) {
    const std::uint32_t blockAlign = 2u * static_cast<std::uint32_t>(channels);
    const std::uint32_t data = frames * blockAlign;
    ASSERT_EQ(wav.size(), 44u + data);
    EXPECT_EQ(Tag(wav, 0), "RIFF");
    EXPECT_EQ(Le(wav, 4, 4), 36u + data);
    EXPECT_EQ(Tag(wav, 8), "WAVE");
    EXPECT_EQ(Tag(wav, 12), "fmt ");
    EXPECT_EQ(Le(wav, 16, 4), 16u);
    EXPECT_EQ(Le(wav, 20, 2), 1u);  // PCM
    EXPECT_EQ(Le(wav, 22, 2), static_cast<std::uint32_t>(channels));
    EXPECT_EQ(Le(wav, 24, 4), rate);
    EXPECT_EQ(Le(wav, 28, 4), rate * blockAlign);
    EXPECT_EQ(Le(wav, 32, 2), blockAlign);
    EXPECT_EQ(Le(wav, 34, 2), 16u);
    EXPECT_EQ(Tag(wav, 36), "data");
    EXPECT_EQ(Le(wav, 40, 4), data);
}

TEST_F(RenderTool, MonoWhiteFileHasTheLayoutAndTheEngineSamples) {
    const ProcessRun run = Render("-r 8000 -d 0.1 --left-noise white", Path("m.wav"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(run.err, "");
    const Bytes wav = ReadBytes(Path("m.wav"));
    ExpectHeader(wav, 1, 8000, 800);
    EXPECT_EQ(wav.size(), 1644u);
    const std::int16_t golden[] = {-32767, -10887, 129, -5, 0};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(static_cast<std::int16_t>(Le(wav, 44 + 2 * i, 2)), golden[i]) << "sample " << i;
    }
    ExpectSameWav(wav, Reference(kMono, 8000, 0.1L, {.noise = kWhiteNoise}));
}

// Texts needing rounding reach the engine rounded: -3.14159 dBFS as -3.14,
// Q 2.5000031 as 2.5, period 2.0004 s as 2.
TEST_F(RenderTool, StereoFileMatchesTheEngineWithEverySettingApplied) {
    const ProcessRun run = Render(
        "-r 11025 -d 0.2 -c stereo --left-crest 10:1 --left-amplitude -3.14159 --left-filter "
        "peaking --left-gain -10 --left-q 2.5000031 --left-mod --left-mod-function triangular "
        "--left-mod-period 2.0004 --right-noise white --right-crest 2 --right-filter highpass "
        "--right-freq 500 --right-mod --right-mod-function square --right-mod-period 0.05 "
        "--right-mod-depth 50 --right-mod-phase 90",
        Path("s.wav"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Bytes wav = ReadBytes(Path("s.wav"));
    ExpectHeader(wav, 2, 11025, 2205);
    const Channel left{.crest = 6,
                       .dBFS = -3.14L,
                       .filter = kFilterPeaking,
                       .texts = {"1000", "2.5", "-10"},
                       .mod = true,
                       .modFunction = kModTriangular,
                       .period = 2};
    const Channel right{.noise = kWhiteNoise,
                        .crest = 2,
                        .filter = kFilterHighPass,
                        .texts = {"500", "1", "0"},
                        .mod = true,
                        .modFunction = kModSquare,
                        .period = 0.05L,
                        .depth = 50,
                        .phase = 90};
    ExpectSameWav(wav, Reference(kStereo, 11025, 0.2L, left, right));
}

TEST_F(RenderTool, AsLeftCopiesTheLeftChannelButNotItsFilter) {
    const ProcessRun run = Render(
        "-r 8000 -d 0.25 -c stereo --as-left --left-noise white --left-crest 1.42:1 "
        "--left-amplitude -6 --left-filter notch --left-mod --left-mod-function cosine "
        "--left-mod-period 0.1 --left-mod-depth 80 --left-mod-phase 45 --right-crest 8:1 "
        "--right-amplitude -20 --right-mod-depth 10 --right-off --right-filter lowpass "
        "--right-freq 300",
        Path("a.wav"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Channel left{.noise = kWhiteNoise,
                 .crest = 0,
                 .dBFS = -6,
                 .filter = kFilterNotch,
                 .mod = true,
                 .modFunction = kModCosine,
                 .period = 0.1L,
                 .depth = 80,
                 .phase = 45};
    Channel right = left;
    right.filter = kFilterLowPass;
    right.texts = {"300", "1", "0"};
    ExpectSameWav(ReadBytes(Path("a.wav")), Reference(kStereo, 8000, 0.25L, left, right));
}

TEST_F(RenderTool, StandardOutputCarriesTheSameWavAsAFile) {
    const std::string settings = "-r 22050 -d 0.3 -c stereo --right-off --left-mod";
    ASSERT_EQ(Render(settings, Path("f.wav")).exitCode, 0);
    const ProcessRun run = Render(settings, "-");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, ReadBytes(Path("f.wav")));
    EXPECT_EQ(run.out.size(), 44u + 6615u * 4u);
}

TEST_F(RenderTool, BadCommandLinesExitWithTwoNamingTheOption) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"--left-amplitude loud", "--left-amplitude"},   // not a number
        {"--right-amplitude 0.5", "--right-amplitude"},  // out of range
        {"-r 8000 --left-freq 4000.5", "--left-freq"},
        {"--right-q 0", "--right-q"},
        {"-d 0.05", "--duration"},
        {"--left-mod --left-mod-period 0.0004", "--left-mod-period"},  // rounds to 0
        {"--frobnicate", "--frobnicate"},                              // unknown option
        {"--left-noise brown", "--left-noise"},                        // bad word
        {"--right-filter comb", "--right-filter"},
        {"--left-crest 5:1", "--left-crest"},
        {"-r 44000", "--rate"},
    };
    for (const auto& [options, name] : cases) {
        const ProcessRun run = Render(options, Path("bad.wav"));
        EXPECT_EQ(run.exitCode, 2) << options;
        EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("bad.wav"))) << options;
    }
    EXPECT_EQ(Render("", "").exitCode, 2);  // no output named
}

TEST_F(RenderTool, HelpExitsWithZeroAndDocumentsEveryOption) {
    const ProcessRun run = Render("--help", "");
    EXPECT_EQ(run.exitCode, 0);
    const std::string help(run.out.begin(), run.out.end());
    for (const char* option : {"--rate", "--duration", "--channels", "--as-left", "--verbose",
                               "--stats ", "--stats-json"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    for (const std::string side : {"--left-", "--right-"}) {
        for (const char* name :
             {"noise ", "crest ", "amplitude ", "filter ", "freq ", "gain ", "q ", "mod ",
              "mod-function ", "mod-period ", "mod-depth ", "mod-phase ", "off "}) {
            EXPECT_NE(help.find(side + name), std::string::npos) << side + name;
        }
    }
}

TEST_F(RenderTool, FailedWritesExitWithOne) {
    const ProcessRun missingFolder = Render("-d 0.1", Path("no/such/folder.wav"));
    EXPECT_EQ(missingFolder.exitCode, 1);
    EXPECT_NE(missingFolder.err.find("folder.wav"), std::string::npos);
    // 6000 s of stereo at 192 kHz is beyond a WAV file's 4 GiB.
    const ProcessRun tooLong = Render("-d 6000 -r 192000 -c stereo", Path("long.wav"));
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_FALSE(fs::exists(Path("long.wav")));
    // A full disk is named as such, for every type and for standard output
    // (FLAC said "problem with initialization of the flac decoder").
    for (const char* type : {"wav", "w64", "rf64", "flac"}) {
        const ProcessRun full = Render(std::string("-q -d 1 -t ") + type, "/dev/full");
        EXPECT_EQ(full.exitCode, 1) << type;
        EXPECT_NE(full.err.find("No space left on device"), std::string::npos)
            << type << ": " << full.err;
    }
}

// The numbers a --stats-json file gives for one key, in order (NaN for null).
std::vector<double> JsonFigures(const std::string& json, const std::string& key) {
    std::vector<double> values;
    const std::regex pattern("\"" + key + "\": (null|[-0-9.]+)");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        const std::string text = (*it)[1];
        values.push_back(text == "null" ? std::nan("") : std::stod(text));
    }
    return values;
}

// RMS in dBFS of one channel of a 16-bit WAV, worked out from its samples.
double RmsDbfs(const Bytes& wav, int channels, int channel) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t at = 44 + 2 * static_cast<std::size_t>(channel); at + 1 < wav.size();
         at += 2 * static_cast<std::size_t>(channels)) {
        const double v = static_cast<std::int16_t>(Le(wav, at, 2)) / 32768.0;
        sum += v * v;
        ++count;
    }
    return 10.0 * std::log10(sum / static_cast<double>(count));
}

// --stats and --stats-json report on the frames written and leave the WAV as
// it is without them; a silent channel reads "silence" and null, never -inf.
TEST_F(RenderTool, StatsDescribeTheWrittenFramesAndLeaveTheWavAlone) {
    const std::string signal = "-r 48000 -d 1 -c stereo --left-noise white --right-off";
    const std::string json = Path("s.json").string();
    const ProcessRun withStats = Render(signal + " --stats --stats-json " + json, Path("a.wav"));
    ASSERT_EQ(withStats.exitCode, 0) << withStats.err;
    ASSERT_EQ(Render(signal, Path("b.wav")).exitCode, 0);
    const Bytes wav = ReadBytes(Path("a.wav"));
    ExpectSameWav(wav, ReadBytes(Path("b.wav")));

    const std::string& table = withStats.err;
    for (const char* row :
         {"RMS dBFS", "Peak dBFS", "Crest factor", "Crest dB", "\n1k ", "\n20 ", "\n20k "}) {
        EXPECT_NE(table.find(row), std::string::npos) << row << " in\n" << table;
    }
    EXPECT_NE(table.find("silence"), std::string::npos);
    for (const char* bad : {"inf", "nan", "-200"}) {
        EXPECT_EQ(table.find(bad), std::string::npos) << bad << " in\n" << table;
    }
    // The left column: the figures worked out from the file.
    std::istringstream rows(table);
    std::string line, label, left, right;
    std::getline(rows, line);  // channel names
    rows >> label >> label >> left >> right;
    EXPECT_EQ(label, "dBFS");
    EXPECT_NEAR(std::stod(left), RmsDbfs(wav, 2, 0), 0.005);
    EXPECT_EQ(right, "silence");

    const Bytes jsonBytes = ReadBytes(json);
    const std::string text(jsonBytes.begin(), jsonBytes.end());
    const std::vector<double> rms = JsonFigures(text, "rms_dbfs");
    ASSERT_EQ(rms.size(), 2u) << text;
    EXPECT_NEAR(rms[0], RmsDbfs(wav, 2, 0), 1e-4);
    EXPECT_TRUE(std::isnan(rms[1]));
    EXPECT_NE(text.find("\"silent\": true"), std::string::npos);
    // 31 third-octave bands from 20 Hz to 20 kHz per channel.
    EXPECT_EQ(JsonFigures(text, "hz").size(), 2u * 31u);
    EXPECT_EQ(text.find("inf"), std::string::npos);

    // Mono: one channel. Standard output: the same WAV as a file.
    const ProcessRun mono = Render("-r 8000 -d 0.1 --left-noise white --stats-json " + json, "-");
    ASSERT_EQ(mono.exitCode, 0) << mono.err;
    ExpectSameWav(mono.out, Reference(kMono, 8000, 0.1L, {.noise = kWhiteNoise}));
    const Bytes monoJson = ReadBytes(json);
    const std::string monoText(monoJson.begin(), monoJson.end());
    const std::vector<double> monoRms = JsonFigures(monoText, "rms_dbfs");
    ASSERT_EQ(monoRms.size(), 1u) << monoText;
    EXPECT_NEAR(monoRms[0], RmsDbfs(mono.out, 1, 0), 1e-4);
    // Even a tenth of a second at 8 kHz gets band levels.
    const std::vector<double> bands = JsonFigures(monoText, "dbfs");
    ASSERT_FALSE(bands.empty());
    EXPECT_TRUE(std::none_of(bands.begin(), bands.end(), [](double v) { return std::isnan(v); }));
}

// Samples a filter lifts past full scale are clipped to the nearest end of
// the range, every other sample is the unclipped computation's, and --stats,
// --stats-json and the line on standard error count exactly the samples
// clipped. White 1.42:1 through a 1 kHz high pass at 0 dBFS overshoots on
// about one sample in twenty; on the right, pink 1.42:1 through a 100 Hz high
// pass.
TEST_F(RenderTool, SamplesPastFullScaleAreClippedAndCounted) {
    const std::string json = Path("clip.json").string();
    const ProcessRun run = Render(
        "-r 48000 -d 2 -c stereo --left-noise white --left-crest 1.42:1 --left-filter highpass "
        "--left-freq 1000 --right-noise pink --right-crest 1.42:1 --right-filter highpass "
        "--right-freq 100 --stats --stats-json " +
            json,
        Path("hp.wav"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Bytes wav = ReadBytes(Path("hp.wav"));
    const Channel left{.noise = kWhiteNoise, .crest = 0, .filter = kFilterHighPass};
    const Channel right{
        .noise = kPinkNoise, .crest = 0, .filter = kFilterHighPass, .texts = {"100", "1", "0"}};
    const std::vector<std::int64_t> unnarrowed = Unnarrowed(kStereo, 48000, 96000, left, right);
    ASSERT_EQ(wav.size(), 44 + 2 * unnarrowed.size());
    std::uint64_t clipped[2] = {0, 0};
    for (std::size_t i = 0; i < unnarrowed.size(); ++i) {
        const std::int64_t want = std::clamp<std::int64_t>(unnarrowed[i], -32768, 32767);
        clipped[i % 2] += static_cast<std::uint64_t>(want != unnarrowed[i]);
        ASSERT_EQ(static_cast<std::int16_t>(Le(wav, 44 + 2 * i, 2)), want)
            << "sample " << i << " (unclipped " << unnarrowed[i] << ")";
    }
    EXPECT_GT(clipped[0], 96000u / 50u);
    EXPECT_GT(clipped[1], 0u);

    const std::string total = std::to_string(clipped[0] + clipped[1]);
    const std::string grouped =
        total.size() > 3 ? total.substr(0, total.size() - 3) + "," + total.substr(total.size() - 3)
                         : total;
    EXPECT_NE(run.err.find("skarnel-render: " + grouped +
                           " samples were clipped: lower the amplitude or the filter gain\n"),
              std::string::npos)
        << run.err;
    std::istringstream rows(run.err);
    std::string line;
    while (std::getline(rows, line) && line.rfind("Clipped ", 0) != 0) {
    }
    std::istringstream clippedRow(line);
    std::string label, leftCount, rightCount;
    clippedRow >> label >> leftCount >> rightCount;
    const auto plain = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), ','), text.end());
        return text;
    };
    EXPECT_EQ(plain(leftCount), std::to_string(clipped[0])) << run.err;
    EXPECT_EQ(plain(rightCount), std::to_string(clipped[1])) << run.err;

    const Bytes jsonBytes = ReadBytes(json);
    const std::string text(jsonBytes.begin(), jsonBytes.end());
    EXPECT_EQ(
        JsonFigures(text, "clipped_samples"),
        (std::vector<double>{static_cast<double>(clipped[0]), static_cast<double>(clipped[1])}))
        << text;
    const std::vector<double> share = JsonFigures(text, "clipped_share");
    ASSERT_EQ(share.size(), 2u) << text;
    EXPECT_NEAR(share[0], clipped[0] / 96000.0, 1e-6);
}

// A render that stays within range reports no clip, and says nothing of it.
TEST_F(RenderTool, ARenderWithoutClippingReportsNone) {
    const std::string json = Path("none.json").string();
    const ProcessRun run =
        Render("-r 48000 -d 1 --left-noise white --stats --stats-json " + json, Path("w.wav"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Bytes wav = ReadBytes(Path("w.wav"));
    const std::vector<std::int64_t> unnarrowed =
        Unnarrowed(kMono, 48000, 48000, {.noise = kWhiteNoise});
    EXPECT_TRUE(std::all_of(unnarrowed.begin(), unnarrowed.end(),
                            [](std::int64_t v) { return v >= -32768 && v <= 32767; }));
    EXPECT_EQ(run.err.find("were clipped"), std::string::npos) << run.err;
    const Bytes jsonBytes = ReadBytes(json);
    const std::string text(jsonBytes.begin(), jsonBytes.end());
    EXPECT_EQ(JsonFigures(text, "clipped_samples"), std::vector<double>{0.0}) << text;
}

// At 8000 Hz the 4 kHz band (3548 to 4467 Hz) lies partly above the Nyquist
// frequency and reads low: the table and the JSON say so, and of no other band.
TEST_F(RenderTool, StatsMarkABandThatReachesPastTheNyquistFrequency) {
    const std::string json = Path("n.json").string();
    const ProcessRun run =
        Render("-r 8000 -d 2 --left-noise white --stats --stats-json " + json, Path("n.wav"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("\n4k (partial)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\n3.15k "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("3.15k (partial)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Nyquist frequency (4000 Hz)"), std::string::npos) << run.err;

    const Bytes jsonBytes = ReadBytes(json);
    const std::string text(jsonBytes.begin(), jsonBytes.end());
    const std::regex band(
        "\"label\": \"([^\"]+)\", \"dbfs\": [-0-9.null]+, \"partial\": (true|false)");
    std::vector<std::string> partial;
    int bands = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), band);
         it != std::sregex_iterator(); ++it, ++bands) {
        if ((*it)[2] == "true") {
            partial.push_back((*it)[1]);
        }
    }
    EXPECT_EQ(bands, 24) << text;  // 20 Hz .. 4 kHz
    EXPECT_EQ(partial, std::vector<std::string>{"4k"}) << text;

    // At 48 kHz every band up to 20 kHz is whole.
    const ProcessRun wide = Render("-r 48000 -d 1 --left-noise white --stats", Path("w.wav"));
    ASSERT_EQ(wide.exitCode, 0) << wide.err;
    EXPECT_EQ(wide.err.find("partial"), std::string::npos) << wide.err;
}

TEST_F(RenderTool, StatsGoWithPresetsAndAFailedJsonFileExitsWithOne) {
    PresetSlots slots{};
    slots[0].settings.period = "0.2";
    ASSERT_EQ(SavePresetFile(Path("p.vlm").string(), slots), "");
    const ProcessRun preset =
        Render("--preset " + Path("p.vlm").string() + " --stats", Path("a.wav"));
    EXPECT_EQ(preset.exitCode, 0) << preset.err;
    EXPECT_NE(preset.err.find("Crest factor"), std::string::npos) << preset.err;

    const ProcessRun unwritable =
        Render("-d 0.1 --stats-json " + Path("no/such/folder.json").string(), Path("b.wav"));
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.err.find("folder.json"), std::string::npos) << unwritable.err;
}

// The figures' file and the sound file must be two files: named alike, through
// a link, through /dev/fd or as standard output, the render is refused with
// status 2 before anything is written (it used to replace the sound with the
// JSON and exit 0).
TEST_F(RenderTool, FiguresAndSoundInOneFileAreRefusedBeforeWriting) {
    const std::string wav = Path("x.wav").string();
    std::ofstream(Path("kept.wav")) << "the user's file";
    fs::create_symlink(Path("kept.wav"), Path("link.wav"));
    fs::create_hard_link(Path("kept.wav"), Path("hard.json"));
    const std::pair<std::string, std::string> same[] = {
        {"-q -d 1 --stats-json " + wav, wav},
        {"-q -d 1 --stats-json " + Path(".").string() + "/x.wav", wav},
        {"-q -d 1 --stats-json " + Path("link.wav").string(), Path("kept.wav").string()},
        {"-q -d 1 --stats-json " + Path("hard.json").string(), Path("link.wav").string()},
        {"-q -d 1 --stats-json /dev/stdout", "-"},
        {"-q -d 1 -t wav --stats-json /dev/fd/1", Path("stdout").string()},
    };
    for (const auto& [options, output] : same) {
        SCOPED_TRACE(options + " " + output);
        const ProcessRun run = Render(options, output);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("same file"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(wav));
        EXPECT_EQ(fs::file_size(Path("kept.wav")), std::string("the user's file").size());
    }
    // Two files, or figures thrown away beside a file that is kept: written.
    const ProcessRun apart = Render("-q -d 0.1 --stats-json " + Path("x.json").string(), wav);
    EXPECT_EQ(apart.exitCode, 0) << apart.err;
    EXPECT_TRUE(fs::exists(wav) && fs::exists(Path("x.json")));
    const ProcessRun discarded = Render("-q -d 0.1 -t wav --stats-json /dev/null", "/dev/null");
    EXPECT_EQ(discarded.exitCode, 0) << discarded.err;
}

// When no thread can be started (the system's limit on threads), a render
// that would run on three threads runs on one, and writes the same file.
TEST_F(RenderTool, WithoutThreadsARenderRunsOnOneThreadAndWritesTheSameFile) {
    const std::string options = "-q -r 48000 -c stereo -d 2 --left-filter peaking";
    const ProcessRun threaded = Render(options, Path("threads.wav"));
    ASSERT_EQ(threaded.exitCode, 0) << threaded.err;
    // A sanitizer's runtime must otherwise be the first library loaded.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string sanitizerBefore = sanitizer != nullptr ? sanitizer : "";
    setenv("ASAN_OPTIONS", (sanitizerBefore + ":verify_asan_link_order=0").c_str(), 1);
    setenv("LD_PRELOAD", SKARNEL_NO_THREADS, 1);
    const ProcessRun single = Render(options, Path("single.wav"));
    unsetenv("LD_PRELOAD");
    if (sanitizer != nullptr) {
        setenv("ASAN_OPTIONS", sanitizerBefore.c_str(), 1);
    } else {
        unsetenv("ASAN_OPTIONS");
    }
    EXPECT_EQ(single.exitCode, 0) << single.err;
    EXPECT_EQ(ReadBytes(Path("single.wav")), ReadBytes(Path("threads.wav")));
}

// A peaking gain whose filter design overflows plays silence, as defined;
// the render says why its file is silent (it wrote one without a word), and
// ordinary gains get no such note.
TEST_F(RenderTool, AFilterThatLetsNothingThroughIsNamed) {
    for (const std::string gain : {"1e6", "-1e6", "-400"}) {
        const ProcessRun run =
            Render("-q -d 0.2 --left-filter peaking --left-gain " + gain, Path("silent.wav"));
        EXPECT_EQ(run.exitCode, 0) << gain << run.err;
        EXPECT_NE(run.err.find("left channel's filter lets nothing through"), std::string::npos)
            << gain << ": " << run.err;
        const Bytes wav = ReadBytes(Path("silent.wav"));
        ASSERT_GT(wav.size(), 44u);
        EXPECT_TRUE(std::all_of(wav.begin() + 44, wav.end(), [](std::uint8_t b) { return b == 0; }))
            << gain;
    }
    for (const std::string gain : {"-40", "-10", "12"}) {
        const ProcessRun run =
            Render("-q -d 0.2 --left-filter peaking --left-gain " + gain, Path("heard.wav"));
        EXPECT_EQ(run.err.find("lets nothing through"), std::string::npos) << gain << run.err;
    }
}

render::ParseResult Parse(const std::string& options) {
    std::vector<std::string> args = Words("skarnel-render " + options);
    args.push_back("out.wav");
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    return render::ParseRenderOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(RenderOptions, NumbersAreRoundedAndRangeEndsAccepted) {
    const render::ParseResult r = Parse(
        "-r 8000 -d 0.1 --left-amplitude -100 --right-amplitude -0,125 --left-freq 4000 "
        "--right-freq 1 --left-q 0.01 --right-q 100000 --left-gain -1e6 --left-mod-period -2.0006 "
        "--right-mod-depth 0 --left-mod-depth 33.33333333333 --right-mod-phase 720 --left-crest 6");
    ASSERT_TRUE(r.options) << r.error;
    const ChannelSettings& left = r.options->settings.channels[kLeft];
    const ChannelSettings& right = r.options->settings.channels[kRight];
    EXPECT_EQ(r.options->settings.period,
              "0.1000000015");  // the float32 value, as the window shows it
    EXPECT_EQ(left.amplitude, "-100");
    EXPECT_EQ(right.amplitude, "-0.12");  // comma accepted; the half goes to even
    EXPECT_EQ(left.frequency, "4000");
    EXPECT_EQ(right.frequency, "1");
    EXPECT_EQ(left.q, "0.01");
    EXPECT_EQ(right.q, "100000");
    EXPECT_EQ(left.gain, "-1000000");
    EXPECT_EQ(left.modPeriod, "-2.001");
    EXPECT_EQ(right.modDepth, "0");
    EXPECT_EQ(left.modDepth, "33.3333320618");
    EXPECT_EQ(right.modPhase, "720");
    EXPECT_EQ(left.crestFactor, 6);
}

TEST(RenderOptions, RangesFollowTheRate) {
    EXPECT_TRUE(Parse("-r 192000 --left-freq 96000").options);
    const render::ParseResult r = Parse("-r 11025 --right-freq 5512.6");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.error.find("1 to 5512.5 Hz"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("'5512.6'"), std::string::npos) << r.error;
}

TEST(RenderOptions, ModulationPeriodZeroMattersOnlyWhereItIsRendered) {
    EXPECT_EQ(Parse("--left-mod-period 0").exitCode, 0);               // modulation off
    EXPECT_EQ(Parse("--right-mod --right-mod-period 0").exitCode, 0);  // mono
    EXPECT_EQ(Parse("-c stereo --right-mod --right-mod-period 0").exitCode, 2);
    EXPECT_EQ(Parse("-c stereo --as-left --right-mod --right-mod-period 0").exitCode, 0);
}

TEST(RenderOptions, ConfigureEngineHandsAsLeftEverythingButTheFilter) {
    const render::ParseResult r = Parse(
        "-c stereo --as-left --left-noise white --left-crest 3:1 --left-amplitude -20 --left-mod "
        "--left-mod-function square --left-mod-period 3 --left-mod-depth 40 --left-mod-phase 180 "
        "--left-off --right-filter bandpass --right-freq 250 -d 2");
    ASSERT_TRUE(r.options) << r.error;
    UniformRandom random;
    SignalEngine engine(random);
    EXPECT_EQ(render::ConfigureEngine(*r.options, engine), 2.0L);
    EXPECT_TRUE(engine.live.asLeft);
    EXPECT_EQ(engine.live.noiseFunction[kRight], kWhiteNoise);
    EXPECT_TRUE(engine.live.modulationOn[kRight]);
    EXPECT_EQ(engine.live.modFunction[kRight], kModSquare);
    EXPECT_EQ(engine.live.filterType[kLeft], kFilterNone);
    EXPECT_EQ(engine.live.filterType[kRight], kFilterBandPass);
    const ChannelEngineState& right = engine.state.right();
    EXPECT_EQ(right.crestExponent, kCrestExponentsWhite[2]);
    EXPECT_EQ(right.linearAmplitude, LinearAmplitude(-20.0L));
    EXPECT_EQ(right.modPeriod, 3.0f);
    EXPECT_EQ(right.modDepth, ModDepthFraction(40.0L));
    EXPECT_EQ(right.modPhase, ModPhaseRadians(180.0L));
    EXPECT_EQ(right.gate, 0);
    EXPECT_EQ(right.filterFrequency, 250.0);
    EXPECT_EQ(engine.state.left().filterFrequency, 1000.0);
    EXPECT_EQ(engine.state.periodSamples, 88200);
}

}  // namespace
}  // namespace skarnel

namespace skarnel {
namespace {

// A slot of a preset file renders as the same settings given as options, with
// the recall's validation applied to its texts (-3.456 dBFS plays as -3.46).
TEST_F(RenderTool, PresetSlotRendersAsTheEquivalentOptions) {
    PresetSlots slots{};
    GeneratorSettings& p = slots[2].settings;
    ChannelSettings& left = p.channels[kLeft];
    ChannelSettings& right = p.channels[kRight];
    p.period = "0.5";
    p.channelMode = kStereo;
    left.amplitude = "-3.456";
    left.noiseFunction = kWhiteNoise;
    left.crestFactor = 2;
    right.modulationOn = true;
    right.modFunction = kModTriangular;
    right.modPeriod = "0.25";
    right.filterType = kFilterPeaking;
    right.frequency = "30000";  // validated to half the rate
    right.gain = "-10";
    right.q = "3";
    ASSERT_EQ(SavePresetFile(Path("p.vlm").string(), slots), "");

    const ProcessRun fromPreset =
        Render("-r 22050 --preset " + Path("p.vlm").string() + " --slot 3", Path("a.wav"));
    ASSERT_EQ(fromPreset.exitCode, 0) << fromPreset.err;
    const ProcessRun fromOptions = Render(
        "-r 22050 -d 0.5 -c stereo --left-noise white --left-crest 3:1 --left-amplitude -3.46 "
        "--right-mod --right-mod-function triangular --right-mod-period 0.25 "
        "--right-filter peaking --right-freq 11025 --right-gain -10 --right-q 3",
        Path("b.wav"));
    ASSERT_EQ(fromOptions.exitCode, 0) << fromOptions.err;
    ExpectSameWav(ReadBytes(Path("a.wav")), ReadBytes(Path("b.wav")));

    // A slot option beside --preset, a file that is no preset file, a bad slot.
    EXPECT_EQ(Render("--preset " + Path("p.vlm").string() + " -d 2", Path("c.wav")).exitCode, 2);
    EXPECT_EQ(Render("--preset " + Path("a.wav").string(), Path("c.wav")).exitCode, 1);
    EXPECT_EQ(Render("--preset " + Path("p.vlm").string() + " --slot 5", Path("c.wav")).exitCode,
              2);

    // A file cut short holds no slot to render: refused, nothing written.
    Bytes cut = ReadBytes(Path("p.vlm"));
    for (const std::size_t size : {std::size_t{20}, std::size_t{21 + 2628 + 100}}) {
        cut.resize(size);
        std::ofstream(Path("cut.vlm"), std::ios::binary)
            .write(reinterpret_cast<const char*>(cut.data()), static_cast<std::streamsize>(size));
        const ProcessRun run = Render("--preset " + Path("cut.vlm").string(), Path("d.wav"));
        EXPECT_EQ(run.exitCode, 1) << size;
        EXPECT_NE(run.err.find("is not a preset file"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("d.wav")));
    }
}

// List indexes a file holds outside their lists are read as the window reads
// them: no choice. A filter type of 99 plays unfiltered, a crest factor of 99
// keeps the crest the window starts with, a noise of INT_MAX plays nothing;
// none of them overflows (UBSan watches the sanitizer run).
TEST_F(RenderTool, ListIndexesOutsideTheirListsRenderAsTheWindowShowsThem) {
    PresetSlots slots{};
    GeneratorSettings& odd = slots[0].settings;
    odd.period = "0.2";
    odd.channelMode = kStereo;
    odd.channels[kLeft].filterType = 99;
    odd.channels[kLeft].crestFactor = 99;
    odd.channels[kLeft].modulationOn = true;
    odd.channels[kLeft].modFunction = -5;
    odd.channels[kRight].noiseFunction = std::numeric_limits<std::int32_t>::max();
    GeneratorSettings& plain = slots[1].settings;
    plain = odd;
    plain.channels[kLeft].filterType = kFilterNone;
    plain.channels[kLeft].crestFactor = GeneratorSettings{}.channels[kLeft].crestFactor;
    plain.channels[kRight].noiseFunction = -1;
    plain.channels[kLeft].modFunction = -1;
    ASSERT_EQ(SavePresetFile(Path("odd.vlm").string(), slots), "");
    const ProcessRun a =
        Render("--preset " + Path("odd.vlm").string() + " --slot 1", Path("a.wav"));
    const ProcessRun b =
        Render("--preset " + Path("odd.vlm").string() + " --slot 2", Path("b.wav"));
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    const Bytes oddWav = ReadBytes(Path("a.wav"));
    ExpectSameWav(oddWav, ReadBytes(Path("b.wav")));
    // The right channel is silent.
    for (std::size_t at = 44 + 2; at + 1 < oddWav.size(); at += 4) {
        ASSERT_EQ(oddWav[at] | oddWav[at + 1], 0) << at;
    }
}

// Ctrl+C, a kill or a closed terminal during a long render: the process ends
// as the signal says, and neither the target nor its hidden temporary stays.
// Whatever signal ends a render, every output type leaves no hidden
// partial file: each catchable signal whose default action ends the process
// (SIGPIPE, SIGUSR1, SIGXFSZ and the real-time signals included), sent while
// the file is being written, and SIGXFSZ as the kernel sends it when the file
// grows past the process's size limit.
TEST_F(RenderTool, ASignalEndingARenderLeavesNoFileBehind) {
    // The signals that dump core would leave core files.
    struct rlimit noCore {
        0, 0
    };
    struct rlimit core {};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &core), 0);
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);
    const auto leftInFolder = [&] {
        std::vector<std::string> left;
        for (const fs::directory_entry& e : fs::directory_iterator(dir_)) {
            left.push_back(e.path().filename().string());
        }
        std::sort(left.begin(), left.end());
        return left;
    };
    const std::vector<std::string> clean{"stderr", "stdout"};
    for (const char* type : {"wav", "w64", "rf64", "flac"}) {
        const std::string name = std::string("long.") + type;
        const auto temporaryExists = [&] {
            for (const fs::directory_entry& e : fs::directory_iterator(dir_)) {
                if (e.path().filename().string().starts_with("." + name + ".")) {
                    return true;
                }
            }
            return false;
        };
        for (const int signal : temporary_files::TerminatingSignals()) {
#if defined(__SANITIZE_ADDRESS__)
            // AddressSanitizer's runtime handles these faults itself, and the
            // program leaves a signal handled elsewhere as it is.
            if (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE) {
                continue;
            }
#endif
            SCOPED_TRACE(name + " " + strsignal(signal));
            // About 3.8 GB: far from finished when the signal comes.
            const pid_t pid = Start("-r 192000 -c stereo -d 5000", Path(name));
            ASSERT_GT(pid, 0);
            for (int i = 0; i < 1000 && !temporaryExists(); ++i) {
                usleep(2000);
            }
            ASSERT_TRUE(temporaryExists());
            kill(pid, signal);
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
            EXPECT_EQ(leftInFolder(), clean);
        }

        // The file size limit, as `ulimit -f` sets it: the kernel's SIGXFSZ.
        struct rlimit size {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &size), 0);
        const struct rlimit limited { 1 << 20, size.rlim_max };
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const pid_t pid = Start("-q -r 48000 -c stereo -d 60", Path(name));
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &size), 0);
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << name << " " << status;
        EXPECT_EQ(leftInFolder(), clean) << name;
    }
    setrlimit(RLIMIT_CORE, &core);
}

}  // namespace
}  // namespace skarnel
