#pragma once

#include <QString>
#include <memory>

#include "script/script_runner.h"

namespace skarnel {

class Dialogs;
class GeneratorWindow;
class ScriptWindow;

// Running scripts in the generator window: the File menu's command, the run
// itself (with the window held) and the small script window.
class ScriptControl {
public:
    ScriptControl(GeneratorWindow& window, Dialogs& dialogs);
    ~ScriptControl();

    void Command();
    // Runs the script file; how it ended, for a run from the command line.
    ScriptOutcome Run(const QString& path);
    ScriptWindow& window();

    // True from the device's open to its close and until the script window's
    // Next: a script waiting for a played preset ends with it.
    bool& waiting() noexcept { return waiting_; }

private:
    GeneratorWindow& generator_;
    Dialogs& dialogs_;
    std::unique_ptr<ScriptWindow> window_;
    bool waiting_ = false;
};

}  // namespace skarnel
