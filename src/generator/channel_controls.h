#pragma once

#include <QObject>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "generator/entry_view.h"
#include "record/generator_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace skarnel {

class ChannelPanel;
class GeneratorModel;

// The controls that hold the window's settings: the two channel panels and
// the channel mode, "= Left", period, Loop and device controls. Each user
// change goes to the matching operation of the window's GeneratorModel, and
// Show() puts the model's values back into every control, so the controls
// always show what the model holds (a validated number in its shortest
// form, see EntryView). Every handled change ends with
// `changed`, after which the window derives its control states anew.
class ChannelControls : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QComboBox* channelMode;
        QCheckBox* asLeft;
        QLineEdit* period;
        QCheckBox* loop;
        QComboBox* device;
        std::array<ChannelPanel*, kChannelCount> panels;
    };
    // `guarded` runs an operation that may fail with a conversion error and
    // reports the error to the user.
    ChannelControls(GeneratorModel& model, Widgets widgets,
                    std::function<void(const std::function<void()>&)> guarded, QObject* parent);

    // Shows the model's values in every control, without running any
    // control's change handling.
    void Show();

signals:
    void changed();

private:
    void ConnectWindowWide();
    void ConnectChannel(int c);
    // Runs a model operation on a user's change, then shows the outcome.
    void Handle(const std::function<void()>& operation);

    struct ChannelEntry {
        std::string ChannelSettings::*member;
        EntryView view;
    };
    // The entry of a channel's text value.
    EntryView& View(int c, std::string ChannelSettings::*member);

    GeneratorModel& model_;
    Widgets widgets_;
    std::function<void(const std::function<void()>&)> guarded_;
    EntryView period_;
    // Filled once before any signal is connected: the handlers keep
    // pointers to the views.
    std::array<std::vector<ChannelEntry>, kChannelCount> entries_;
};

}  // namespace skarnel
