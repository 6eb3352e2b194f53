// skarnel-render: renders one period of a generator's signal to a WAV, W64,
// RF64 or FLAC file or to standard output, from command-line settings.

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>

#include "engine/filter.h"
#include "engine/uniform_random.h"
#include "export/byte_sink.h"
#include "export/wave_writer.h"
#include "io/temporary_files.h"
#include "numtext/conversion_error.h"
#include "render/output_type.h"
#include "render/progress_meter.h"
#include "render/render_options.h"
#include "render/render_stats.h"
#include "render/sound_file_writer.h"

namespace {

skarnel::WaveWriteResult WriteToStandardOutput(skarnel::SignalEngine& engine, long double seconds,
                                               const skarnel::WaveExportHooks& hooks) {
    // A reader that goes away must show up as a write error, not end the
    // process silently.
    std::signal(SIGPIPE, SIG_IGN);
    skarnel::FileDescriptorSink sink(STDOUT_FILENO, /*ownsDescriptor=*/false);
    skarnel::WaveWriteResult result = skarnel::WriteWaveStream(engine, sink, seconds, hooks);
    if (result.status == skarnel::WaveWriteStatus::kWriteFailed) {
        result.systemError = sink.error();
    }
    return result;
}

// Prints the figures on standard error and writes the JSON file; false (with
// a message) when the file cannot be written.
bool ReportFigures(const skarnel::render::RenderOptions& options,
                   const skarnel::SignalAnalyzer& analyzer,
                   const skarnel::render::ClippedSamples& clipped) {
    if (options.stats) {
        std::cerr << skarnel::render::StatsTable(analyzer, clipped) << std::flush;
    }
    if (options.statsJsonPath.empty()) {
        return true;
    }
    std::ofstream json(options.statsJsonPath, std::ios::binary | std::ios::trunc);
    json << skarnel::render::StatsJson(analyzer, clipped);
    json.close();
    if (!json) {
        std::cerr << "skarnel-render: " << options.statsJsonPath
                  << ": the figures could not be written.\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace skarnel;
    // Ctrl+C or a timeout during a long render leaves no hidden half file.
    temporary_files::RemoveOnTerminationSignals();
    const render::ParseResult parsed = render::ParseRenderOptions(argc, argv);
    std::cout << parsed.output << std::flush;
    std::cerr << parsed.error;
    if (!parsed.options) {
        return parsed.exitCode;
    }
    const render::RenderOptions& options = *parsed.options;
    const bool toStandardOutput = options.output == "-";

    try {
        // The process's own generator, fresh: the WAV equals the program's
        // first rendering of these settings.
        SignalEngine engine(ProcessRandom());
        std::string period;
        const long double seconds = render::ConfigureEngine(options, engine, &period);
        const int channels = engine.live.channelMode == kStereo ? 2 : 1;
        const std::int64_t frames = WaveFrameCount(seconds, options.sampleRate);
        // A filter whose design overflows plays silence, as defined; a
        // silent file needs a word why.
        for (int c = 0; c < channels; ++c) {
            if (engine.live.filterType[c] > kFilterNone &&
                FilterPassesNothing(engine.state.channels[c])) {
                std::cerr << "skarnel-render: the " << (c == kLeft ? "left" : "right")
                          << " channel's filter lets nothing through at these settings (its "
                             "design overflows, as at a peaking gain of -400 dB or 1e6 dB): "
                             "that channel renders as silence, as the generator plays it.\n";
            }
        }
        // The figures come from the frames as they are written.
        std::optional<render::RenderMeasurement> measurement;
        WaveExportHooks hooks;
        if (options.stats || !options.statsJsonPath.empty()) {
            measurement.emplace(options.sampleRate, channels, frames);
            hooks = measurement->Hooks();
        }
        std::optional<render::ProgressMeter> progress;
        if (render::ProgressMeter::WantedOnStandardError(options.quiet)) {
            progress.emplace(
                render::ProgressMeter::ForStandardError(frames, 2 * channels, options.sampleRate));
            hooks.written = [measured = std::move(hooks.written), &progress](
                                const std::uint8_t* data, std::size_t bytes) {
                if (measured) {
                    measured(data, bytes);
                }
                progress->Written(bytes);
            };
        }
        WaveWriteResult result;
        if (toStandardOutput) {
            result = WriteToStandardOutput(engine, seconds, hooks);
        } else if (options.type == render::OutputType::kWav) {
            result = WriteWaveFile(engine, options.output, seconds, hooks);
            if (result.status == WaveWriteStatus::kRefused) {
                result.message += " Longer periods fit a .w64 file or --type rf64.";
            }
        } else {
            result = render::WriteSoundFile(engine, options.output, options.type, frames, hooks);
        }
        if (progress) {
            progress->Finish(result.status == WaveWriteStatus::kCompleted);
        }
        if (result.status != WaveWriteStatus::kCompleted) {
            std::cerr << "skarnel-render: "
                      << (toStandardOutput ? "standard output" : options.output) << ": "
                      << (result.message.empty() ? "writing was cancelled."
                                                 : MessageWithReason(result))
                      << "\n";
            return render::kExitRenderFailed;
        }
        if (options.verbose) {
            std::cerr << "skarnel-render: wrote " << frames << " frames (" << period << " s, "
                      << (options.settings.channelMode == kStereo ? "stereo" : "mono") << ", "
                      << options.sampleRate << " Hz, " << render::OutputTypeName(options.type)
                      << ") to " << (toStandardOutput ? "standard output" : options.output) << "\n";
        }
        if (measurement && !ReportFigures(options, measurement->analyzer, result.clippedSamples)) {
            return render::kExitRenderFailed;
        }
        // Whether or not the figures were asked for: a clipped signal is
        // not the one the settings describe.
        std::cerr << render::ClippedLine(result.clippedSamples) << std::flush;
    } catch (const ConversionError& e) {
        // A slot whose filter text cannot be read fails its recall.
        std::cerr << "skarnel-render: " << (options.source.empty() ? "" : options.source + ": ")
                  << e.what() << "\n";
        return render::kExitRenderFailed;
    } catch (const std::exception& e) {
        std::cerr << "skarnel-render: " << e.what() << "\n";
        return render::kExitRenderFailed;
    }
    return render::kExitOk;
}
