#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "audio/simulated_backend.h"
#include "fake_screen_saver.h"
#include "generator/generator_window.h"
#include "generator/status_lamp.h"
#include "scripted_dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel::testing {

// A generator window as the program starts it (reset, then prepared), on a
// manual simulated device, with scripted dialogs.
class GeneratorTest : public ::testing::Test {
protected:
    GeneratorTest() {
        window = std::make_unique<GeneratorWindow>(backend, dialogs, screenSaver);
        settings = std::make_unique<OutputSettingsDialog>(window.get());
        window->SetSettingsDialog(settings.get());
        window->ResetSettings();
        window->RunGuarded([this] { window->PrepareEngineFromWindow(); });
        window->presets().FillFromWindow();
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    ~GeneratorTest() override {
        settings.reset();
        window.reset();
    }

    template <typename T>
    T* Find(const char* name) {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // Text shown in the palette's disabled colour: the control is disabled,
    // or its palette shows it so while it is enabled.
    static bool GreyText(const QWidget* widget) {
        const QPalette palette = widget->palette();
        return !widget->isEnabled() || palette.color(QPalette::Active, QPalette::Text) ==
                                           palette.color(QPalette::Disabled, QPalette::Text);
    }
    QLineEdit* Entry(const char* name) { return Find<QLineEdit>(name); }
    QComboBox* List(const char* name) { return Find<QComboBox>(name); }
    QCheckBox* Box(const char* name) { return Find<QCheckBox>(name); }

    // Types a text into an entry and leaves it, as a user would.
    void TypeAndLeave(const char* name, const QString& text) {
        QLineEdit* entry = Entry(name);
        entry->setFocus();
        entry->selectAll();
        entry->setText(text);
        window->findChild<QPushButton*>("btnPause")->setFocus();
        QApplication::processEvents();
    }
    // Picks a list item as the user does (runs the list's change handling).
    void Pick(const char* name, int index) {
        QComboBox* list = List(name);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    // Writes a script file into `dir` and returns its path.
    static QString WriteScript(const QTemporaryDir& dir, const char* name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size()) << name;
        return path;
    }
    // Lets the device play one buffer and the window handle what follows.
    bool PlayOneBuffer() {
        SimulatedStream* device = backend.LastStream();
        const bool played = device != nullptr && device->CompleteHead();
        window->audioOut().ProcessNotifications();
        return played;
    }
    void HandleNotifications() { window->audioOut().ProcessNotifications(); }

    SimulatedBackend backend;
    ScriptedDialogs dialogs;
    FakeScreenSaver screenSaver;
    std::unique_ptr<GeneratorWindow> window;
    std::unique_ptr<OutputSettingsDialog> settings;
};

}  // namespace skarnel::testing
