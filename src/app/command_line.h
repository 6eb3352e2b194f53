#pragma once

#include <QString>
#include <functional>

namespace skarnel {

// What the first command-line argument asks of the start-up. Only the first
// argument counts; it is read as plain text and case-sensitively, and a
// marker may stand anywhere in it ("x.wbq.txt" names a preset file too).
struct CommandLinePlan {
    bool showSplash = true;
    bool loadExamples = false;  // the example presets beside the program
    QString scriptPath;         // run this script with the window hidden, then end
    QString presetPath;         // load these presets into the memory slots
};

CommandLinePlan PlanCommandLine(const QString& firstArgument,
                                const std::function<bool(const QString&)>& fileExists);

}  // namespace skarnel
