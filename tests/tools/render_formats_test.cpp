// skarnel-render's output types: W64, RF64 and FLAC hold the samples of the
// WAV render of the same settings; the type comes from the extension or
// --type, and a name that gives none is refused before anything is written.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "render/output_type.h"
#include "render/progress_meter.h"
#include "render_tool_fixture.h"

namespace skarnel {
namespace {

using namespace render_test;

struct Decoded {
    int rate = 0;
    int channels = 0;
    std::vector<short> samples;
};

// A file as libsndfile reads it back, whatever its container.
Decoded Decode(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Decoded decoded;
    if (file == nullptr) {
        ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
        return decoded;
    }
    decoded.rate = info.samplerate;
    decoded.channels = info.channels;
    decoded.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_short(file, decoded.samples.data(), info.frames), info.frames) << path;
    sf_close(file);
    return decoded;
}

// The samples of a 16-bit WAV as our writer lays it out (44-byte header).
std::vector<short> WavSamples(const Bytes& wav) {
    std::vector<short> samples;
    for (std::size_t at = 44; at + 1 < wav.size(); at += 2) {
        samples.push_back(static_cast<short>(Le(wav, at, 2)));
    }
    return samples;
}

std::vector<std::string> FolderNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using RenderFormats = RenderTool;

TEST_F(RenderFormats, EveryTypeHoldsTheSamplesOfTheWavRender) {
    const std::vector<std::string> signals{
        "-r 48000 -d 1.5 -c stereo --left-noise white --right-crest 10:1 --right-amplitude -6",
        "-r 44100 -d 0.7 --left-filter peaking --left-gain -10 --left-q 3 --left-mod",
    };
    struct Output {
        std::string name;
        std::string options;
        std::string magic;  // the first four bytes of the container
    };
    const std::vector<Output> outputs{{"a.w64", "", "riff"},
                                      {"a.rf64", "", "RF64"},
                                      {"a.flac", "", "fLaC"},
                                      {"rf64.wav", "--type rf64", "RF64"},
                                      {"FLAC.out", "-t FLAC", "fLaC"}};
    for (const std::string& signal : signals) {
        ASSERT_EQ(
            Render(signal + " --stats-json " + Path("wav.json").string(), Path("a.wav")).exitCode,
            0);
        const Bytes wav = ReadBytes(Path("a.wav"));
        const std::vector<short> expected = WavSamples(wav);
        ASSERT_GT(expected.size(), 30000u);
        for (const Output& out : outputs) {
            const std::string json = Path(out.name + ".json").string();
            const ProcessRun run =
                Render(signal + " " + out.options + " --stats-json " + json, Path(out.name));
            ASSERT_EQ(run.exitCode, 0) << out.name << ": " << run.err;
            EXPECT_EQ(Tag(ReadBytes(Path(out.name)), 0), out.magic) << out.name;
            const Decoded decoded = Decode(Path(out.name));
            EXPECT_EQ(decoded.rate, static_cast<int>(Le(wav, 24, 4))) << out.name;
            EXPECT_EQ(decoded.channels, static_cast<int>(Le(wav, 22, 2))) << out.name;
            EXPECT_TRUE(decoded.samples == expected) << out.name << " differs from the WAV";
            // The figures come from the frames, so they are the WAV's.
            EXPECT_EQ(ReadBytes(json), ReadBytes(Path("wav.json"))) << out.name;
        }
    }
}

TEST_F(RenderFormats, NamesWithoutAKnownTypeAreRefusedBeforeWriting) {
    for (const std::string name : {"a.mp3", "a.txt", "noextension", ".flac", "a.wav.part"}) {
        const ProcessRun run = Render("-d 0.1", Path(name));
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_NE(run.err.find("wav, w64, rf64, flac"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
    }
    // Types that need their header completed after the samples cannot go to
    // a pipe; an unknown --type word is refused as any bad word is.
    for (const std::string options : {"--type w64", "--type rf64", "--type flac", "--type ogg"}) {
        const ProcessRun run = Render("-d 0.1 " + options, "-");
        EXPECT_EQ(run.exitCode, 2) << options;
        EXPECT_TRUE(run.out.empty()) << options;
        EXPECT_NE(run.err.find("--type"), std::string::npos) << run.err;
    }
    EXPECT_EQ(FolderNames(dir_), (std::vector<std::string>{"stderr", "stdout"}));
    // "-t wav" on standard output is today's WAV stream.
    const ProcessRun wav = Render("-d 0.1 -t wav", "-");
    EXPECT_EQ(wav.exitCode, 0);
    EXPECT_EQ(Tag(wav.out, 0), "RIFF");
}

TEST_F(RenderFormats, AnOverLongWavIsRefusedWithTheLongerTypesNamed) {
    const ProcessRun run = Render("-d 6000 -r 192000 -c stereo", Path("long.wav"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("too long for a WAV file"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(".w64"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--type rf64"), std::string::npos) << run.err;
    EXPECT_EQ(FolderNames(dir_), (std::vector<std::string>{"stderr", "stdout"}));
}

TEST_F(RenderFormats, ASignalEndingAW64OrFlacRenderLeavesNoFileBehind) {
    for (const std::string name : {"long.w64", "long.flac"}) {
        const pid_t pid = Start("-r 192000 -c stereo -d 5000", Path(name));
        ASSERT_GT(pid, 0);
        const auto temporaryExists = [&] {
            for (const std::string& n : FolderNames(dir_)) {
                if (n.starts_with("." + name + ".")) {
                    return true;
                }
            }
            return false;
        };
        for (int i = 0; i < 1000 && !temporaryExists(); ++i) {
            usleep(10000);
        }
        ASSERT_TRUE(temporaryExists()) << name;
        kill(pid, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(FolderNames(dir_), (std::vector<std::string>{"stderr", "stdout"})) << name;
    }
}

TEST_F(RenderFormats, VersionPrintsTheProgramsVersion) {
    const ProcessRun run = Render("--version", "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(std::string(run.out.begin(), run.out.end()), "skarnel-render 1.0\n");
    EXPECT_EQ(run.err, "");
}

// Standard error here is a file, not a terminal: a render that runs well
// past the moment a terminal would get its progress line prints nothing. The
// render is far longer than the wait and is stopped, so the check does not
// depend on how fast the build renders (a sanitizer build is many times
// slower).
TEST_F(RenderFormats, NoProgressLineWhenStandardErrorIsNotATerminal) {
    const pid_t pid = Start("-r 192000 -c stereo -d 3000 -t wav", "/dev/null");
    ASSERT_GT(pid, 0);
    const double wait =
        render::ProgressMeter::kFirstShowSeconds + 2 * render::ProgressMeter::kUpdateSeconds;
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the render ended before a line was due";
    kill(pid, SIGTERM);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const Bytes err = ReadBytes(Path("stderr"));
    EXPECT_EQ(std::string(err.begin(), err.end()), "");
}

TEST(OutputType, ExtensionsAndWordsInAnyCase) {
    using render::OutputType;
    EXPECT_EQ(render::OutputTypeOfPath("x/a.wav"), OutputType::kWav);
    EXPECT_EQ(render::OutputTypeOfPath("A.W64"), OutputType::kW64);
    EXPECT_EQ(render::OutputTypeOfPath("dir.flac/b.Rf64"), OutputType::kRf64);
    EXPECT_EQ(render::OutputTypeOfPath("burn.in.flac"), OutputType::kFlac);
    EXPECT_EQ(render::OutputTypeOfPath("dir.wav/noext"), std::nullopt);
    EXPECT_EQ(render::OutputTypeOfPath("x/.wav"), std::nullopt);
    EXPECT_EQ(render::OutputTypeOfPath("a.wave"), std::nullopt);
    EXPECT_EQ(render::OutputTypeNamed("FLAC"), OutputType::kFlac);
    EXPECT_EQ(render::OutputTypeNamed("aiff"), std::nullopt);
}

}  // namespace
}  // namespace skarnel
