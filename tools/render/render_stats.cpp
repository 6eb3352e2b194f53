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

std::string StatsTable(const SignalAnalyzer& analyzer) {
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
    out += "Third-octave bands (Hz), dBFS:\n";
    const std::vector<double>& centres = analyzer.spectrum(0).bandCentres();
    for (std::size_t b = 0; b < centres.size(); ++b) {
        row(NominalBandText(centres[b]), [&](int c, const LevelFigures&) {
            const double db = bands[static_cast<std::size_t>(c)][b];
            return EmptyBand(db) ? std::string(kSilence) : DbfsText(db, 1);
        });
    }
    return out;
}

std::string StatsJson(const SignalAnalyzer& analyzer) {
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
        out += ",\n   \"bands\": [";
        for (std::size_t b = 0; b < bands.size(); ++b) {
            const double hz = spectrum.bandCentres()[b];
            out += b == 0 ? "" : ", ";
            out += "{\"hz\": " + JsonNumber(hz, true) +
                   ", \"label\": " + JsonString(NominalBandText(hz)) +
                   ", \"dbfs\": " + JsonNumber(bands[b], !EmptyBand(bands[b])) + "}";
        }
        out += "]}";
    }
    out += "\n]}\n";
    return out;
}

}  // namespace skarnel::render
