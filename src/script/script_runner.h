#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace skarnel {

// One line of a script split at its blanks (code 32 only): the command in
// lower case, the first argument, and the rest exactly as written (one
// trailing blank dropped). A field the line does not give is empty.
struct ScriptLine {
    std::string command;
    std::string arg1;
    std::string rest;
};

ScriptLine SplitScriptLine(std::string_view line);

// What a script needs from the program: the generator window, the script
// window, presets, playback and the event loop. The Qt program implements it
// on its windows; tests implement it with a scripted double.
class ScriptHost {
public:
    virtual ~ScriptHost() = default;

    virtual bool LoopTicked() = 0;
    virtual void SetLoop(bool ticked) = 0;
    virtual void DisableGenerator() = 0;
    // Enables the generator window and brings it to the front.
    virtual void EnableAndRaiseGenerator() = 0;

    virtual void ShowScriptWindow() = 0;
    // Hiding the script window (also by its buttons) enables the generator.
    virtual void HideScriptWindow() = 0;
    virtual bool ScriptWindowVisible() = 0;
    virtual void SetScriptLabel(const std::string& text) = 0;

    // A modal note with OK.
    virtual void ShowMessage(const std::string& text) = 0;

    // What a path names: nothing, a regular file, or something else (a
    // device, a pipe, a folder).
    enum class PathKind { kMissing, kFile, kOther };
    virtual PathKind KindOf(const std::string& path) = 0;
    // Loads a preset file into the memory slots; throws std::runtime_error
    // carrying the message for the user when the file cannot be read.
    virtual void LoadPresetFile(const std::string& path) = 0;
    // Slots outside 1..4 recall nothing.
    virtual void RecallMemory(int slot) = 0;
    virtual void StartGenerator() = 0;
    virtual bool OutputRunning() = 0;

    // About 100 ms during which the program keeps handling its events (device
    // notifications included), never a blind sleep of the event loop.
    virtual void WaitStep() = 0;
    virtual void HandleEvents() = 0;

    // The program-wide wait flag: set at every wait step; cleared by the
    // script window's Next and by the device-closed handler.
    virtual bool& ScriptWaiting() = 0;
};

// The longest line a script may have; a longer one is an invalid command.
inline constexpr std::size_t kLongestScriptLine = 64 * 1024;

// Opens a script file for reading its lines.
class ScriptSource {
public:
    virtual ~ScriptSource() = default;
    // The next line without its line end, or "" after the end of the text.
    virtual std::string NextLine() = 0;
    // Back to the first line ("repeat").
    virtual void Rewind() = 0;
};

// How a script ended: kFailed when it stopped on a failure or reported one on
// its way (a file a play line names is missing), so a caller that ran it from
// the command line can tell.
enum class ScriptOutcome { kCompleted, kFailed };

// Runs a script to its end. Failures inside a command stop the script at once
// with that failure's message; the script window then stays up until the user
// closes it. The Loop box is restored in every outcome.
ScriptOutcome RunScript(ScriptSource& source, ScriptHost& host);

// RunScript on a file; a file that cannot be opened, or is not a regular file
// (a FIFO, a device), is reported through host.ShowMessage as a failure of the
// script.
ScriptOutcome RunScriptFile(const std::string& path, ScriptHost& host);

}  // namespace skarnel
