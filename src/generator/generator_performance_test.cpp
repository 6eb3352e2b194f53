// Tools > Performance Test: the window's side of the guided test.
#include <QApplication>
#include <QDir>

#include "generator/generator_window.h"
#include "generator/shell_commands.h"
#include "generator/wave_export.h"
#include "perftest/performance_test.h"
#include "settings/choice_lists.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel {

namespace {

class WindowPerformanceHost : public PerformanceTestHost {
public:
    explicit WindowPerformanceHost(GeneratorWindow& window) : window_(window) {}

    QString ProgramFolder() const override { return window_.shell().programFolder(); }
    std::string LoadPresetFile(const QString& path) override { return window_.LoadPresets(path); }
    void RecallMemory(int slot) override { window_.RecallMemory(slot); }
    int SampleRateChoice() const override { return window_.settingsDialog()->SampleRateItem(); }
    void SelectSampleRateChoice(int item) override {
        window_.settingsDialog()->ChooseSampleRateItem(item);
    }
    int SampleRateChoiceOf(int hz) const override { return SampleRateItem(hz); }
    void WriteWaveFile(const QString& path) override { window_.exporter().Write(path); }
    void Play() override {
        window_.StartGenerator();
        // The device's notifications wake the event loop, so waiting for the
        // next event serves the window, the user and the device alike.
        while (window_.audioOut().Running()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    QString OutputDeviceText() const override { return window_.OutputDeviceName(); }

private:
    GeneratorWindow& window_;
};

}  // namespace

void GeneratorWindow::OpenPerformanceTest() {
    if (settings_ == nullptr) {
        return;
    }
    SteadyMillisecondClock steadyClock;
    const ModalGuard testing(*this, ModalOperation::kPerformanceTest);
    WindowPerformanceHost host(*this);
    CompatibilityTest(host, dialogs_,
                      performanceClock_ != nullptr ? *performanceClock_ : steadyClock);
}

}  // namespace skarnel
