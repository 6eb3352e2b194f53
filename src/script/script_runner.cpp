#include "script/script_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

#include "numtext/number_reader.h"

namespace skarnel {
namespace {

constexpr char kBlank = ' ';

// ASCII only: the bytes of an 8-bit script above 127 stay as they are,
// whatever locale the program runs in.
std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// A decimal integer with an optional sign, nothing else (no blanks, no hex);
// a value outside int is not an integer either.
int ReadSlotNumber(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);  // from_chars takes "-" but not "+"
        if (!digits.empty() && digits.front() == '-') {
            digits = {};
        }
    }
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
        throw std::runtime_error("'" + text + "' is not a valid integer value");
    }
    return value;
}

// Keeps the program-wide wait flag cleared however a wait is left, a failure
// included, so that no stale request outlives the script.
class WaitFlagReset {
public:
    explicit WaitFlagReset(ScriptHost& host) : host_(host) {}
    ~WaitFlagReset() { host_.ScriptWaiting() = false; }
    WaitFlagReset(const WaitFlagReset&) = delete;
    WaitFlagReset& operator=(const WaitFlagReset&) = delete;

private:
    ScriptHost& host_;
};

// False when the line named no file to play (the script goes on).
bool RunPlay(const ScriptLine& line, ScriptHost& host) {
    switch (host.KindOf(line.rest)) {
        case ScriptHost::PathKind::kMissing:
            host.ShowMessage("FILE NOT FOUND: '" + line.rest + "'.");
            return false;
        case ScriptHost::PathKind::kOther:
            host.ShowMessage("NOT A FILE: '" + line.rest +
                             "' is a device, a pipe or a folder, not a preset file.");
            return false;
        case ScriptHost::PathKind::kFile:
            break;
    }
    host.LoadPresetFile(line.rest);
    host.RecallMemory(ReadSlotNumber(line.arg1));
    // The preset's own Loop flag would make the wait endless: one period only.
    host.SetLoop(false);
    host.StartGenerator();
    const WaitFlagReset reset(host);
    do {
        host.ScriptWaiting() = true;
        host.WaitStep();
    } while (host.ScriptWaiting() && host.OutputRunning());
    return true;
}

// The most wait steps a delay counts: past 2^64 adding one step no longer
// changes the count, and the wait would never end.
constexpr long double kMostDelaySteps = 0x1p64L;

// False when the delay is not finite or longer than the steps can count
// (delay 1e400): an invalid command, after one step.
bool RunDelay(const ScriptLine& line, ScriptHost& host) {
    const WaitFlagReset reset(host);
    // The seconds are read after every step, the first one included, so a
    // delay whose number cannot be read fails after one step.
    long double steps = 0;
    for (;;) {
        host.ScriptWaiting() = true;
        host.WaitStep();
        steps += 1;
        if (!host.ScriptWaiting()) {
            return true;  // Next
        }
        const long double wanted = ReadNumber(line.arg1) * 10;
        if (!std::isfinite(wanted) || wanted > kMostDelaySteps) {
            return false;
        }
        if (!(steps < wanted)) {
            return true;
        }
    }
}

void RunPause(const ScriptLine& line, ScriptHost& host) {
    if (line.arg1.empty()) {
        host.ShowMessage("Pause in script. Press OK to continue");
    } else {
        host.ShowMessage(line.arg1 + " " + line.rest);
    }
}

// Lines of a file ending in "\n" or "\r\n"; the last one may lack its end.
// A line longer than kLongestScriptLine is kept only to a byte or two past that
// length (the rest is read over), so a file of one endless line costs no more
// memory than a line that is just too long.
class FileScriptSource : public ScriptSource {
public:
    explicit FileScriptSource(int fd) : fd_(fd) {}
    ~FileScriptSource() override { ::close(fd_); }
    FileScriptSource(const FileScriptSource&) = delete;
    FileScriptSource& operator=(const FileScriptSource&) = delete;

    std::string NextLine() override {
        std::string line;
        for (;;) {
            if (next_ == end_ && !Fill()) {
                break;
            }
            const char* start = buffer_ + next_;
            const void* found = std::memchr(start, '\n', end_ - next_);
            const std::size_t take =
                found != nullptr ? static_cast<const char*>(found) - start : end_ - next_;
            const std::size_t room = kKept - std::min(line.size(), kKept);
            line.append(start, std::min(take, room));
            next_ += take;
            if (found != nullptr) {
                ++next_;  // the line feed
                break;
            }
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }

    void Rewind() override {
        ::lseek(fd_, 0, SEEK_SET);
        next_ = end_ = 0;
    }

private:
    // The longest line with its carriage return, and one byte more to tell
    // that it is too long.
    static constexpr std::size_t kKept = kLongestScriptLine + 2;

    // False at the end of the file or on a read error (read as the end).
    bool Fill() {
        ssize_t got;
        do {
            got = ::read(fd_, buffer_, sizeof buffer_);
        } while (got < 0 && errno == EINTR);
        next_ = 0;
        end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return end_ > 0;
    }

    int fd_;
    char buffer_[65536];
    std::size_t next_ = 0;
    std::size_t end_ = 0;
};

}  // namespace

ScriptLine SplitScriptLine(std::string_view line) {
    ScriptLine fields;
    const std::size_t first = line.find(kBlank);
    fields.command = LowerAscii(line.substr(0, first));
    if (first == std::string_view::npos) {
        return fields;
    }
    const std::size_t second = line.find(kBlank, first + 1);
    fields.arg1 = std::string(line.substr(first + 1, second - (first + 1)));
    if (second == std::string_view::npos) {
        return fields;
    }
    // Taken whole however many blanks it holds: a path with many blanks must
    // still play.
    std::string_view rest = line.substr(second + 1);
    if (!rest.empty() && rest.back() == kBlank) {
        rest.remove_suffix(1);
    }
    fields.rest = std::string(rest);
    return fields;
}

ScriptOutcome RunScript(ScriptSource& source, ScriptHost& host) {
    const bool loop_before = host.LoopTicked();
    host.DisableGenerator();
    host.ShowScriptWindow();

    int line_number = 0;
    bool failed = false;
    const auto invalidLine = [&] {
        host.ShowMessage("Invalid command in line " + std::to_string(line_number));
        host.HideScriptWindow();
        failed = true;
    };
    try {
        do {
            const std::string text = source.NextLine();
            ++line_number;
            if (text.size() > kLongestScriptLine) {
                // No command is that long: the line is invalid as it stands,
                // and splitting it is not worth its time.
                invalidLine();
                break;
            }
            const ScriptLine line = SplitScriptLine(text);
            host.SetScriptLabel("Line " + std::to_string(line_number) + ": " + line.command + " " +
                                line.arg1);

            if (line.command == "play") {
                failed = !RunPlay(line, host) || failed;
            } else if (line.command == "delay") {
                if (!RunDelay(line, host)) {
                    invalidLine();
                }
            } else if (line.command == "pause") {
                RunPause(line, host);
            } else if (line.command == "repeat") {
                source.Rewind();
                line_number = 0;
            } else if (line.command == "rem") {
                // a comment
            } else if (line.command == "end") {
                host.HideScriptWindow();
            } else {
                invalidLine();
            }

            host.HandleEvents();
        } while (host.ScriptWindowVisible());
    } catch (const std::runtime_error& failure) {
        // Stopped at once. The script window stays up and the generator
        // disabled until the user closes the script window, whose hiding
        // enables the generator; the Loop box gets its state back now, as the
        // user would otherwise find it unticked by a play line.
        host.SetLoop(loop_before);
        host.ShowMessage(failure.what());
        return ScriptOutcome::kFailed;
    }

    host.SetLoop(loop_before);
    host.EnableAndRaiseGenerator();
    host.HideScriptWindow();
    return failed ? ScriptOutcome::kFailed : ScriptOutcome::kCompleted;
}

ScriptOutcome RunScriptFile(const std::string& path, ScriptHost& host) {
    // A script that cannot be opened never starts: the message is all, and the
    // generator window is neither disabled nor left waiting for the user.
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    const int error = fd < 0 ? errno : ::fstat(fd, &info) != 0 ? errno : 0;
    if (fd < 0 || error != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        const std::string reason = error != 0              ? std::strerror(error)
                                   : S_ISDIR(info.st_mode) ? std::strerror(EISDIR)
                                                           // a pipe or a device has no end
                                                           : "It is not a regular file";
        host.ShowMessage("Cannot open file \"" + path + "\". " + reason + ".");
        return ScriptOutcome::kFailed;
    }
    FileScriptSource source(fd);
    return RunScript(source, host);
}

}  // namespace skarnel
