#include "generator/channel_controls.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <tuple>

#include "generator/channel_panel.h"
#include "generator/exit_watcher.h"
#include "settings/generator_model.h"

namespace skarnel {

namespace {

int Other(int channel) {
    return channel == kLeft ? kRight : kLeft;
}

std::string Text(const QString& text) {
    return text.toStdString();
}

// Setting an entry to the text it has would move its cursor; only a changed
// text is put in.
void ShowText(QLineEdit* entry, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (entry->text() != shown) {
        const QSignalBlocker quiet(entry);
        entry->setText(shown);
    }
}

void ShowChoice(QComboBox* list, int item) {
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(item);
}

void ShowTick(QCheckBox* box, bool ticked) {
    const QSignalBlocker quiet(box);
    box->setChecked(ticked);
}

}  // namespace

ChannelControls::ChannelControls(GeneratorModel& model, Widgets widgets,
                                 std::function<void(const std::function<void()>&)> guarded,
                                 QObject* parent)
    : QObject(parent), model_(model), widgets_(widgets), guarded_(std::move(guarded)) {
    ConnectWindowWide();
    for (int c = 0; c < kChannelCount; ++c) {
        ConnectChannel(c);
    }
}

void ChannelControls::Handle(const std::function<void()>& operation) {
    guarded_(operation);
    Show();
    emit changed();
}

void ChannelControls::ConnectWindowWide() {
    GeneratorModel& m = model_;
    const Widgets& w = widgets_;
    connect(w.channelMode, &QComboBox::activated, this, [this, &m](int item) {
        Handle([&m, item] {
            m.SetChannelMode(item);
            m.OnChannelModeChanged();
        });
    });
    connect(w.asLeft, &QCheckBox::toggled, this,
            [this, &m](bool on) { Handle([&m, on] { m.SetAsLeft(on); }); });
    connect(w.period, &QLineEdit::textChanged, this, [this, &m](const QString& text) {
        Handle([&m, t = Text(text)] { m.SetPeriodText(t); });
    });
    new ExitWatcher(w.period, [this, &m] { Handle([&m] { m.FinishPeriodEntry(); }); });
    connect(w.loop, &QCheckBox::toggled, this,
            [this, &m](bool on) { Handle([&m, on] { m.SetLoop(on); }); });
    connect(w.device, &QComboBox::activated, this, [this, &m](int item) {
        Handle([&m, item] {
            m.SetWaveDevice(item);
            m.OnWaveDeviceChanged();
        });
    });
}

void ChannelControls::ConnectChannel(int c) {
    GeneratorModel& m = model_;
    ChannelPanel* panel = widgets_.panels[c];
    Ui::ChannelPanel& p = panel->ui;
    using C = ChannelSettings;

    // Texts: their change handling while typed, their validation when left.
    const auto onText = [this, &m, c](QLineEdit* entry, auto set) {
        connect(entry, &QLineEdit::textChanged, this, [this, &m, c, set](const QString& text) {
            Handle([&m, c, set, t = Text(text)] { (m.*set)(c, t); });
        });
    };
    onText(p.amplitude, &GeneratorModel::SetAmplitudeText);
    onText(p.modPeriod, &GeneratorModel::SetModPeriodText);
    onText(p.modDepth, &GeneratorModel::SetModDepthText);
    onText(p.modPhase, &GeneratorModel::SetModPhaseText);
    for (const auto& [entry, member] : {std::pair{p.frequency, &C::frequency},
                                        std::pair{p.gain, &C::gain}, std::pair{p.q, &C::q}}) {
        connect(entry, &QLineEdit::textChanged, this,
                [this, &m, c, member = member](const QString& text) {
                    Handle([&m, c, member, t = Text(text)] { m.SetFilterText(c, member, t); });
                });
    }
    const auto onExit = [this, &m, c](QLineEdit* entry, void (GeneratorModel::*finish)(int)) {
        new ExitWatcher(entry,
                        [this, &m, c, finish] { Handle([&m, c, finish] { (m.*finish)(c); }); });
    };
    onExit(p.amplitude, &GeneratorModel::FinishAmplitudeEntry);
    onExit(p.modPeriod, &GeneratorModel::FinishModPeriodEntry);
    onExit(p.modDepth, &GeneratorModel::FinishModDepthEntry);
    onExit(p.modPhase, &GeneratorModel::FinishModPhaseEntry);
    onExit(p.frequency, &GeneratorModel::FinishFilterFrequencyEntry);
    onExit(p.gain, &GeneratorModel::FinishFilterGainEntry);
    onExit(p.q, &GeneratorModel::FinishFilterQEntry);
    connect(p.amplitudeSlider, &QSlider::valueChanged, this, [this, &m, c](int position) {
        Handle([&m, c, position] { m.MoveAmplitudeSlider(c, position); });
    });

    // Ticks: their click handling on every change.
    connect(p.onTick, &QCheckBox::toggled, this,
            [this, &m, c](bool on) { Handle([&m, c, on] { m.SetOnTick(c, on); }); });
    connect(p.modulationOn, &QCheckBox::toggled, this,
            [this, &m, c](bool on) { Handle([&m, c, on] { m.SetModulationOn(c, on); }); });

    // Lists: their change handling on the user's picks only.
    using Choose = void (GeneratorModel::*)(int, std::int32_t);
    using Changed = void (GeneratorModel::*)(int);
    const std::tuple<QComboBox*, Choose, Changed> lists[] = {
        {p.noiseFunction, &GeneratorModel::SetNoiseFunction,
         &GeneratorModel::OnNoiseFunctionChanged},
        {p.crestFactor, &GeneratorModel::SetCrestFactor, &GeneratorModel::OnCrestFactorChanged},
        {p.filterType, &GeneratorModel::SetFilterType, &GeneratorModel::OnFilterTypeChanged},
        {p.modFunction, &GeneratorModel::SetModFunction, &GeneratorModel::OnModFunctionChanged},
    };
    for (const auto& [list, choose, changed] : lists) {
        connect(list, &QComboBox::activated, this,
                [this, &m, c, choose = choose, changed = changed](int item) {
                    Handle([&m, c, item, choose, changed] {
                        (m.*choose)(c, item);
                        (m.*changed)(c);
                    });
                });
    }
    connect(panel->copyFromOtherAction(), &QAction::triggered, this,
            [this, &m, c] { Handle([&m, c] { m.CopyChannel(Other(c), c); }); });
}

void ChannelControls::Show() {
    const GeneratorSettings& v = model_.values();
    ShowChoice(widgets_.channelMode, v.channelMode);
    ShowTick(widgets_.asLeft, v.asLeft);
    ShowText(widgets_.period, v.period);
    ShowTick(widgets_.loop, v.loop);
    ShowChoice(widgets_.device, v.waveDevice);
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelSettings& s = v.channels[c];
        Ui::ChannelPanel& p = widgets_.panels[c]->ui;
        ShowTick(p.onTick, s.on);
        ShowChoice(p.noiseFunction, s.noiseFunction);
        ShowChoice(p.crestFactor, s.crestFactor);
        ShowText(p.amplitude, s.amplitude);
        {
            const QSignalBlocker quiet(p.amplitudeSlider);
            p.amplitudeSlider->setValue(model_.sliderPosition(c));
        }
        ShowChoice(p.filterType, s.filterType);
        ShowText(p.frequency, s.frequency);
        ShowText(p.gain, s.gain);
        ShowText(p.q, s.q);
        ShowTick(p.modulationOn, s.modulationOn);
        ShowChoice(p.modFunction, s.modFunction);
        ShowText(p.modPeriod, s.modPeriod);
        ShowText(p.modDepth, s.modDepth);
        ShowText(p.modPhase, s.modPhase);
    }
}

}  // namespace skarnel
