#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "app/command_line.h"

namespace skarnel {

class Dialogs;
class ScreenSaverInhibitor;
class SettingsStore;
class StartupPacer;
class AboutWindow;
class GeneratorWindow;
class OutputSettingsDialog;
class StartSplash;
class WaveOutBackend;

// What the start-up works with; the program passes the real services, the
// tests doubles.
struct StartupServices {
    WaveOutBackend& backend;
    Dialogs& dialogs;
    ScreenSaverInhibitor& screenSaver;
    SettingsStore& store;
    StartupPacer& pacer;
    QString programFolder;  // where "Examples.wbq" and the other files lie
};

// The program's start, from the first argument to the moment the event loop
// takes over: splash, windows in their order, the welcome question, the
// example presets and the file named on the command line. Owns the windows
// it creates for as long as the program runs.
class SkarnelStartup {
public:
    SkarnelStartup(StartupServices services, QString firstArgument);
    ~SkarnelStartup();

    enum class Outcome {
        kRunEventLoop,  // the generator window is shown; run the event loop
        kEnd,           // a command-line script has run; the program ends
        kEndFailed,     // likewise, but the script stopped on or reported a failure
    };
    // `attach` runs as soon as the generator window exists (commands from
    // other programs, the hot key), before anything can play.
    // `ready` runs once the window holds its settings, its presets and a
    // prepared engine, before a command-line script runs and before the
    // window shows: from then on other programs may drive it.
    Outcome Start(const std::function<void(GeneratorWindow&)>& attach = {},
                  const std::function<void(GeneratorWindow&)>& ready = {});

    const CommandLinePlan& plan() const noexcept { return plan_; }
    GeneratorWindow& generator() { return *generator_; }
    OutputSettingsDialog& settings() { return *settings_; }
    AboutWindow& about() { return *about_; }
    // The splash while it exists (null without one, and after the fade-out).
    StartSplash* splash() { return splash_.get(); }

private:
    void CreateGenerator();
    // Reads the store until no other process holds it, kStoreReadAttempts
    // times at most; false when it stayed held.
    bool WaitForStore();
    void AskWelcome();
    void ShowIntroductionIfWanted();

    StartupServices services_;
    bool introductionWanted_ = false;
    QString argument_;
    CommandLinePlan plan_;
    std::unique_ptr<StartSplash> splash_;
    std::unique_ptr<GeneratorWindow> generator_;
    std::unique_ptr<AboutWindow> about_;
    std::unique_ptr<OutputSettingsDialog> settings_;
};

inline constexpr const char* kExamplesFileName = "Examples.wbq";
// With the SQLite store's own 5 s wait per read: about 30 s in all.
inline constexpr int kStoreReadAttempts = 6;
inline constexpr const char* kStoreBusyMessage =
    "The stored settings cannot be read now: another program is using them. Skarnel starts "
    "with its reset values and will not store its own over them when it closes.";
inline constexpr const char* kWelcomeMessage =
    "Welcome to Skarnel! Would you like to see the introduction to this program?";

}  // namespace skarnel
