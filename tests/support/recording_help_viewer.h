#pragma once

#include <functional>
#include <vector>

#include "platform/help_router.h"

namespace skarnel::testing {

// Installs a help router for the lifetime of the object and records the
// topics it is asked to show (-1 for the default topic, -2 for the index).
class RecordingHelpViewer : public HelpViewer {
public:
    void DisplayTopic(int contextNumber) override {
        topics.push_back(contextNumber);
        if (onTopic) {
            onTopic(contextNumber);
        }
    }
    void DisplayDefaultTopic() override { topics.push_back(-1); }
    void DisplayIndex() override { topics.push_back(-2); }
    void CloseAll() override { ++closed; }

    std::vector<int> topics;
    int closed = 0;
    std::function<void(int)> onTopic;  // called with each topic as it is asked for

private:
    HelpRouter router_{*this};
};

}  // namespace skarnel::testing
