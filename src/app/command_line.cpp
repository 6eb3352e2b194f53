#include "app/command_line.h"

namespace skarnel {

CommandLinePlan PlanCommandLine(const QString& argument,
                                const std::function<bool(const QString&)>& fileExists) {
    CommandLinePlan plan;
    plan.showSplash = !argument.contains("/nosplash");
    // Any text with a point is taken for a file name, which replaces the
    // examples even when the file turns out not to exist.
    plan.loadExamples = !argument.contains('.');
    const bool existingFile = !argument.isEmpty() && fileExists(argument);
    if (existingFile && argument.contains(".wbs")) {
        plan.scriptPath = argument;
    } else if (existingFile && argument.contains(".wbq")) {
        plan.presetPath = argument;
    }
    return plan;
}

}  // namespace skarnel
