#pragma once

namespace skarnel {

class GeneratorWindow;
class HelpWindow;
class OutputSettingsDialog;
class SettingsStore;

// Reads the stored output and window values into the Output Settings dialog
// and the generator window (the live view shown unless stored hidden), each window value with the
// consequences of the user's change. An unreadable window value (or a filter text the preparation
// cannot read) falls back to the reset defaults, silently. Ends by filling the
// memory presets from the window. False when the values are there but could
// not be read now (another process held the store): the window then shows the
// reset values, which must not be stored over the user's.
bool LoadSettings(SettingsStore& store, GeneratorWindow& generator, OutputSettingsDialog& settings);

// Writes the window's values as the model holds them (no validation): typed
// texts as typed, validated ones whole, not in the shorter form shown; and
// whether the live view shows.
void SaveWindowSettings(SettingsStore& store, GeneratorWindow& generator);

// Writes the output values (list indexes and the screen-saver flag).
void SaveOutputSettings(SettingsStore& store, const OutputSettingsDialog& settings);

// The help window's place from an earlier run (HelpX, HelpY, HelpWidth,
// HelpHeight), for its first show; nothing when any of them is missing.
void LoadHelpPlace(SettingsStore& store, HelpWindow& help);
// Keeps where the user left the help window, if it was shown in this run.
void SaveHelpPlace(SettingsStore& store, const HelpWindow& help);

enum class StoreOnClose { kWindowValues, kNothing };

// Saves the window when it closes (unless told not to) and the output values
// when the dialog closes (which also enables the generator window again).
void ConnectSettingsStore(SettingsStore& store, GeneratorWindow& generator,
                          OutputSettingsDialog& settings,
                          StoreOnClose onClose = StoreOnClose::kWindowValues);

}  // namespace skarnel
