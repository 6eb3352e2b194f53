#include "platform/help_router.h"

namespace skarnel {

namespace {
TUseHTMLHelp* installed = nullptr;
}  // namespace

TUseHTMLHelp::TUseHTMLHelp(HelpViewer& viewer) : viewer_(viewer), previous_(installed) {
    installed = this;
}

TUseHTMLHelp::~TUseHTMLHelp() {
    if (installed == this) {
        installed = previous_;
    }
}

TUseHTMLHelp* TUseHTMLHelp::Installed() {
    return installed;
}

bool TUseHTMLHelp::HelpRequest(HelpCommand command, std::intptr_t data) {
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

}  // namespace skarnel
