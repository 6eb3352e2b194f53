#include "platform/suppressible_question.h"

#include "persistence/settings_store.h"
#include "platform/dialogs.h"
#include "platform/logging.h"

namespace skarnel {

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
    if (dontShowAgain && !store.Save(SettingsKeyPath(), {FlagValue(flag, true)})) {
        qCWarning(lcWindow) << "the question flag" << flagName
                            << "was not stored:" << store.lastError().c_str();
    }
    return yes ? SuppressibleAnswer::kYes : SuppressibleAnswer::kNo;
}

}  // namespace skarnel
