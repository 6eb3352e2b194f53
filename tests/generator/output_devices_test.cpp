// The window's output device list while devices come and go, and what the
// window asks of the stream it opens.
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>

#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

class OutputDevicesTest : public GeneratorTest {
protected:
    QStringList Items() {
        QStringList items;
        QComboBox* list = List("WaveDevice");
        for (int i = 0; i < list->count(); ++i) {
            items << list->itemText(i);
        }
        return items;
    }
    // The back-end announces a change from a thread of its own; the window
    // reads the list again on its own thread.
    void ChangeDevices(std::vector<std::string> names) {
        std::thread([&] { backend.SetDeviceNames(std::move(names)); }).join();
        QApplication::processEvents();
    }
    QString StatusNote() { return window->statusBar()->currentMessage(); }
    // ON then OFF: the device index the stream was opened on.
    std::uint32_t PlayedOn() {
        window->findChild<QPushButton*>("btnON")->click();
        HandleNotifications();
        const std::uint32_t device = backend.LastDeviceIndex();
        window->findChild<QPushButton*>("btnOFF")->click();
        HandleNotifications();
        return device;
    }
};

TEST_F(OutputDevicesTest, TheChosenDeviceStaysChosenByNameWhileDevicesComeAndGo) {
    Pick("WaveDevice", 2);  // "Simulated Output 2"
    ChangeDevices({"USB Interface", "Simulated Output 1", "Simulated Output 2"});
    EXPECT_EQ(Items(), QStringList({"Windows Default", "USB Interface", "Simulated Output 1",
                                    "Simulated Output 2"}));
    EXPECT_EQ(List("WaveDevice")->currentIndex(), 3);
    EXPECT_EQ(window->model().values().waveDevice, 3);
    EXPECT_EQ(window->audioOut().WaveDevice(), 2u);
    EXPECT_TRUE(StatusNote().isEmpty());

    EXPECT_EQ(PlayedOn(), 2u);  // where the user chose it to play

    // Unplugged: the default device, and the window says so.
    ChangeDevices({"USB Interface", "Simulated Output 1"});
    EXPECT_EQ(List("WaveDevice")->currentIndex(), 0);
    EXPECT_EQ(window->audioOut().WaveDevice(), kDefaultWaveDevice);
    EXPECT_EQ(StatusNote(),
              "The output device \"Simulated Output 2\" is not available; "
              "\"Windows Default\" plays instead.");

    // It stays the chosen one: the settings keep it while the default plays.
    const auto storedText = [this](const char* name) {
        std::string text;
        SettingsValues(window->model().StoredValues(0, 0)).ReadText(name, text);
        return text;
    };
    EXPECT_EQ(storedText("WaveDeviceName"), "Simulated Output 2");
    EXPECT_EQ(storedText("WaveDeviceDescription"), "Simulated Output 2");
    // Plugged in again: chosen again, and the note goes.
    ChangeDevices({"Simulated Output 2", "USB Interface", "Simulated Output 1"});
    EXPECT_EQ(List("WaveDevice")->currentIndex(), 1);
    EXPECT_EQ(window->audioOut().WaveDevice(), 0u);
    EXPECT_TRUE(StatusNote().isEmpty());
    EXPECT_EQ(PlayedOn(), 0u);

    // Every device gone: ON is no use; one back: ON again.
    ChangeDevices({});
    EXPECT_EQ(Items(), QStringList({"Windows Default"}));
    EXPECT_FALSE(window->findChild<QPushButton*>("btnON")->isEnabled());
    ChangeDevices({"Simulated Output 1"});
    EXPECT_TRUE(window->findChild<QPushButton*>("btnON")->isEnabled());
}

// Two devices that look alike in the list's 32 characters are told apart:
// numbered in the list, the whole description in the hint, and chosen by the
// host's name for them, whatever their order.
TEST_F(OutputDevicesTest, LookAlikeDevicesAreToldApartAndChosenByTheirHostNames) {
    const std::string analog = "Family 17h/19h HD Audio Controller Analog Stereo";
    const std::string digital = "Family 17h/19h HD Audio Controller Digital Stereo";
    std::thread([&] {
        backend.SetDeviceNames({analog, digital}, {"sink.analog", "sink.digital"});
    }).join();
    QApplication::processEvents();
    const QString cut = QString::fromStdString(analog.substr(0, 32)) + QChar(0x2026);
    EXPECT_EQ(Items(), QStringList({"Windows Default", cut, cut + " (2)"}));
    EXPECT_EQ(List("WaveDevice")->itemData(2, Qt::ToolTipRole).toString(),
              QString::fromStdString(digital));
    Pick("WaveDevice", 2);
    std::thread([&] {
        backend.SetDeviceNames({digital, analog}, {"sink.digital", "sink.analog"});
    }).join();
    QApplication::processEvents();
    EXPECT_EQ(List("WaveDevice")->currentIndex(), 1);
    EXPECT_EQ(window->audioOut().WaveDevice(), 0u);
    EXPECT_EQ(List("WaveDevice")->itemData(1, Qt::ToolTipRole).toString(),
              QString::fromStdString(digital));
}

// What the sound server's mixer does to the stream shows in the status line
// while it differs from the samples made, and goes when it is undone; a later
// note is not taken away with it.
TEST_F(OutputDevicesTest, TheMixersLevelShowsInTheStatusLineUntilItIsUndone) {
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    ASSERT_NE(backend.LastStream(), nullptr);
    const auto mixer = [this](double gainDb, bool muted) {
        backend.LastStream()->SetMixerLevel({gainDb, muted});
        HandleNotifications();
    };
    mixer(0.0, false);
    EXPECT_TRUE(StatusNote().isEmpty());
    mixer(-18.0618, false);
    EXPECT_EQ(StatusNote(), "The sound server plays this stream at -18.1 dB");
    mixer(-18.0618, true);
    EXPECT_EQ(StatusNote(), "The sound server plays this stream muted");
    mixer(0.0, false);
    EXPECT_TRUE(StatusNote().isEmpty());
    mixer(-6.0, false);
    window->ShowStatusNote("Something else");
    mixer(0.0, false);
    EXPECT_EQ(StatusNote(), "Something else");
    window->findChild<QPushButton*>("btnOFF")->click();
    HandleNotifications();
}

// The note that the chosen device is missing takes no room from the
// controls: the window at its natural size grows by the status line instead
// of scrolling the credit out of sight.
TEST_F(OutputDevicesTest, TheMissingDeviceNoteGrowsTheWindowInsteadOfScrollingIt) {
    Pick("WaveDevice", 2);
    window->resize(window->sizeHint());
    QApplication::processEvents();
    auto* scroll = window->findChild<QScrollArea*>("centralScroll");
    ASSERT_FALSE(scroll->verticalScrollBar()->isVisible());
    const int height = window->height();
    ChangeDevices({"Simulated Output 1"});
    QApplication::processEvents();
    ASSERT_FALSE(StatusNote().isEmpty());
    EXPECT_TRUE(window->statusBar()->isVisible());
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << "the note made the window scroll";
    EXPECT_GE(window->height(), height + window->statusBar()->height());
    const QWidget* credit = window->findChild<QLabel*>("lblCredit");
    EXPECT_EQ(credit->visibleRegion().boundingRect(), credit->rect());
}

TEST_F(OutputDevicesTest, AWindowGoneBeforeTheChangeArrivesIsNotCalled) {
    EXPECT_TRUE(backend.Watched());
    // A change queued for the window, which closes before it is handled.
    backend.SetDeviceNames({"Late Device"});
    settings.reset();  // a child of the window
    window.reset();
    EXPECT_FALSE(backend.Watched());
    QApplication::processEvents();  // the queued call must find no window
    backend.SetDeviceNames({"Later Device"});
    QApplication::processEvents();
}

TEST_F(OutputDevicesTest, TheStreamIsNamedForTheWindowAndSizedByTheOutputSettings) {
    window->findChild<QPushButton*>("btnON")->click();
    HandleNotifications();
    const StreamOptions& options = backend.LastStreamOptions();
    EXPECT_EQ(options.name, "Generator 1 - Pink 6:1");
    EXPECT_EQ(options.bufferCount, static_cast<std::uint32_t>(window->audioOut().NumBuffers()));
    EXPECT_EQ(options.bufferBytes, static_cast<std::uint32_t>(window->audioOut().BufferSize()));
}

}  // namespace
}  // namespace skarnel::testing
