#include "render/render_stats.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "analysis/level_text.h"

namespace skarnel::render {

namespace {

constexpr int kStatsFftSize = 32768;
constexpr int kSmallestFftSize = 256;
constexpr int kLabelWidth = 16;
constexpr int kColumnWidth = 12;
constexpr const char* kSilence = "silence";

std::vector<const char*> ChannelNames(int channels) {
    if (channels == 1) {
        return {"mono"};
    }
    return {"left", "right"};
}

// `text` right-aligned in a column, or left-aligned in the label column.
void Cell(std::string& out, const std::string& text, int width, bool left = false) {
    const std::size_t pad = text.size() < static_cast<std::size_t>(width)
                                ? static_cast<std::size_t>(width) - text.size()
                                : 1;
    if (left) {
        out += text;
        out.append(pad, ' ');
    } else {
        out.append(pad, ' ');
        out += text;
    }
}

bool EmptyBand(double db) {
    return !std::isfinite(db) || db <= SpectrumAnalyzer::kFloorDb;
}

// A finite number for JSON, or null.
std::string JsonNumber(double value, bool present) {
    if (!present || !std::isfinite(value)) {
        return "null";
    }
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%.6f", value);
    return text.data();
}

// The share of a channel's samples that were clipped, as a fraction.
double ClippedShare(std::uint64_t clipped, std::uint64_t frames) {
    return frames == 0 ? 0.0 : static_cast<double>(clipped) / static_cast<double>(frames);
}

std::string PercentText(double fraction) {
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%.3f %%", 100.0 * fraction);
    return text.data();
}

std::string JsonString(const std::string& text) {
    return "\"" + text + "\"";  // labels and names hold no quotes or escapes
}

}  // namespace

int StatsFftSize(std::int64_t frames) noexcept {
    int size = kStatsFftSize;
    while (size > kSmallestFftSize && size > frames) {
        size /= 2;
    }
    return size;
}

RenderMeasurement::RenderMeasurement(int sampleRate, int channels, std::int64_t frames)
    : analyzer({sampleRate, channels, 16}, StatsFftSize(frames)) {}

WaveExportHooks RenderMeasurement::Hooks() {
    WaveExportHooks hooks;
    hooks.written = [this](const std::uint8_t* bytes, std::size_t size) {
        analyzer.Feed(bytes, size);
    };
    return hooks;
}

std::string StatsTable(const SignalAnalyzer& analyzer, const ClippedSamples& clipped) {
    const int channels = analyzer.format().channels;
    const std::vector<const char*> names = ChannelNames(channels);
    std::array<LevelFigures, SignalAnalyzer::kMaxChannels> figures{};
    std::array<std::vector<double>, SignalAnalyzer::kMaxChannels> bands;
    for (int c = 0; c < channels; ++c) {
        figures[static_cast<std::size_t>(c)] = analyzer.meter(c).SinceReset();
        analyzer.spectrum(c).BandLevels(SpectrumAnalyzer::Average::kSinceReset,
                                        bands[static_cast<std::size_t>(c)]);
    }

    std::string out;
    const auto row = [&](const std::string& label, auto cellText) {
        Cell(out, label, kLabelWidth, /*left=*/true);
        for (int c = 0; c < channels; ++c) {
            const LevelFigures& f = figures[static_cast<std::size_t>(c)];
            Cell(out, f.silent ? kSilence : cellText(c, f), kColumnWidth);
        }
        out += "\n";
    };
    Cell(out, "", kLabelWidth, true);
    for (const char* name : names) {
        Cell(out, name, kColumnWidth);
    }
    out += "\n";
    row("RMS dBFS", [](int, const LevelFigures& f) { return DbfsText(f.rmsDbfs, 2); });
    row("Peak dBFS", [](int, const LevelFigures& f) { return DbfsText(f.peakDbfs, 2); });
    row("Crest factor", [](int, const LevelFigures& f) { return CrestRatioText(f.crestRatio); });
    row("Crest dB", [](int, const LevelFigures& f) { return DbfsText(f.crestDb, 2); });
    const auto frames = static_cast<std::uint64_t>(analyzer.frames());
    row("Clipped", [&](int c, const LevelFigures&) {
        return GroupedCount(clipped[static_cast<std::size_t>(c)]);
    });
    row("Clipped share", [&](int c, const LevelFigures&) {
        return PercentText(ClippedShare(clipped[static_cast<std::size_t>(c)], frames));
    });
    out += "Third-octave bands (Hz), dBFS:\n";
    const int rate = analyzer.format().sampleRate;
    const std::vector<double>& centres = analyzer.spectrum(0).bandCentres();
    bool anyPartial = false;
    for (std::size_t b = 0; b < centres.size(); ++b) {
        const bool partial = ThirdOctaveBandIsPartial(centres[b], rate);
        anyPartial = anyPartial || partial;
        row(NominalBandText(centres[b]) + (partial ? " (partial)" : ""),
            [&](int c, const LevelFigures&) {
                const double db = bands[static_cast<std::size_t>(c)][b];
                return EmptyBand(db) ? std::string(kSilence) : DbfsText(db, 1);
            });
    }
    if (anyPartial) {
        std::array<char, 160> note{};
        std::snprintf(note.data(), note.size(),
                      "(partial): the band reaches past the Nyquist frequency (%g Hz) and reads "
                      "low.\n",
                      rate / 2.0);
        out += note.data();
    }
    return out;
}

std::string StatsJson(const SignalAnalyzer& analyzer, const ClippedSamples& clipped) {
    const int channels = analyzer.format().channels;
    std::string out = "{\"sample_rate\": " + std::to_string(analyzer.format().sampleRate) +
                      ", \"frames\": " + std::to_string(analyzer.frames()) + ", \"channels\": [";
    std::vector<double> bands;
    const std::vector<const char*> names = ChannelNames(channels);
    for (int c = 0; c < channels; ++c) {
        const LevelFigures f = analyzer.meter(c).SinceReset();
        const SpectrumAnalyzer& spectrum = analyzer.spectrum(c);
        spectrum.BandLevels(SpectrumAnalyzer::Average::kSinceReset, bands);
        const bool present = !f.silent;
        out += c == 0 ? "\n  {" : ",\n  {";
        out += "\"name\": " + JsonString(names[static_cast<std::size_t>(c)]);
        out += ", \"silent\": " + std::string(f.silent ? "true" : "false");
        out += ", \"rms_dbfs\": " + JsonNumber(f.rmsDbfs, present);
        out += ", \"peak_dbfs\": " + JsonNumber(f.peakDbfs, present);
        out += ", \"crest_ratio\": " + JsonNumber(f.crestRatio, present);
        out += ", \"crest_db\": " + JsonNumber(f.crestDb, present);
        const std::uint64_t clips = clipped[static_cast<std::size_t>(c)];
        out += ",\n   \"clipped_samples\": " + std::to_string(clips) + ", \"clipped_share\": " +
               JsonNumber(ClippedShare(clips, static_cast<std::uint64_t>(analyzer.frames())), true);
        out += ",\n   \"bands\": [";
        for (std::size_t b = 0; b < bands.size(); ++b) {
            const double hz = spectrum.bandCentres()[b];
            out += b == 0 ? "" : ", ";
            out += "{\"hz\": " + JsonNumber(hz, true) +
                   ", \"label\": " + JsonString(NominalBandText(hz)) +
                   ", \"dbfs\": " + JsonNumber(bands[b], !EmptyBand(bands[b])) + ", \"partial\": " +
                   (ThirdOctaveBandIsPartial(hz, analyzer.format().sampleRate) ? "true" : "false") +
                   "}";
        }
        out += "]}";
    }
    out += "\n]}\n";
    return out;
}

std::string ClippedLine(const ClippedSamples& clipped) {
    const std::uint64_t total = clipped[0] + clipped[1];
    return total == 0 ? std::string() : "skarnel-render: " + ClippedMessage(total) + "\n";
}

}  // namespace skarnel::render
