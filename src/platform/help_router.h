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
inline constexpr int kToolsMenuHelp = 13;
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
    // A modal box has opened or closed: a help window shown now must stay
    // usable beside the box that is open.
    virtual void FollowModalWindow() {}
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
    void FollowModalWindow();

    // The router installed now, or null.
    static HelpRouter* Installed();

private:
    HelpViewer& viewer_;
    HelpRouter* previous_;
};

// Asks the installed router for a topic by context number.
void ShowHelpTopic(int topic);

// Tells the installed viewer that a modal box has opened or closed.
void HelpFollowsModalWindow();

// What the user is doing now, as a help topic: F1 in a message box opens
// this page when the box has no topic of its own. A scope names it for a
// task (a script run, an export, the welcome question); scopes nest, and
// outside all of them it is the generator window's page.
class HelpContext {
public:
    explicit HelpContext(int topic);
    ~HelpContext();
    HelpContext(const HelpContext&) = delete;
    HelpContext& operator=(const HelpContext&) = delete;

    static int Current();

private:
    int previous_;
};

}  // namespace skarnel
