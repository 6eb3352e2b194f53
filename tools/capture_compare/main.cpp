// skarnel-capture-compare: compares a raw recording of a sound server's
// monitor with the WAV file skarnel-render wrote for the same settings.
// Prints where the signal lies in the recording and every break in it; the
// last line is one for scripts:
//   result: bit-exact|broken compared=N lost=N inserted=N breaks=N rate=HZ
// Exit status: 0 bit-exact, 1 broken or not found, 2 bad arguments or files.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string_view>

#include "capture_compare/capture_compare.h"

namespace {

bool ReadFile(const std::string& path, skarnel::capture::Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace skarnel::capture;
    CLI::App app{
        "Compares a raw monitor recording with skarnel-render's WAV file, frame by frame."};
    std::string recordingPath;
    std::string renderPath;
    bool anywhere = false;
    bool mayEndFirst = false;
    std::size_t playedFrames = 0;
    app.add_option("recording", recordingPath,
                   "recording in the render's sample format: raw (as parec --raw writes it) or WAV")
        ->required();
    app.add_option("render", renderPath, "WAV file written by skarnel-render")->required();
    app.add_flag("--anywhere", anywhere,
                 "the recording may start anywhere in the render (a later playback of one "
                 "process: the noise goes on from where the last one stopped)");
    app.add_option("--frames", playedFrames,
                   "frames that were played from the signal's start (default: the whole render)");
    app.add_flag("--recording-may-end-first", mayEndFirst,
                 "the recorder stopped while the signal still played");
    CLI11_PARSE(app, argc, argv);

    Bytes recordingBytes;
    Bytes renderBytes;
    if (!ReadFile(recordingPath, recordingBytes) || !ReadFile(renderPath, renderBytes)) {
        std::cerr << "skarnel-capture-compare: cannot read " << recordingPath << " or "
                  << renderPath << "\n";
        return 2;
    }
    std::string error;
    const std::optional<WaveData> render = ParseWave(renderBytes, error);
    if (!render) {
        std::cerr << "skarnel-capture-compare: " << renderPath << ": " << error << "\n";
        return 2;
    }
    // pw-record writes a WAV file; parec writes raw samples.
    std::span<const std::uint8_t> recording = recordingBytes;
    std::optional<WaveData> recordedWave;
    if (recordingBytes.size() >= 4 && std::equal(recordingBytes.begin(), recordingBytes.begin() + 4,
                                                 std::string_view("RIFF").begin())) {
        recordedWave = ParseWave(recordingBytes, error);
        if (!recordedWave || recordedWave->frameBytes != render->frameBytes) {
            std::cerr << "skarnel-capture-compare: " << recordingPath << ": "
                      << (recordedWave ? "another frame size than the render's" : error) << "\n";
            return 2;
        }
        recording = recordedWave->samples;
    }
    CompareOptions options;
    options.frameBytes = render->frameBytes;
    options.anchor = anywhere ? Anchor::kAnywhere : Anchor::kRenderStart;
    if (playedFrames != 0) {
        options.playedFrames = playedFrames;
    }
    options.recordingMayEndFirst = mayEndFirst;
    const CompareResult result = Compare(recording, render->samples, options);
    std::cout << Describe(result, render->sampleRate);
    std::cout << "result: " << (result.BitExact() ? "bit-exact" : "broken")
              << " compared=" << result.comparedFrames << " lost=" << result.LostFrames()
              << " inserted=" << result.InsertedFrames() << " breaks=" << result.breaks.size()
              << " rate=" << render->sampleRate << "\n";
    return result.BitExact() ? 0 : 1;
}
