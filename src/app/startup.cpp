#include "app/startup.h"

#include <QFileInfo>

#include "app/about_window.h"
#include "app/start_splash.h"
#include "app/startup_pacer.h"
#include "app/window_settings.h"
#include "generator/generator_window.h"
#include "generator/script_control.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "persistence/settings_store.h"
#include "platform/dialogs.h"
#include "platform/help_router.h"
#include "platform/suppressible_question.h"
#include "settings_dialog/output_settings_dialog.h"

// The shell's pictures live in this library; a static library's resources
// must be registered by hand.
static void RegisterShellResources() {
    Q_INIT_RESOURCE(app);
}

namespace skarnel {

SkarnelStartup::SkarnelStartup(StartupServices services, QString firstArgument)
    : services_(services), argument_(std::move(firstArgument)) {
    RegisterShellResources();
}

SkarnelStartup::~SkarnelStartup() {
    // The window renders into its device until it is gone; the dialogs it
    // points at go after it.
    generator_.reset();
}

SkarnelStartup::Outcome SkarnelStartup::Start(const std::function<void(GeneratorWindow&)>& attach,
                                              const std::function<void(GeneratorWindow&)>& ready) {
    plan_ =
        PlanCommandLine(argument_, [](const QString& path) { return QFileInfo(path).isFile(); });
    if (plan_.showSplash) {
        splash_ = std::make_unique<StartSplash>();
    }

    CreateGenerator();
    if (attach) {
        attach(*generator_);
    }
    // A store that another process holds is not a missing one: asking the
    // welcome question again, or storing reset values over the user's at the
    // end, would lose what is in it.
    const bool storeReadable = WaitForStore();
    if (storeReadable) {
        AskWelcome();
    } else {
        services_.dialogs.Note(kStoreBusyMessage);
    }

    generator_->scripts().window();
    about_ = std::make_unique<AboutWindow>();
    about_->openWebPage = [this] { generator_->shell().OpenMakerWebPage(); };
    generator_->shell().SetAboutHandler([this] { about_->ShowFor(generator_.get()); });

    if (splash_) {
        splash_->FadeIn(services_.pacer);
    }

    // A window of its own: disabling the generator (during an export or a
    // script) must not disable the dialog that enables it again.
    settings_ = std::make_unique<OutputSettingsDialog>();
    generator_->SetSettingsDialog(settings_.get());
    const bool loaded = LoadSettings(services_.store, *generator_, *settings_);
    generator_->RunGuarded([this] { generator_->PrepareEngineFromWindow(); });
    ConnectSettingsStore(
        services_.store, *generator_, *settings_,
        storeReadable && loaded ? StoreOnClose::kWindowValues : StoreOnClose::kNothing);
    generator_->exporter().progressWindow();

    if (splash_) {
        splash_->FadeOut(services_.pacer);
        splash_.reset();
    }

    if (plan_.loadExamples) {
        // Without the examples the slots keep what they were given at start.
        generator_->LoadPresets(services_.programFolder + "/" + kExamplesFileName);
    }
    const auto openToCommands = [&] {
        if (ready) {
            ready(*generator_);
        }
    };
    if (!plan_.scriptPath.isEmpty()) {
        openToCommands();  // other windows' sync commands reach a script too
        generator_->hide();
        ShowIntroductionIfWanted();
        const ScriptOutcome outcome = generator_->scripts().Run(plan_.scriptPath);
        // The window is not closed, so its settings are not stored.
        return outcome == ScriptOutcome::kCompleted ? Outcome::kEnd : Outcome::kEndFailed;
    }
    if (!plan_.presetPath.isEmpty()) {
        const std::string error = generator_->LoadPresets(plan_.presetPath);
        if (!error.empty()) {
            services_.dialogs.Note(QString::fromStdString(error));
        }
    }
    openToCommands();
    generator_->show();
    ShowIntroductionIfWanted();
    return Outcome::kRunEventLoop;
}

void SkarnelStartup::CreateGenerator() {
    generator_ = std::make_unique<GeneratorWindow>(services_.backend, services_.dialogs,
                                                   services_.screenSaver);
    generator_->shell().SetProgramFolder(services_.programFolder);
    generator_->SetStore(&services_.store);
}

bool SkarnelStartup::WaitForStore() {
    // Each read waits a few seconds for the other process by itself.
    for (int attempt = 0; attempt < kStoreReadAttempts; ++attempt) {
        services_.store.Load(SettingsKeyPath());
        if (!services_.store.busy()) {
            return true;
        }
    }
    return false;
}

void SkarnelStartup::AskWelcome() {
    // Only the tick is remembered, never the answer.
    const HelpContext aboutTheProgram(kIntroductionHelp);
    introductionWanted_ = AskUnlessSuppressed(services_.store, services_.dialogs, kWelcomeMessage,
                                              "Welcome", "Welcome") == SuppressibleAnswer::kYes;
}

// The introduction asked for at the welcome question opens once the
// generator window has been shown, so it comes in front of it: opened at
// the question, the window shown at the end of the start covered it.
void SkarnelStartup::ShowIntroductionIfWanted() {
    if (introductionWanted_) {
        introductionWanted_ = false;
        ShowHelpTopic(kIntroductionHelp);
    }
}

}  // namespace skarnel
