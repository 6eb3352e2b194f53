#pragma once

#include <cstdint>

namespace skarnel {

// Context numbers of the help pages the program opens.
inline constexpr int kGeneratorHelp = 1;
inline constexpr int kOutputSettingsHelp = 2;
inline constexpr int kAboutHelp = 3;
inline constexpr int kScriptHelp = 4;
inline constexpr int kFileMenuHelp = 5;
inline constexpr int kPresetsMenuHelp = 6;
inline constexpr int kIntroductionHelp = 10;
inline constexpr int kPerformanceHelp = 11;
inline constexpr int kCrestFactorHelp = 12;
inline constexpr int kLiveViewHelp = 15;

// What the help viewer can be told to do.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Shows the page with this context number (the default page when no page
    // has that number).
    virtual void DisplayTopic(int contextNumber) = 0;
    virtual void DisplayDefaultTopic() = 0;
    virtual void DisplayIndex() = 0;
    // Closes every help window.
    virtual void CloseAll() = 0;
};

// The kinds of help request the program makes.
enum class HelpCommand {
    kContext,       // a topic by context number
    kContextPopup,  // the same, asked for as a pop-up
    kQuit,          // close all help windows
    kKeyword,       // a keyword look-up: shows the index
    kOther,         // anything else: shows the default topic
};

// Receives every help request of the program and hands it to the viewer.
// One router is installed while the program runs; requests made while none
// is installed are dropped.
class HelpRouter {
public:
    explicit HelpRouter(HelpViewer& viewer);
    ~HelpRouter();
    HelpRouter(const HelpRouter&) = delete;
    HelpRouter& operator=(const HelpRouter&) = delete;

    // Always reports the request as handled.
    bool HelpRequest(HelpCommand command, std::intptr_t data);

    // The router installed now, or null.
    static HelpRouter* Installed();

private:
    HelpViewer& viewer_;
    HelpRouter* previous_;
};

// Asks the installed router for a topic by context number.
void ShowHelpTopic(int topic);

}  // namespace skarnel
