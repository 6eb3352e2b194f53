#pragma once

#include <QString>
#include <memory>

namespace skarnel {

class Dialogs;
class ExportProgressWindow;
class GeneratorWindow;
class SettingsStore;

// Rendering one period of the window's signal into a WAV file: the File
// menu's command (with its CD-format hint and file dialog), and the writer
// with its progress window, which the performance test uses too.
class WaveExport {
public:
    WaveExport(GeneratorWindow& window, Dialogs& dialogs);
    ~WaveExport();

    // The store of the CD-format hint's "Don't show again" flag.
    void SetStore(SettingsStore* store) { store_ = store; }

    void Command();
    // Writes the window's signal, as prepared, to `path`.
    void Write(const QString& path);
    ExportProgressWindow& progressWindow();

private:
    GeneratorWindow& window_;
    Dialogs& dialogs_;
    SettingsStore* store_ = nullptr;
    QString clipNote_;  // the status bar's note of the last export that clipped
    std::unique_ptr<ExportProgressWindow> progress_;
};

}  // namespace skarnel
