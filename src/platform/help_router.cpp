#include "platform/help_router.h"

namespace skarnel {

namespace {
HelpRouter* installed = nullptr;
int currentContext = kGeneratorHelp;
}  // namespace

HelpRouter::HelpRouter(HelpViewer& viewer) : viewer_(viewer), previous_(installed) {
    installed = this;
}

HelpRouter::~HelpRouter() {
    if (installed == this) {
        installed = previous_;
    }
}

HelpRouter* HelpRouter::Installed() {
    return installed;
}

bool HelpRouter::HelpRequest(HelpCommand command, std::intptr_t data) {
    switch (command) {
        case HelpCommand::kContext:
        case HelpCommand::kContextPopup:
            viewer_.DisplayTopic(static_cast<int>(data));
            break;
        case HelpCommand::kQuit:
            viewer_.CloseAll();
            break;
        case HelpCommand::kKeyword:
            viewer_.DisplayIndex();
            break;
        case HelpCommand::kOther:
            viewer_.DisplayDefaultTopic();
            break;
    }
    return true;
}

void ShowHelpTopic(int topic) {
    if (installed != nullptr) {
        installed->HelpRequest(HelpCommand::kContext, topic);
    }
}

void HelpRouter::FollowModalWindow() {
    viewer_.FollowModalWindow();
}

void HelpFollowsModalWindow() {
    if (installed != nullptr) {
        installed->FollowModalWindow();
    }
}

HelpContext::HelpContext(int topic) : previous_(currentContext) {
    currentContext = topic;
}

HelpContext::~HelpContext() {
    currentContext = previous_;
}

int HelpContext::Current() {
    return currentContext;
}

}  // namespace skarnel
