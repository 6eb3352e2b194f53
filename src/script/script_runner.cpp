#include "script/script_runner.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
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

void RunPlay(const ScriptLine& line, ScriptHost& host) {
    if (!host.FileExists(line.rest)) {
        host.ShowMessage("FILE NOT FOUND: '" + line.rest + "'.");
        return;
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
}

void RunDelay(const ScriptLine& line, ScriptHost& host) {
    const WaitFlagReset reset(host);
    // The seconds are read after every step, the first one included, so a
    // delay whose number cannot be read fails after one step.
    long double steps = 0;
    do {
        host.ScriptWaiting() = true;
        host.WaitStep();
        steps += 1;
        if (!host.ScriptWaiting()) {
            break;  // Next
        }
    } while (steps < ReadNumber(line.arg1) * 10);
}

void RunPause(const ScriptLine& line, ScriptHost& host) {
    if (line.arg1.empty()) {
        host.ShowMessage("Pause in script. Press OK to continue");
    } else {
        host.ShowMessage(line.arg1 + " " + line.rest);
    }
}

// Lines of a file ending in "\n" or "\r\n"; the last one may lack its end.
class FileScriptSource : public ScriptSource {
public:
    explicit FileScriptSource(std::ifstream& file) : file_(file) {}

    std::string NextLine() override {
        std::string line;
        if (!std::getline(file_, line)) {
            return {};
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }

    void Rewind() override {
        file_.clear();  // also after a read past the end, which seekg alone would refuse
        file_.seekg(0);
    }

private:
    std::ifstream& file_;
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

void RunScript(ScriptSource& source, ScriptHost& host) {
    const bool loop_before = host.LoopTicked();
    host.DisableGenerator();
    host.ShowScriptWindow();

    int line_number = 0;
    try {
        do {
            const ScriptLine line = SplitScriptLine(source.NextLine());
            ++line_number;
            host.SetScriptLabel("Line " + std::to_string(line_number) + ": " + line.command + " " +
                                line.arg1);

            if (line.command == "play") {
                RunPlay(line, host);
            } else if (line.command == "delay") {
                RunDelay(line, host);
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
                host.ShowMessage("Invalid command in line " + std::to_string(line_number));
                host.HideScriptWindow();
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
        return;
    }

    host.SetLoop(loop_before);
    host.EnableAndRaiseGenerator();
    host.HideScriptWindow();
}

void RunScriptFile(const std::string& path, ScriptHost& host) {
    // A script that cannot be opened never starts: the message is all, and the
    // generator window is neither disabled nor left waiting for the user.
    std::error_code ignored;
    const bool directory = std::filesystem::is_directory(path, ignored);
    std::ifstream file;
    errno = 0;
    if (!directory) {
        file.open(path, std::ios::in | std::ios::binary);
    }
    if (!file.is_open()) {
        const int error = directory ? EISDIR : errno;
        host.ShowMessage("Cannot open file \"" + path + "\". " +
                         (error != 0 ? std::strerror(error) : "Unknown error") + ".");
        return;
    }
    FileScriptSource source(file);
    RunScript(source, host);
}

}  // namespace skarnel
