#include "generator/channel_controls.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/expected_level.h"
#include "analysis/level_text.h"
#include "generator/channel_panel.h"
#include "generator/exit_watcher.h"
#include "numtext/number_reader.h"
#include "settings/generator_model.h"
#include "record/settings_fields.h"

namespace skarnel {

namespace {

int Other(int channel) {
    return channel == kLeft ? kRight : kLeft;
}

std::string Text(const QString& text) {
    return text.toStdString();
}

using ChannelText = std::string ChannelSettings::*;

// A channel's value entries with the value each shows.
std::vector<std::pair<QLineEdit*, ChannelText>> ChannelEntries(const Ui::ChannelPanel& p) {
    using C = ChannelSettings;
    return {{p.amplitude, &C::amplitude}, {p.frequency, &C::frequency},
            {p.gain, &C::gain},           {p.q, &C::q},
            {p.modPeriod, &C::modPeriod}, {p.modDepth, &C::modDepth},
            {p.modPhase, &C::modPhase}};
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
    : QObject(parent),
      model_(model),
      widgets_(widgets),
      guarded_(std::move(guarded)),
      period_(widgets.period, FieldOf(&GeneratorSettings::period)->check) {
    for (int c = 0; c < kChannelCount; ++c) {
        for (const auto& [entry, member] : ChannelEntries(widgets_.panels[c]->ui)) {
            entries_[c].push_back({member, EntryView(entry, FieldOf(member)->check)});
        }
    }
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

EntryView& ChannelControls::View(int c, std::string ChannelSettings::*member) {
    for (ChannelEntry& e : entries_[c]) {
        if (e.member == member) {
            return e.view;
        }
    }
    throw std::logic_error("a channel value without an entry");
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
    // Show() writes the entries with their signals blocked, so a change seen
    // here is the user's (or a test's stand-in for one).
    connect(w.period, &QLineEdit::textChanged, this, [this, &m](const QString& text) {
        period_.Typed(Text(text));
        Handle([&m, t = Text(text)] { m.SetPeriodText(t); });
    });
    new ExitWatcher(w.period, [this, &m] {
        period_.Left();
        Handle([&m] { m.FinishPeriodEntry(); });
    });
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
    // The entry shows the typing as it is until it is left.
    const auto onText = [this, &m, c](ChannelText member, auto set) {
        EntryView* view = &View(c, member);
        connect(view->entry(), &QLineEdit::textChanged, this,
                [this, &m, c, set, view](const QString& text) {
                    view->Typed(Text(text));
                    Handle([&m, c, set, t = Text(text)] { set(m, c, t); });
                });
    };
    const auto setText = [](void (GeneratorModel::*set)(int, const std::string&)) {
        return [set](GeneratorModel& model, int c, const std::string& t) { (model.*set)(c, t); };
    };
    onText(&C::amplitude, setText(&GeneratorModel::SetAmplitudeText));
    onText(&C::modPeriod, setText(&GeneratorModel::SetModPeriodText));
    onText(&C::modDepth, setText(&GeneratorModel::SetModDepthText));
    onText(&C::modPhase, setText(&GeneratorModel::SetModPhaseText));
    for (ChannelText member : {&C::frequency, &C::gain, &C::q}) {
        onText(member, [member](GeneratorModel& model, int c, const std::string& t) {
            model.SetFilterText(c, member, t);
        });
    }
    const auto onExit = [this, &m, c](ChannelText member, void (GeneratorModel::*finish)(int)) {
        EntryView* view = &View(c, member);
        new ExitWatcher(view->entry(), [this, &m, c, finish, view] {
            view->Left();
            Handle([&m, c, finish] { (m.*finish)(c); });
        });
    };
    onExit(&C::amplitude, &GeneratorModel::FinishAmplitudeEntry);
    onExit(&C::modPeriod, &GeneratorModel::FinishModPeriodEntry);
    onExit(&C::modDepth, &GeneratorModel::FinishModDepthEntry);
    onExit(&C::modPhase, &GeneratorModel::FinishModPhaseEntry);
    onExit(&C::frequency, &GeneratorModel::FinishFilterFrequencyEntry);
    onExit(&C::gain, &GeneratorModel::FinishFilterGainEntry);
    onExit(&C::q, &GeneratorModel::FinishFilterQEntry);
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

namespace {

// "≈ -15.3 dBFS RMS": the amplitude entry's peak level less how far this
// noise and crest choice's RMS lies below it; empty while the entry holds no
// number.
void ShowExpectedRms(QLabel* readout, const ChannelSettings& s) {
    const std::optional<long double> amplitude = TryReadNumber(s.amplitude);
    if (!amplitude) {
        readout->clear();
        return;
    }
    const double rms =
        static_cast<double>(*amplitude) + RmsBelowAmplitudeDb(s.noiseFunction, s.crestFactor);
    readout->setText(QString::fromUtf8("\u2248 ") + QString::fromStdString(DbfsText(rms)) +
                     " dBFS RMS");
}

}  // namespace

void ChannelControls::Show() {
    const GeneratorSettings& v = model_.values();
    ShowChoice(widgets_.channelMode, v.channelMode);
    ShowTick(widgets_.asLeft, v.asLeft);
    period_.Show(v.period);
    ShowTick(widgets_.loop, v.loop);
    ShowChoice(widgets_.device, v.waveDevice);
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelSettings& s = v.channels[c];
        Ui::ChannelPanel& p = widgets_.panels[c]->ui;
        ShowTick(p.onTick, s.on);
        ShowChoice(p.noiseFunction, s.noiseFunction);
        ShowChoice(p.crestFactor, s.crestFactor);
        {
            const QSignalBlocker quiet(p.amplitudeSlider);
            p.amplitudeSlider->setValue(model_.sliderPosition(c));
        }
        ShowExpectedRms(p.rmsReadout, s);
        ShowChoice(p.filterType, s.filterType);
        ShowTick(p.modulationOn, s.modulationOn);
        ShowChoice(p.modFunction, s.modFunction);
        for (ChannelEntry& e : entries_[c]) {
            e.view.Show(s.*e.member);
        }
    }
}

}  // namespace skarnel
