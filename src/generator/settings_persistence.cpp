#include "generator/settings_persistence.h"

#include <QLineEdit>
#include <stdexcept>

#include "audio/device_list.h"
#include "generator/generator_window.h"
#include "numtext/conversion_error.h"
#include "persistence/settings_store.h"
#include "platform/dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

namespace {

// A window value that cannot be read ends the load.
struct UnreadableValue : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class WindowValueReader {
public:
    explicit WindowValueReader(const SettingsValues& values) : values_(values) {}

    // A missing text reads as empty text; a value of another kind fails.
    QString Text(const char* name) const {
        std::string text;
        if (values_.ReadText(name, text) == ReadStatus::kWrongKind) {
            throw UnreadableValue(name);
        }
        return QString::fromStdString(text);
    }
    std::int32_t Integer(const char* name) const {
        std::int32_t value = 0;
        if (values_.ReadInteger(name, value) != ReadStatus::kOk) {
            throw UnreadableValue(name);
        }
        return value;
    }
    bool Flag(const char* name) const {
        bool value = false;
        if (values_.ReadFlag(name, value) != ReadStatus::kOk) {
            throw UnreadableValue(name);
        }
        return value;
    }

private:
    const SettingsValues& values_;
};

void LoadOutputValues(const SettingsValues& values, OutputSettingsDialog& settings) {
    // A value that cannot be read, or an index outside its list, keeps the
    // dialog's default: the output format must always be a valid one.
    const auto pick = [&values](const char* name, QComboBox* list) {
        std::int32_t index = 0;
        if (values.ReadInteger(name, index) == ReadStatus::kOk && index >= 0 &&
            index < list->count()) {
            list->setCurrentIndex(index);
        }
    };
    pick("Fs", settings.ui.cboFsList);
    pick("Buffers", settings.ui.cboBuffers);
    pick("Quant", settings.ui.cboQuant);
    pick("BufferSize", settings.ui.cboBufferSize);
    bool disable = true;
    if (values.ReadFlag("DisableSS", disable) == ReadStatus::kOk) {
        settings.ui.chkDisableSS->setChecked(disable);
    }
}

// The window values in their stored order, each followed by its handling.
void LoadWindowValues(const WindowValueReader& read, GeneratorWindow& g) {
    Ui::GeneratorWindow& ui = g.ui;
    Ui::ChannelPanel& left = g.panel(kLeft)->ui;
    Ui::ChannelPanel& right = g.panel(kRight)->ui;

    ui.WaveDevice->setCurrentIndex(read.Integer("WaveDevice"));
    ui.Duration->setText(read.Text("Duration"));
    g.FinishPeriodEntry();
    ui.Loop->setChecked(read.Flag("Loop"));
    ui.cboChannels->setCurrentIndex(read.Flag("Mono") ? kMono : kStereo);
    g.OnChannelModeChanged();
    left.onTick->setChecked(read.Flag("LeftTick"));
    right.onTick->setChecked(read.Flag("RightTick"));
    left.amplitude->setText(read.Text("AmplitudeLeft"));
    right.amplitude->setText(read.Text("AmplitudeRight"));
    left.modulationOn->setChecked(read.Flag("ModulationOnLeft"));
    right.modulationOn->setChecked(read.Flag("ModulationOnRight"));
    left.modPeriod->setText(read.Text("ModPeriodLeftEdit"));
    left.modDepth->setText(read.Text("ModDepthLeftEdit"));
    left.modFunction->setCurrentIndex(read.Integer("ModFunctionLeft"));
    left.modPhase->setText(read.Text("ModPhaseLeftEdit"));
    right.modPeriod->setText(read.Text("ModPeriodRightEdit"));
    right.modDepth->setText(read.Text("ModDepthRightEdit"));
    right.modFunction->setCurrentIndex(read.Integer("ModFunctionRight"));
    right.modPhase->setText(read.Text("ModPhaseRightEdit"));
    left.noiseFunction->setCurrentIndex(read.Integer("WaveFormLeft"));
    g.OnLeftNoiseFunctionChanged();
    right.noiseFunction->setCurrentIndex(read.Integer("WaveFormRight"));
    g.OnRightNoiseFunctionChanged();
    g.audioOut().SetWaveDevice(WaveDeviceForItem(read.Integer("WaveDevice")));
    left.crestFactor->setCurrentIndex(read.Integer("PeakRmsL"));
    g.OnCrestFactorChanged(kLeft);
    right.crestFactor->setCurrentIndex(read.Integer("PeakRmsR"));
    g.OnCrestFactorChanged(kRight);
    ui.mnuAutostart->setChecked(read.Flag("PresetAutoStart"));
    left.filterType->setCurrentIndex(read.Integer("cboFilterTypeL1"));
    left.frequency->setText(read.Text("txtFZeroL"));
    left.q->setText(read.Text("txtQL"));
    left.gain->setText(read.Text("txtGainL"));
    right.filterType->setCurrentIndex(read.Integer("cboFilterTypeR1"));
    right.frequency->setText(read.Text("txtFZeroR"));
    right.q->setText(read.Text("txtQR"));
    right.gain->setText(read.Text("txtGainR"));
    g.PrepareEngineFromWindow();  // reads every filter text; a non-number fails the load
    g.move(read.Integer("FormX"), read.Integer("FormY"));
    const bool asLeft = read.Flag("AsLeft");
    {
        const QSignalBlocker quiet(ui.chkAsLeft);
        ui.chkAsLeft->setChecked(asLeft);
    }
    g.OnAsLeftToggled();
}

}  // namespace

void LoadSettings(SettingsStore& store, GeneratorWindow& generator,
                  OutputSettingsDialog& settings) {
    settings.SetDefaults();
    const std::optional<SettingsValues> values = store.Load(SettingsKeyPath());
    if (values && values->Has("Fs")) {
        LoadOutputValues(*values, settings);
    }
    settings.ApplyChosenFrequency();
    generator.SetSampleRate(settings.SamplingFrequency());

    bool loaded = false;
    if (values) {
        try {
            LoadWindowValues(WindowValueReader(*values), generator);
            loaded = true;
        } catch (const UnreadableValue&) {
        } catch (const ConversionError&) {
        }
    }
    if (!loaded) {
        generator.ResetSettings();
    }
    generator.OnModulationToggled(kLeft);
    generator.OnModulationToggled(kRight);
    generator.FillMemoryFromWindow();
}

void SaveWindowSettings(SettingsStore& store, GeneratorWindow& g) {
    Ui::GeneratorWindow& ui = g.ui;
    const Ui::ChannelPanel& left = g.panel(kLeft)->ui;
    const Ui::ChannelPanel& right = g.panel(kRight)->ui;
    const auto text = [](const char* name, const QLineEdit* entry) {
        return SettingValue{name, entry->text().toStdString()};
    };
    const auto index = [](const char* name, const QComboBox* list) {
        return SettingValue{name, std::int32_t{list->currentIndex()}};
    };
    const std::vector<SettingValue> values = {
        text("AmplitudeLeft", left.amplitude),
        FlagValue("ModulationOnLeft", left.modulationOn->isChecked()),
        index("WaveFormLeft", left.noiseFunction),
        text("AmplitudeRight", right.amplitude),
        FlagValue("AsLeft", ui.chkAsLeft->isChecked()),
        index("PeakRmsL", left.crestFactor),
        index("PeakRmsR", right.crestFactor),
        FlagValue("ModulationOnRight", right.modulationOn->isChecked()),
        index("WaveFormRight", right.noiseFunction),
        text("Duration", ui.Duration),
        FlagValue("Loop", ui.Loop->isChecked()),
        FlagValue("mono", ui.cboChannels->currentIndex() == kMono),
        FlagValue("LeftTick", left.onTick->isChecked()),
        FlagValue("RightTick", right.onTick->isChecked()),
        text("ModPeriodLeftEdit", left.modPeriod),
        text("ModDepthLeftEdit", left.modDepth),
        index("ModFunctionLeft", left.modFunction),
        text("ModPhaseLeftEdit", left.modPhase),
        text("ModPeriodRightEdit", right.modPeriod),
        text("ModDepthRightEdit", right.modDepth),
        index("ModFunctionRight", right.modFunction),
        text("ModPhaseRightEdit", right.modPhase),
        index("WaveDevice", ui.WaveDevice),
        FlagValue("PresetAutoStart", ui.mnuAutostart->isChecked()),
        index("cboFilterTypeL1", left.filterType),
        text("txtFZeroL", left.frequency),
        text("txtQL", left.q),
        text("txtGainL", left.gain),
        index("cboFilterTypeR1", right.filterType),
        text("txtFZeroR", right.frequency),
        text("txtQR", right.q),
        text("txtGainR", right.gain),
        SettingValue{"FormX", std::int32_t{g.x()}},
        SettingValue{"FormY", std::int32_t{g.y()}},
    };
    store.Save(SettingsKeyPath(), values);  // writing never reports to the user
}

void SaveOutputSettings(SettingsStore& store, const OutputSettingsDialog& settings) {
    const auto index = [](const char* name, const QComboBox* list) {
        return SettingValue{name, std::int32_t{list->currentIndex()}};
    };
    store.Save(
        SettingsKeyPath(),
        {index("Fs", settings.ui.cboFsList), index("Buffers", settings.ui.cboBuffers),
         index("Quant", settings.ui.cboQuant), index("BufferSize", settings.ui.cboBufferSize),
         FlagValue("DisableSS", settings.DisableScreenSaver())});
}

void ConnectSettingsStore(SettingsStore& store, GeneratorWindow& generator,
                          OutputSettingsDialog& settings) {
    generator.SetStore(&store);
    generator.onClosing = [&store, &generator] { SaveWindowSettings(store, generator); };
    QObject::connect(&settings, &OutputSettingsDialog::closedByUser, &generator,
                     [&store, &settings] { SaveOutputSettings(store, settings); });
}

SuppressibleAnswer AskUnlessSuppressed(SettingsStore& store, Dialogs& dialogs,
                                       const QString& message, const QString& title,
                                       const QString& flagName) {
    const std::string flag = flagName.toStdString();
    const std::optional<SettingsValues> values = store.Load(SettingsKeyPath());
    if (values && values->Has(flag)) {
        return SuppressibleAnswer::kNotShown;  // its presence alone suppresses it
    }
    bool dontShowAgain = false;
    const bool yes = dialogs.AskSuppressible(message, title, dontShowAgain);
    if (dontShowAgain) {
        store.Save(SettingsKeyPath(), {FlagValue(flag, true)});
    }
    return yes ? SuppressibleAnswer::kYes : SuppressibleAnswer::kNo;
}

}  // namespace skarnel
