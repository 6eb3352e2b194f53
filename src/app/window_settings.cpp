#include "app/window_settings.h"

#include "app/window_placement.h"

#include <QComboBox>

#include "app/help_window.h"
#include "audio/device_list.h"
#include "generator/generator_window.h"
#include "persistence/settings_store.h"
#include "platform/logging.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

namespace {

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

// Whether the live view shows: a window's own choice, kept beside its values.
constexpr const char* kLiveViewValue = "LiveView";

void Save(SettingsStore& store, const std::vector<SettingValue>& values, const char* what) {
    // Writing never reports to the user; a failure is logged.
    if (!store.Save(SettingsKeyPath(), values)) {
        qCWarning(lcWindow) << "the" << what << "were not stored:" << store.lastError().c_str();
    }
}

}  // namespace

bool LoadSettings(SettingsStore& store, GeneratorWindow& generator,
                  OutputSettingsDialog& settings) {
    settings.SetDefaults();
    const std::optional<SettingsValues> values = store.Load(SettingsKeyPath());
    if (!values && !store.lastError().empty()) {
        qCWarning(lcWindow) << "the stored settings were not read:" << store.lastError().c_str();
    }
    if (values && values->Has("Fs")) {
        LoadOutputValues(*values, settings);
    }
    settings.ApplyChosenFrequency();
    generator.SetSampleRate(settings.SamplingFrequency());

    // Before the window is placed: the view is part of the size it wants.
    bool liveView = true;  // a store from before the view: shown
    if (values) {
        values->ReadFlag(kLiveViewValue, liveView);
    }
    generator.ShowLiveView(liveView);

    GeneratorModel& model = generator.model();
    std::optional<QPoint> place;
    const bool loaded =
        values && model.Load(*values, [&place](int x, int y) { place = QPoint(x, y); });
    PlaceWindow(generator, place);
    if (!loaded) {
        model.Reset();
    }
    model.OnModulationToggled(kLeft);
    model.OnModulationToggled(kRight);
    generator.ShowSettings();  // with the note of a stored device that is missing
    if (!values && store.damaged()) {
        generator.ShowStatusNote(
            QString("The stored settings could not be read (%1): the window starts from its "
                    "defaults, and the store is set aside when it closes.")
                .arg(QString::fromStdString(store.lastError())));
    }
    if (loaded && !model.unreadableStored().empty()) {
        // One unreadable value costs only itself; the user hears which.
        QStringList names;
        for (const std::string& name : model.unreadableStored()) {
            names << QString::fromStdString(name);
        }
        const QString note = QString(
                                 "Stored settings that could not be read start at their "
                                 "defaults: %1")
                                 .arg(names.join(", "));
        qCWarning(lcWindow).noquote() << note;
        generator.ShowStatusNote(note);
    }
    generator.presets().FillFromWindow();
    return values.has_value() || !store.busy();
}

void SaveWindowSettings(SettingsStore& store, GeneratorWindow& generator) {
    const QPoint place = StoredWindowPoint(generator);
    std::vector<SettingValue> values = generator.model().StoredValues(place.x(), place.y());
    values.push_back(FlagValue(kLiveViewValue, generator.LiveViewShown()));
    Save(store, values, "window values");
}

void SaveOutputSettings(SettingsStore& store, const OutputSettingsDialog& settings) {
    const auto index = [](const char* name, const QComboBox* list) {
        return SettingValue{name, std::int32_t{list->currentIndex()}};
    };
    Save(store,
         {index("Fs", settings.ui.cboFsList), index("Buffers", settings.ui.cboBuffers),
          index("Quant", settings.ui.cboQuant), index("BufferSize", settings.ui.cboBufferSize),
          FlagValue("DisableSS", settings.DisableScreenSaver())},
         "output values");
}

void LoadHelpPlace(SettingsStore& store, HelpWindow& help) {
    const std::optional<SettingsValues> values = store.Load(SettingsKeyPath());
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    if (values && values->ReadInteger("HelpX", x) == ReadStatus::kOk &&
        values->ReadInteger("HelpY", y) == ReadStatus::kOk &&
        values->ReadInteger("HelpWidth", width) == ReadStatus::kOk &&
        values->ReadInteger("HelpHeight", height) == ReadStatus::kOk && width > 0 && height > 0) {
        help.SetStoredPlace(QRect(x, y, width, height));
    }
}

void SaveHelpPlace(SettingsStore& store, const HelpWindow& help) {
    if (const std::optional<QRect> place = help.PlaceToStore()) {
        Save(store,
             {{"HelpX", std::int32_t{place->x()}},
              {"HelpY", std::int32_t{place->y()}},
              {"HelpWidth", std::int32_t{place->width()}},
              {"HelpHeight", std::int32_t{place->height()}}},
             "help window's place");
    }
}

void ConnectSettingsStore(SettingsStore& store, GeneratorWindow& generator,
                          OutputSettingsDialog& settings, StoreOnClose onClose) {
    generator.SetStore(&store);
    if (onClose == StoreOnClose::kWindowValues) {
        generator.SetClosingHandler([&store, &generator] { SaveWindowSettings(store, generator); });
    } else {
        qCWarning(lcWindow) << "the window values will not be stored: the store was busy at start";
    }
    QObject::connect(&settings, &OutputSettingsDialog::closedByUser, &generator,
                     [&store, &settings] { SaveOutputSettings(store, settings); });
}

}  // namespace skarnel
