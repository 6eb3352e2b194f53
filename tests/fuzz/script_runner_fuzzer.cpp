// Runs arbitrary script text through RunScript against a scripted program.
//
// Input: two bytes of setup, then the script (lines end in "\n" or "\r\n").
//   byte 0: bit 0 the Loop box is ticked before the script; bits 1-3 the wait
//           steps a started output plays before its device closes (0: the
//           start fails); bit 4 the user's button is Next, otherwise Cancel.
//   byte 1: the event point (wait step or event handling, counted from 1) at
//           which the user presses that button while the script window shows;
//           0: never.
// A preset path beginning with "missing" does not exist; one beginning with
// "bad" exists and cannot be read. Runaway scripts ("repeat", long delays)
// are stopped after kBudget event points the way Next stops them.
//
// Checked: no exception leaves RunScript; a play runs "file exists, load,
// recall, Loop off, start" in that order and a missing file gives its
// message; the wait flag is set at every wait step and cleared after each
// wait; the generator stays disabled while the script window shows; a label
// names the line count since the start or the last "repeat"; after Cancel no
// line is read, after Next no wait step either; and in every outcome the Loop
// box is back, the wait flag clear, and the generator enabled exactly when
// the script window is hidden: a normal end raises the generator once and
// hides the window; a failure raises nothing, shows its message last and
// leaves the window up (unless Cancel hid it already); after Next the script
// ends normally at once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_runner.h"

namespace {

using namespace skarnel;

constexpr int kBudget = 300;

// Names the broken invariant before the fuzzer records the input.
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

[[noreturn]] void Fail(const char* condition, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, condition);
    std::abort();
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

class MemorySource : public ScriptSource {
public:
    explicit MemorySource(std::string_view text) {
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            std::string_view line = text.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            lines_.emplace_back(line);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        }
    }

    std::string NextLine() override {
        ++read_since_rewind;
        return next_ < lines_.size() ? lines_[next_++] : std::string();
    }
    void Rewind() override {
        next_ = 0;
        read_since_rewind = 0;
    }

    int read_since_rewind = 0;

private:
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
};

class Program : public ScriptHost {
public:
    Program(std::uint8_t setup, std::uint8_t act_at, const MemorySource& source)
        : loop_before((setup & 1) != 0),
          loop((setup & 1) != 0),
          play_steps_((setup >> 1) & 7),
          next_button_((setup & 0x10) != 0),
          act_at_(act_at),
          source_(source) {}

    const bool loop_before;
    bool loop;
    bool generator_enabled = true;
    bool window_visible = false;
    bool waiting = false;
    bool next_pressed = false;
    int raises = 0;
    int event_points = 0;
    std::string last_message;

    // A play runs its steps in this order: 0 idle, 1 file exists, 2 loaded,
    // 3 recalled, 4 Loop unticked; -1: a missing file, whose message is due.
    int play_step = 0;

    bool LoopTicked() override { return loop; }
    void SetLoop(bool ticked) override {
        if (play_step == 3) {
            CHECK(!ticked);
            play_step = 4;
        } else {
            CHECK(play_step >= 0 && ticked == loop_before);  // the restore
            play_step = 0;
        }
        loop = ticked;
    }
    void DisableGenerator() override {
        Idle();
        generator_enabled = false;
    }
    void EnableAndRaiseGenerator() override {
        Idle();
        generator_enabled = true;
        ++raises;
    }
    void ShowScriptWindow() override {
        Idle();
        window_visible = true;
    }
    void HideScriptWindow() override {
        Idle();
        window_visible = false;
        generator_enabled = true;
    }
    bool ScriptWindowVisible() override { return window_visible; }
    void SetScriptLabel(const std::string& text) override {
        Idle();
        CHECK(!next_pressed && !cancelled_);
        CHECK(StartsWith(text, "Line " + std::to_string(source_.read_since_rewind) + ": "));
    }
    void ShowMessage(const std::string& text) override {
        CheckDisabled();
        if (play_step == -1) {
            CHECK(text == "FILE NOT FOUND: '" + path_ + "'.");
            play_step = 0;
        } else {
            Idle();
        }
        last_message = text;
    }
    PathKind KindOf(const std::string& path) override {
        Idle();
        path_ = path;
        const bool exists = !StartsWith(path, "missing");
        play_step = exists ? 1 : -1;
        return exists ? PathKind::kFile : PathKind::kMissing;
    }
    void LoadPresetFile(const std::string& path) override {
        CheckDisabled();
        CHECK(play_step == 1 && path == path_);
        play_step = 2;
        if (StartsWith(path, "bad")) {
            play_step = 0;
            throw std::runtime_error("Cannot read preset " + path);
        }
    }
    void RecallMemory(int) override {
        CheckDisabled();
        CHECK(play_step == 2);
        play_step = 3;
    }
    void StartGenerator() override {
        CheckDisabled();
        CHECK(play_step == 4);
        play_step = 0;
        running_ = play_steps_ > 0;
        steps_left_ = play_steps_;
    }
    bool OutputRunning() override { return running_; }
    void WaitStep() override {
        Idle();
        CheckDisabled();
        CHECK(waiting && !next_pressed);
        if (running_ && --steps_left_ == 0) {
            running_ = false;
            waiting = false;  // the device-closed handler
        }
        EventPoint();
    }
    void HandleEvents() override {
        Idle();
        CHECK(!waiting);
        EventPoint();
    }
    bool& ScriptWaiting() override { return waiting; }

private:
    void Idle() const { CHECK(play_step == 0); }
    void CheckDisabled() const { CHECK(!window_visible || !generator_enabled); }

    void EventPoint() {
        ++event_points;
        if (event_points == act_at_ && window_visible) {
            if (next_button_) {
                Next();
            } else {
                cancelled_ = true;
                HideScriptWindow();
            }
        }
        if (event_points >= kBudget && !next_pressed) {
            Next();  // a runaway script
        }
    }
    void Next() {
        next_pressed = true;
        waiting = false;
        HideScriptWindow();
    }

    const int play_steps_;
    const bool next_button_;
    const int act_at_;
    const MemorySource& source_;
    bool cancelled_ = false;
    bool running_ = false;
    int steps_left_ = 0;
    std::string path_;
};

// The message of a failure reaches the user as a C string, so a NUL byte of
// the script ends it early.
bool IsFailureMessage(const std::string& text, bool script_has_nul) {
    return StartsWith(text, "Cannot read preset ") ||
           EndsWith(text, "' is not a valid integer value") ||
           EndsWith(text, "' is not a valid floating point value") ||
           (script_has_nul && StartsWith(text, "'"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view script(reinterpret_cast<const char*>(data) + 2, size - 2);
    MemorySource source(script);
    Program program(data[0], data[1], source);
    RunScript(source, program);

    CHECK(program.loop == program.loop_before);
    CHECK(!program.waiting);
    CHECK(program.play_step == 0);
    CHECK(program.generator_enabled == !program.window_visible);
    CHECK(program.event_points <= kBudget + 1);  // Next ends the script at once
    if (program.raises == 1) {
        CHECK(!program.window_visible);
    } else {
        CHECK(program.raises == 0 && !program.next_pressed);
        CHECK(IsFailureMessage(program.last_message, script.find('\0') != std::string_view::npos));
    }
    return 0;
}
