#pragma once

#include <QString>

namespace skarnel {

class Dialogs;
class SettingsStore;

// A yes/no question with a "Don't show this message again." tick. When the
// flag `flagName` exists in the store the question is not shown and the
// result is kNotShown; a ticked box writes the flag as 1.
enum class SuppressibleAnswer { kNotShown, kYes, kNo };
SuppressibleAnswer AskUnlessSuppressed(SettingsStore& store, Dialogs& dialogs,
                                       const QString& message, const QString& title,
                                       const QString& flagName);

}  // namespace skarnel
