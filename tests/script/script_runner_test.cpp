#include "script/script_runner.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace skarnel {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitScriptLine, SplitsAtBlanksOnly) {
    struct Case {
        std::string line, command, arg1, rest;
    };
    const std::string many_blanks = "a b c d e f g h i j k l m n o p q r s t u v w x y z";
    for (const Case& c : std::vector<Case>{
             {"PLAY 1 A.wbp", "play", "1", "A.wbp"},
             {"Play 2 My Presets/Pink  Loud.WBP", "play", "2", "My Presets/Pink  Loud.WBP"},
             {"play  x", "play", "", "x"},
             {" play 1 x", "", "play", "1 x"},
             {"pause", "pause", "", ""},
             {"pause ", "pause", "", ""},
             {"pause word", "pause", "word", ""},
             {"rem 1 a b ", "rem", "1", "a b"},
             {"rem 1 a b  ", "rem", "1", "a b "},
             {"rem 1  ", "rem", "1", ""},
             {"", "", "", ""},
             {"play\t1 x\ty", "play\t1", "x\ty", ""},
             {"REM\xC4 \xC4X", "rem\xC4", "\xC4X", ""},
             {"play 3 " + many_blanks, "play", "3", many_blanks},
         }) {
        const ScriptLine split = SplitScriptLine(c.line);
        EXPECT_EQ(split.command, c.command) << '"' << c.line << '"';
        EXPECT_EQ(split.arg1, c.arg1) << '"' << c.line << '"';
        EXPECT_EQ(split.rest, c.rest) << '"' << c.line << '"';
    }
}

class VectorSource : public ScriptSource {
public:
    explicit VectorSource(Lines lines) : lines_(std::move(lines)) {}
    std::string NextLine() override { return next_ < lines_.size() ? lines_[next_++] : ""; }
    void Rewind() override { next_ = 0; }

private:
    Lines lines_;
    std::size_t next_ = 0;
};

// A generator window whose output plays `play_steps` wait steps after each
// start and then closes, clearing the wait flag as the device-closed handler
// does. Hooks stand in for the user's Cancel and Next.
class FakeHost : public ScriptHost {
public:
    bool loop = true;
    bool generator_enabled = true;
    bool window_visible = false;
    bool running = false;
    bool waiting = false;
    int play_steps = 4;
    int steps_left = 0;
    int wait_steps = 0;
    int raises = 0;
    std::set<std::string> files;
    std::set<std::string> devices;  // paths that exist but are not regular files
    std::set<std::string> unreadable;
    Lines log;  // loads, recalls, Loop changes and starts in their order
    Lines labels;
    Lines messages;
    std::function<void(FakeHost&)> on_wait_step = [](FakeHost&) {};
    std::function<void(FakeHost&, int)> on_start = [](FakeHost&, int) {};

    int Starts() const { return static_cast<int>(std::count(log.begin(), log.end(), "start")); }
    void Next() {
        waiting = false;
        HideScriptWindow();
    }

    bool LoopTicked() override { return loop; }
    void SetLoop(bool ticked) override {
        loop = ticked;
        log.push_back(ticked ? "loop on" : "loop off");
    }
    void DisableGenerator() override { generator_enabled = false; }
    void EnableAndRaiseGenerator() override {
        generator_enabled = true;
        ++raises;
    }
    void ShowScriptWindow() override { window_visible = true; }
    void HideScriptWindow() override {
        window_visible = false;
        generator_enabled = true;
    }
    bool ScriptWindowVisible() override { return window_visible; }
    void SetScriptLabel(const std::string& text) override { labels.push_back(text); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    PathKind KindOf(const std::string& path) override {
        return files.count(path) != 0     ? PathKind::kFile
               : devices.count(path) != 0 ? PathKind::kOther
                                          : PathKind::kMissing;
    }
    void LoadPresetFile(const std::string& path) override {
        log.push_back("load " + path);
        if (unreadable.count(path) != 0) {
            throw std::runtime_error("Cannot read preset " + path);
        }
    }
    void RecallMemory(int slot) override { log.push_back("recall " + std::to_string(slot)); }
    void StartGenerator() override {
        log.push_back("start");
        running = true;
        steps_left = play_steps;
        on_start(*this, Starts());
    }
    bool OutputRunning() override { return running; }
    void WaitStep() override {
        ++wait_steps;
        if (running && --steps_left == 0) {
            running = false;
            waiting = false;
        }
        on_wait_step(*this);
        if (wait_steps > 100000) {
            Next();  // a runaway script fails its test instead of hanging it
        }
    }
    void HandleEvents() override {
        if (labels.size() > 1000) {
            HideScriptWindow();
        }
    }
    bool& ScriptWaiting() override { return waiting; }

    // The outcome of a script that ran to its normal end.
    void ExpectEndedNormally(bool loop_before) const {
        EXPECT_FALSE(window_visible);
        EXPECT_TRUE(generator_enabled);
        EXPECT_EQ(raises, 1);
        EXPECT_EQ(loop, loop_before);
        EXPECT_FALSE(waiting);
    }
};

ScriptOutcome RunLines(FakeHost& host, Lines lines) {
    VectorSource source(std::move(lines));
    return RunScript(source, host);
}

TEST(RunScript, PlayLoadsRecallsUnticksLoopAndWaitsForTheOutputToStop) {
    FakeHost host;
    host.files = {"pink.wbp"};
    host.play_steps = 7;
    bool disabled_while_playing = false;
    host.on_wait_step = [&](FakeHost& h) { disabled_while_playing = !h.generator_enabled; };
    RunLines(host, {"PLAY 5 pink.wbp", "end"});
    EXPECT_EQ(host.log, (Lines{"load pink.wbp", "recall 5", "loop off", "start", "loop on"}));
    EXPECT_EQ(host.wait_steps, 7);
    EXPECT_TRUE(disabled_while_playing);
    EXPECT_EQ(host.labels, (Lines{"Line 1: play 5", "Line 2: end "}));
    EXPECT_TRUE(host.messages.empty());
    host.ExpectEndedNormally(true);
}

TEST(RunScript, SlotNumbersAreSignedDecimalIntegers) {
    FakeHost host;
    host.loop = false;
    host.files = {"a"};
    host.play_steps = 1;
    RunLines(host, {"play +3 a", "play -1 a", "play 007 a", "end"});
    EXPECT_EQ(host.Starts(), 3);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "recall 3"), 1);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "recall -1"), 1);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "recall 7"), 1);
    host.ExpectEndedNormally(false);
}

TEST(RunScript, MissingFileIsReportedAndTheScriptGoesOn) {
    FakeHost host;
    EXPECT_EQ(RunLines(host, {"play 1 gone  now.wbp", "pause", "pause one", "pause one two  three",
                              "end"}),
              ScriptOutcome::kFailed);
    EXPECT_EQ(host.messages,
              (Lines{"FILE NOT FOUND: 'gone  now.wbp'.", "Pause in script. Press OK to continue",
                     "one ", "one two  three"}));
    EXPECT_EQ(host.Starts(), 0);
    EXPECT_EQ(host.labels.size(), 5u);
    host.ExpectEndedNormally(true);

    // A path that exists but is no regular file is said to be one, not missing.
    FakeHost device;
    device.devices = {"/dev/zero"};
    EXPECT_EQ(RunLines(device, {"play 1 /dev/zero", "end"}), ScriptOutcome::kFailed);
    EXPECT_EQ(device.messages,
              (Lines{"NOT A FILE: '/dev/zero' is a device, a pipe or a folder, not a preset "
                     "file."}));
    EXPECT_EQ(device.Starts(), 0);
    device.ExpectEndedNormally(true);
}

// How a script ended, for a caller on the command line: completed, or failed
// when it stopped on a failure or reported one.
TEST(RunScript, TheOutcomeTellsAFailedScript) {
    FakeHost fine;
    fine.files = {"a"};
    fine.play_steps = 1;
    EXPECT_EQ(RunLines(fine, {"play 1 a", "delay 0.1", "rem", "end"}), ScriptOutcome::kCompleted);
    FakeHost invalid;
    EXPECT_EQ(RunLines(invalid, {"jump 3", "end"}), ScriptOutcome::kFailed);
    FakeHost unreadable;
    unreadable.files = {"a"};
    EXPECT_EQ(RunLines(unreadable, {"play abc a", "end"}), ScriptOutcome::kFailed);
}

// A delay no wait can end (not finite, or past what the step count holds)
// is an invalid command after its first step, not a wait for ever.
TEST(RunScript, ADelayNoWaitCanEndIsAnInvalidCommand) {
    for (const std::string seconds : {"1e400", "99999999999999999999"}) {
        FakeHost host;
        EXPECT_EQ(RunLines(host, {"pause first", "delay " + seconds, "pause never", "end"}),
                  ScriptOutcome::kFailed)
            << seconds;
        EXPECT_EQ(host.wait_steps, 1) << seconds;
        EXPECT_EQ(host.messages, (Lines{"first ", "Invalid command in line 2"})) << seconds;
        EXPECT_FALSE(host.window_visible);
        EXPECT_TRUE(host.generator_enabled);
    }
    // The longest a delay may be still waits.
    FakeHost longest;
    longest.on_wait_step = [](FakeHost& h) {
        if (h.wait_steps == 3) {
            h.Next();
        }
    };
    EXPECT_EQ(RunLines(longest, {"delay 1e17", "end"}), ScriptOutcome::kCompleted);
    EXPECT_EQ(longest.wait_steps, 3);
}

TEST(RunScript, DelayWaitsTenStepsASecondAndAtLeastOne) {
    for (const auto& [seconds, steps] :
         std::vector<std::pair<std::string, int>>{{"0", 1}, {"-3", 1}, {"2.5", 25}, {"1", 10}}) {
        FakeHost host;
        RunLines(host, {"delay " + seconds, "end"});
        EXPECT_EQ(host.wait_steps, steps) << seconds;
        EXPECT_TRUE(host.messages.empty()) << seconds;
        host.ExpectEndedNormally(true);
    }
}

TEST(RunScript, NextCutsTheWaitShortAndEndsAfterThatLine) {
    const auto next_at_third_step = [](FakeHost& h) {
        if (h.wait_steps == 3) {
            h.Next();
        }
    };
    FakeHost delaying;
    delaying.on_wait_step = next_at_third_step;
    RunLines(delaying, {"delay 10", "pause never"});
    EXPECT_EQ(delaying.wait_steps, 3);
    EXPECT_TRUE(delaying.messages.empty());
    delaying.ExpectEndedNormally(true);

    FakeHost playing;
    playing.on_wait_step = next_at_third_step;
    playing.files = {"p"};
    playing.play_steps = 50;
    RunLines(playing, {"play 1 p", "pause never"});
    EXPECT_EQ(playing.wait_steps, 3);
    EXPECT_TRUE(playing.running);  // the preset plays on to the end of its period
    EXPECT_EQ(playing.labels.size(), 1u);
    playing.ExpectEndedNormally(true);
}

TEST(RunScript, CancelLetsTheCurrentDelayFinish) {
    FakeHost host;
    host.on_wait_step = [](FakeHost& h) {
        if (h.wait_steps == 2) {
            h.HideScriptWindow();
        }
    };
    RunLines(host, {"delay 2", "pause never"});
    EXPECT_EQ(host.wait_steps, 20);
    EXPECT_TRUE(host.messages.empty());
    host.ExpectEndedNormally(true);
}

TEST(RunScript, InvalidOrMissingCommandEndsTheScriptWithItsLineNumber) {
    struct Case {
        Lines lines;
        std::string message;
        std::size_t lines_run;
    };
    for (const Case& c : std::vector<Case>{
             {{"rem x", "delay 0", "", "end"}, "Invalid command in line 3", 3},
             {{"rem a", "rem b"}, "Invalid command in line 3", 3},
             {{" end"}, "Invalid command in line 1", 1},
             {{"stop", "end"}, "Invalid command in line 1", 1},
         }) {
        FakeHost host;
        RunLines(host, c.lines);
        EXPECT_EQ(host.messages, Lines{c.message});
        EXPECT_EQ(host.labels.size(), c.lines_run);
        host.ExpectEndedNormally(true);
    }
}

TEST(RunScript, RepeatPlaysUntilCancelAndRestartsTheLineCount) {
    FakeHost host;
    host.files = {"p"};
    host.play_steps = 5;
    host.on_start = [](FakeHost& h, int starts) {
        if (starts == 3) {
            h.HideScriptWindow();  // Cancel while the third play runs
        }
    };
    RunLines(host, {"play 1 p", "repeat"});
    EXPECT_EQ(host.Starts(), 3);
    EXPECT_EQ(host.wait_steps, 15);  // the cancelled play still waited for its end
    EXPECT_EQ(host.labels, (Lines{"Line 1: play 1", "Line 2: repeat ", "Line 1: play 1",
                                  "Line 2: repeat ", "Line 1: play 1"}));
    EXPECT_TRUE(host.messages.empty());
    host.ExpectEndedNormally(true);
}

TEST(RunScript, FailureStopsAtOnceAndLeavesTheScriptWindowUp) {
    for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
             {"play 2 bad.wbp", "Cannot read preset bad.wbp"},
             {"play x ok.wbp", "'x' is not a valid integer value"},
             {"play  ok.wbp", "'' is not a valid integer value"},
             {"play 1.0 ok.wbp", "'1.0' is not a valid integer value"},
             {"play 99999999999 ok.wbp", "'99999999999' is not a valid integer value"},
             {"delay abc", "'abc' is not a valid floating point value"},
             {"delay 1,5", "'1,5' is not a valid floating point value"},
             {"delay", "'' is not a valid floating point value"},
         }) {
        FakeHost host;
        host.files = {"ok.wbp", "bad.wbp"};
        host.unreadable = {"bad.wbp"};
        host.play_steps = 2;
        // The play before the failing line unticks Loop, which must come back.
        RunLines(host, {"play 1 ok.wbp", line, "end"});
        EXPECT_EQ(host.messages, Lines{message}) << line;
        EXPECT_EQ(host.labels.size(), 2u) << line;
        EXPECT_EQ(host.Starts(), 1) << line;
        EXPECT_TRUE(host.window_visible) << line;
        EXPECT_FALSE(host.generator_enabled) << line;
        EXPECT_EQ(host.raises, 0) << line;
        EXPECT_TRUE(host.loop) << line;
        EXPECT_FALSE(host.waiting) << line;
    }
}

class TempFile {
public:
    explicit TempFile(const std::string& content) {
        char name[] = "/tmp/script_runner_test_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_NE(fd, -1);
        close(fd);
        path_ = name;
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(RunScriptFile, ReadsCrLfAndLfLinesAndRewindsAfterAnUnendedLastLine) {
    const TempFile script("rem top\r\nplay 2 My Presets/a b.wbp\r\npause hi  there\nrepeat");
    FakeHost host;
    host.files = {"My Presets/a b.wbp"};
    host.play_steps = 1;
    host.on_start = [](FakeHost& h, int starts) {
        if (starts == 2) {
            h.HideScriptWindow();
        }
    };
    RunScriptFile(script.path(), host);
    EXPECT_EQ(host.log,
              (Lines{"load My Presets/a b.wbp", "recall 2", "loop off", "start",
                     "load My Presets/a b.wbp", "recall 2", "loop off", "start", "loop on"}));
    EXPECT_EQ(host.messages, Lines{"hi  there"});
    EXPECT_EQ(host.labels, (Lines{"Line 1: rem top", "Line 2: play 2", "Line 3: pause hi",
                                  "Line 4: repeat ", "Line 1: rem top", "Line 2: play 2"}));
    host.ExpectEndedNormally(true);
}

TEST(RunScriptFile, UnopenableFileIsReportedWithoutStartingTheScript) {
    std::string missing;
    {
        const TempFile gone("");
        missing = gone.path();
    }
    // A FIFO would block the open until a writer came; /dev/zero would be read
    // without end.
    const std::string fifo = missing + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [path, reason] : std::vector<std::pair<std::string, std::string>>{
             {missing, "No such file or directory"},
             {"/tmp", "Is a directory"},
             {fifo, "It is not a regular file"},
             {"/dev/zero", "It is not a regular file"}}) {
        FakeHost host;
        RunScriptFile(path, host);
        EXPECT_EQ(host.messages, Lines{"Cannot open file \"" + path + "\". " + reason + "."});
        EXPECT_TRUE(host.labels.empty());
        EXPECT_FALSE(host.window_visible);
        EXPECT_TRUE(host.generator_enabled);
    }
    std::remove(fifo.c_str());
}

// A line longer than 64 KiB is no command: the script ends there, as for any
// invalid line, without holding the line (50 MB of one line took minutes).
TEST(RunScriptFile, AnOverlongLineIsAnInvalidCommand) {
    const std::string longest = "rem " + std::string(kLongestScriptLine - 4, 'x');
    const TempFile script(longest + "\r\nrem " + std::string(8 * kLongestScriptLine, 'y') +
                          "\nrem never\n");
    FakeHost host;
    RunScriptFile(script.path(), host);
    EXPECT_EQ(host.messages, Lines{"Invalid command in line 2"});
    ASSERT_EQ(host.labels.size(), 1u);
    EXPECT_EQ(host.labels[0], "Line 1: rem " + std::string(kLongestScriptLine - 4, 'x'));
    host.ExpectEndedNormally(true);
}

}  // namespace
}  // namespace skarnel
