#include "render/render_options.h"

#include <CLI/CLI.hpp>

#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "base/product_info.h"
#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "export/wave_writer.h"
#include "numtext/conversion_error.h"
#include "numtext/decimal_entry.h"
#include "numtext/entry_rules.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"
#include "render/duration_text.h"
#include "render/preset_options.h"
#include "render/same_output.h"
#include "settings/choice_lists.h"
#include "settings/generator_model.h"

namespace skarnel::render {

namespace {

constexpr std::string_view kHelpHint = "Run with --help for more information.\n";

// A command-line word and the list index it selects.
struct Word {
    const char* text;
    int index;
};

constexpr std::array<Word, 2> kNoiseWords{{{"white", kWhiteNoise}, {"pink", kPinkNoise}}};
constexpr std::array<Word, 2> kChannelWords{{{"mono", kMono}, {"stereo", kStereo}}};
constexpr std::array<Word, 4> kModWords{{{"sine", kModSine},
                                         {"cosine", kModCosine},
                                         {"square", kModSquare},
                                         {"triangular", kModTriangular}}};
constexpr std::array<Word, 6> kFilterWords{{{"none", kFilterNone},
                                            {"peaking", kFilterPeaking},
                                            {"highpass", kFilterHighPass},
                                            {"lowpass", kFilterLowPass},
                                            {"bandpass", kFilterBandPass},
                                            {"notch", kFilterNotch}}};

template <std::size_t N>
std::vector<std::string> Texts(const std::array<Word, N>& words) {
    std::vector<std::string> texts;
    for (const Word& w : words) {
        texts.emplace_back(w.text);
    }
    return texts;
}

// The word has passed CLI11's membership check, so it is always found.
template <std::size_t N>
int IndexOf(const std::array<Word, N>& words, const std::string& text) {
    for (const Word& w : words) {
        if (text == w.text) {
            return w.index;
        }
    }
    throw std::logic_error("unchecked word " + text);
}

// Crest factor by name ("6:1") or by list index ("4"); -1 when neither.
int CrestIndexOf(const std::string& text) {
    for (std::size_t i = 0; i < kCrestFactorItems.size(); ++i) {
        if (text == kCrestFactorItems[i] || text == std::to_string(i)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Option values as typed, before validation.
struct RawChannel {
    std::string noise = "pink";
    std::string crest = "6:1";
    std::string amplitude = "0";
    std::string filter = "none";
    std::string frequency = "1000";
    std::string gain = "0";
    std::string q = "1";
    bool mod = false;
    std::string modFunction = "sine";
    std::string modPeriod = "1";
    std::string modDepth = "100";
    std::string modPhase = "0";
    bool off = false;
};

struct RawOptions {
    std::string output;
    std::string rate = "44100";
    std::string duration = "10";
    std::string channels = "mono";
    std::string type;  // empty: from the file name
    bool asLeft = false;
    bool verbose = false;
    bool quiet = false;
    bool stats = false;
    std::string statsJson;
    std::string preset;
    int slot = 1;
    std::array<RawChannel, kChannelCount> channel;
};

// The window's rule for an entry and its range as told to the user.
struct NumberRule {
    EntryRule entry;
    std::string accepted;  // with the unit
};

class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Rejects a text that is not a number or lies outside the rule's range, and
// returns the text the window's validation makes of it.
std::string Validate(const std::string& option, const std::string& text, const NumberRule& rule) {
    float value;
    try {
        value = ParseDecimal(text);
    } catch (const ConversionError&) {
        throw OptionError(option + ": '" + text + "' is not a number (accepted: " + rule.accepted +
                          ")");
    }
    // The comparisons ClampAndRound makes, so that a text passing here is one
    // it leaves unclamped.
    if (value > rule.entry.maximum || !(value >= rule.entry.minimum)) {
        throw OptionError(option + ": '" + text + "' is out of range (accepted: " + rule.accepted +
                          ")");
    }
    return ClampAndRound(text, rule.entry.minimum, rule.entry.maximum, rule.entry.decimals, value);
}

ChannelSettings ValidateChannel(const std::string& prefix, const RawChannel& raw,
                                std::int32_t sampleRate) {
    const EntryRule frequency = FilterFrequencyRule(sampleRate);
    ChannelSettings c;
    c.noiseFunction = IndexOf(kNoiseWords, raw.noise);
    c.crestFactor = CrestIndexOf(raw.crest);
    c.amplitude = Validate(prefix + "amplitude", raw.amplitude, {kAmplitudeRule, "-100 to 0 dBFS"});
    c.filterType = IndexOf(kFilterWords, raw.filter);
    c.frequency = Validate(prefix + "freq", raw.frequency,
                           {frequency, "1 to " + FormatNumber(frequency.maximum) + " Hz"});
    c.gain = Validate(prefix + "gain", raw.gain, {kFilterGainRule, "any dB"});
    c.q = Validate(prefix + "q", raw.q, {kFilterQRule, "0.01 to 100000"});
    c.modulationOn = raw.mod;
    c.modFunction = IndexOf(kModWords, raw.modFunction);
    c.modPeriod = Validate(prefix + "mod-period", raw.modPeriod,
                           {{kNoLowerLimit, kNoUpperLimit, 3, 1.0f}, "any number of seconds"});
    c.modDepth = Validate(prefix + "mod-depth", raw.modDepth, {kModDepthRule, "0 to 100 %"});
    c.modPhase =
        Validate(prefix + "mod-phase", raw.modPhase, {kModPhaseRule, "at least 0 degrees"});
    c.on = !raw.off;
    return c;
}

// Modulation over a period of 0 has no phase to follow; the engine would keep
// the gain frozen, which is never what a command line asks for.
void RequireModPeriod(const std::string& prefix, const RawChannel& raw, const ChannelSettings& c) {
    if (c.modulationOn && ReadNumber(c.modPeriod) == 0.0L) {
        throw OptionError(prefix + "mod-period: '" + raw.modPeriod +
                          "' gives a period of 0 s, which cannot modulate (accepted with " +
                          prefix + "mod: any number of seconds but 0)");
    }
}

constexpr const char* kDurationsAccepted =
    "seconds, M:SS, H:MM:SS or frames as in 48000s; at least 0.1 s";

// The period's text as the window's validation leaves it, from a duration in
// any of ReadDuration's forms; `note` receives a warning when a frame count
// cannot be held exactly (the period is a float of seconds, as the window's).
std::string ValidateDuration(const std::string& text, std::int32_t sampleRate, std::string& note) {
    const DurationReading reading = ReadDuration(text, sampleRate);
    if (!reading.problem.empty()) {
        throw OptionError("--duration: '" + text + "' is not a duration: " + reading.problem +
                          " (accepted: " + kDurationsAccepted + ")");
    }
    const std::string shown =
        reading.seconds == text ? "'" + text + "'" : "'" + text + "' (" + reading.seconds + " s)";
    float value;
    try {
        value = ParseDecimal(reading.seconds);
    } catch (const ConversionError&) {
        throw OptionError("--duration: " + shown +
                          " is not a duration (accepted: " + kDurationsAccepted + ")");
    }
    const EntryRule& rule = kPeriodRule;
    if (value > rule.maximum || !(value >= rule.minimum)) {
        throw OptionError("--duration: " + shown +
                          " is out of range (accepted: " + kDurationsAccepted + ")");
    }
    const std::string period =
        ClampAndRound(reading.seconds, rule.minimum, rule.maximum, rule.decimals, value);
    if (reading.frames) {
        const std::int64_t frames = WaveFrameCount(ReadNumber(period), sampleRate);
        if (frames != *reading.frames) {
            note = "skarnel-render: --duration: " + text + " is a period of " + period +
                   " s as the generator holds it: " + std::to_string(frames) +
                   " frames are rendered.\n";
        }
    }
    return period;
}

OutputType ChooseOutputType(const RawOptions& raw) {
    const std::string types = OutputTypeList();
    if (!raw.type.empty()) {
        const OutputType type = *OutputTypeNamed(raw.type);  // CLI11 checked the word
        if (raw.output == "-" && !StreamsToPipe(type)) {
            throw OptionError("--type " + std::string(OutputTypeName(type)) +
                              ": cannot be written to standard output, since its header is "
                              "completed after the samples; write it to a file (standard "
                              "output takes wav)");
        }
        return type;
    }
    if (raw.output == "-") {
        return OutputType::kWav;
    }
    if (const std::optional<OutputType> type = OutputTypeOfPath(raw.output)) {
        return *type;
    }
    throw OptionError("'" + raw.output +
                      "': the file name's extension names no output type; end it in .wav, "
                      ".w64, .rf64 or .flac, or choose one with --type (" +
                      types + ")");
}

RenderOptions Validate(const RawOptions& raw, std::string& note) {
    RenderOptions options;
    options.output = raw.output;
    options.type = ChooseOutputType(raw);
    options.sampleRate = std::stoi(raw.rate);
    options.verbose = raw.verbose;
    options.quiet = raw.quiet;
    options.stats = raw.stats;
    options.statsJsonPath = raw.statsJson;
    // Both written to one file, the figures would replace the sound.
    if (!options.statsJsonPath.empty() && SameOutputFile(options.output, options.statsJsonPath)) {
        throw OptionError("--stats-json " + options.statsJsonPath + ": is the same file as the " +
                          (options.output == "-" ? std::string("standard output")
                                                 : "output '" + options.output + "'") +
                          "; name another file for the figures");
    }
    GeneratorSettings& settings = options.settings;
    settings.period = ValidateDuration(raw.duration, options.sampleRate, note);
    settings.channelMode = IndexOf(kChannelWords, raw.channels);
    settings.asLeft = raw.asLeft;
    const std::array<std::string, kChannelCount> prefixes{"--left-", "--right-"};
    for (int c = 0; c < kChannelCount; ++c) {
        settings.channels[c] = ValidateChannel(prefixes[c], raw.channel[c], options.sampleRate);
    }
    // Only the settings the rendering uses: mono has no right chain, and with
    // "= Left" the right channel follows the left one's modulation.
    RequireModPeriod(prefixes[kLeft], raw.channel[kLeft], settings.channels[kLeft]);
    if (settings.channelMode == kStereo && !settings.asLeft) {
        RequireModPeriod(prefixes[kRight], raw.channel[kRight], settings.channels[kRight]);
    }
    return options;
}

// A validator whose own description stays out of the help, which already
// states every option's accepted values in its description.
CLI::Validator Quiet(CLI::Validator v) {
    v.description("");
    return v;
}

void AddChannelOptions(CLI::App& app, const std::string& side, RawChannel& raw) {
    const std::string prefix = "--" + side + "-";
    const std::string group = side == "left" ? "Left channel (the mono channel)" : "Right channel";
    const auto add = [&](const std::string& name, std::string& value, const std::string& type,
                         const std::string& description) {
        return app.add_option(prefix + name, value, description)->type_name(type)->group(group);
    };
    add("noise", raw.noise, "WORD", "noise function: white or pink (default pink)")
        ->transform(Quiet(CLI::IsMember(Texts(kNoiseWords), CLI::ignore_case)));
    add("crest", raw.crest, "RATIO",
        "crest factor: 1.42:1, 2:1, 3:1, 4:1, 6:1, 8:1 or 10:1, or its index 0..6 "
        "(default 6:1)")
        ->check(CLI::Validator(
            [](std::string& text) {
                return CrestIndexOf(text) < 0
                           ? "'" + text + "' is not one of 1.42:1 2:1 3:1 4:1 6:1 8:1 10:1 0..6"
                           : std::string{};
            },
            ""));
    add("amplitude", raw.amplitude, "DBFS", "amplitude in dBFS, -100 to 0, 2 decimals (default 0)");
    add("filter", raw.filter, "TYPE",
        "filter: none, peaking, highpass, lowpass, bandpass or notch (default none)")
        ->transform(Quiet(CLI::IsMember(Texts(kFilterWords), CLI::ignore_case)));
    add("freq", raw.frequency, "HZ",
        "filter frequency in Hz, 1 to half the rate, 5 decimals (default 1000)");
    add("gain", raw.gain, "DB", "peaking filter gain in dB, any number, 5 decimals (default 0)");
    add("q", raw.q, "Q", "filter Q, 0.01 to 100000, 5 decimals (default 1)");
    app.add_flag(prefix + "mod", raw.mod, "modulation on (default off)")->group(group);
    add("mod-function", raw.modFunction, "WORD",
        "modulation function: sine, cosine, square or triangular (default sine)")
        ->transform(Quiet(CLI::IsMember(Texts(kModWords), CLI::ignore_case)));
    add("mod-period", raw.modPeriod, "SECONDS",
        "modulation period in seconds, any number (not 0 with modulation on), 3 decimals "
        "(default 1)");
    add("mod-depth", raw.modDepth, "PERCENT",
        "modulation depth in %, 0 to 100, 10 decimals (default 100)");
    add("mod-phase", raw.modPhase, "DEGREES",
        "modulation phase in degrees, at least 0, 10 decimals (default 0)");
    app.add_flag(prefix + "off", raw.off,
                 "on tick off: the channel is silent in stereo (default on; no effect in mono)")
        ->group(group);
}

// A slot carries every signal setting: only the rate and the output (its
// type, --verbose, --quiet and the figures) go with --preset.
void RejectSignalOptionsWithPreset(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (option->count() > 0 && name != "output" && name != "--rate" && name != "--preset" &&
            name != "--slot" && name != "--verbose" && name != "--quiet" && name != "--type" &&
            name != "--stats" && name != "--stats-json") {
            throw OptionError(name +
                              " cannot be combined with --preset: the slot holds the signal");
        }
    }
}

constexpr const char* kFooter =
    R"(Numbers take "." or "," as decimal mark and are rounded to the decimals
given, as the generator window rounds its entries. The filter uses frequency
and Q (peaking also gain); highpass and lowpass play with Q 1, as they do in
the generator window. A filter whose design overflows (a peaking gain of
-400 dB or 1e6 dB) lets nothing through: that channel renders as silence, as
the generator plays it, and a note on standard error says so.
A duration is seconds (90, 1.5), M:SS or H:MM:SS with an optional fraction
(1:30, 1:02:03.5), or frames at the chosen rate with an "s" (48000s).
The output type follows the file's extension (.wav, .w64, .rf64, .flac) unless
--type names it; a WAV holds at most 4 GiB of samples, W64 and RF64 have no
such limit. Standard output takes WAV only.
On a terminal a progress line shows on standard error for a long render.
Exit status: 0 written, 1 rendering or writing failed, 2 bad command line.

Examples:
  skarnel-render --duration 30 --left-noise white --left-crest 1.42:1 white.wav
  skarnel-render -r 48000 -c stereo --left-filter peaking --left-freq 1000 \
      --left-gain -10 --left-q 3 --right-off peak_left_only.wav
  skarnel-render -c stereo --left-mod --left-mod-function triangular \
      --left-mod-period 2 --as-left - | aplay
  skarnel-render -r 48000 -c stereo -d 24:00:00 --left-noise white burn-in.w64)";

}  // namespace

ParseResult ParseRenderOptions(int argc, const char* const* argv) {
    RawOptions raw;
    CLI::App app{
        "Renders one period of a Skarnel test signal to a 16-bit PCM file (WAV, W64, "
        "RF64 or FLAC).",
        "skarnel-render"};
    app.get_formatter()->column_width(32);
    app.footer(kFooter);

    const std::string signal = "Signal";
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("--version", std::string("skarnel-render ") + kProductVersion,
                         "print the program's name and version and exit");
    app.add_option("output", raw.output,
                   "file to write, its type from the extension (.wav, .w64, .rf64, .flac) "
                   "or --type; - writes a WAV to standard output")
        ->required()
        ->type_name("FILE");
    app.add_option("-t,--type", raw.type,
                   "output type: wav, w64, rf64 or flac, whatever the file's extension")
        ->type_name("TYPE")
        ->group("Output")
        ->transform(Quiet(CLI::IsMember({"wav", "w64", "rf64", "flac"}, CLI::ignore_case)));
    std::vector<std::string> rates;
    for (const std::int32_t rate : kSampleRateItems) {
        rates.push_back(std::to_string(rate));
    }
    app.add_option("-r,--rate", raw.rate,
                   "sampling rate in Hz: 8000, 11025, 22050, 44100, 48000, 96000 or 192000 "
                   "(default 44100)")
        ->type_name("HZ")
        ->group(signal)
        ->check(Quiet(CLI::IsMember(rates)));  // a text, so a non-number is "not in" too
    app.add_option("-d,--duration", raw.duration,
                   "period: seconds, M:SS, H:MM:SS (fractions allowed) or frames as 48000s; "
                   "at least 0.1 s, 10 decimals (default 10)")
        ->type_name("TIME")
        ->group(signal);
    app.add_option("-c,--channels", raw.channels,
                   "mono or stereo (default mono); mono renders the left channel")
        ->type_name("MODE")
        ->group(signal)
        ->transform(Quiet(CLI::IsMember(Texts(kChannelWords), CLI::ignore_case)));
    app.add_flag("--as-left", raw.asLeft,
                 "\"= Left\": the right channel takes the left one's noise, crest factor, "
                 "amplitude, modulation and on tick, but keeps its own filter")
        ->group(signal);
    app.add_flag("-v,--verbose", raw.verbose, "print a one-line summary on standard error")
        ->group("Output");
    app.add_flag("-q,--quiet", raw.quiet,
                 "no progress line (shown on standard error when it is a terminal)")
        ->group("Output");
    app.add_option("--preset", raw.preset,
                   "render a memory slot of this preset file instead of the options below; "
                   "its texts are validated as a recall validates them")
        ->type_name("FILE")
        ->group(signal);
    app.add_option("--slot", raw.slot, "the slot of --preset, 1 to 4 (default 1)")
        ->type_name("N")
        ->group(signal)
        ->check(Quiet(CLI::Range(1, 4)))
        ->needs("--preset");
    const std::string figures = "Figures of the rendered signal";
    app.add_flag("--stats", raw.stats,
                 "print per channel RMS and peak level (dBFS), crest factor, clipped "
                 "samples and the third-octave band levels on standard error")
        ->group(figures);
    app.add_option("--stats-json", raw.statsJson, "write the same figures as JSON to this file")
        ->type_name("FILE")
        ->group(figures);
    AddChannelOptions(app, "left", raw.channel[kLeft]);
    AddChannelOptions(app, "right", raw.channel[kRight]);

    ParseResult result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // CLI11 has its own exit code per error kind; the tool knows only
        // success (help) and a bad command line.
        std::ostringstream out;
        std::ostringstream err;
        result.exitCode = app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
        result.output = out.str();
        result.error = err.str();
        return result;
    }
    try {
        if (!raw.preset.empty()) {
            RejectSignalOptionsWithPreset(app);
        }
        std::string note;
        result.options = Validate(raw, note);
        result.error = note;
    } catch (const OptionError& e) {
        result.exitCode = kExitUsage;
        result.error = std::string(e.what()) + "\n" + std::string(kHelpHint);
        return result;
    }
    if (!raw.preset.empty()) {
        try {
            ApplyPreset(ReadPresetSlot(raw.preset, raw.slot), *result.options);
            result.options->source =
                "slot " + std::to_string(raw.slot) + " of \"" + raw.preset + "\"";
        } catch (const std::runtime_error& e) {
            result.options.reset();
            result.exitCode = kExitRenderFailed;
            result.error = std::string("skarnel-render: ") + e.what() + "\n";
        }
    }
    return result;
}

long double ConfigureEngine(const RenderOptions& options, SignalEngine& engine,
                            std::string* period) {
    GeneratorModel model(engine, nullptr);
    StartAsNewWindow(model, options.sampleRate);
    model.Recall(options.settings);
    // As the window's export does: a fresh preparation from what the recall
    // left in the entries (high and low pass now read Q "1").
    model.Prepare();
    if (period != nullptr) {
        *period = model.values().period;
    }
    return ReadNumber(model.values().period);
}

}  // namespace skarnel::render
