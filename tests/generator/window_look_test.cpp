// How the generator window reads and handles: colours taken from the palette
// (dark themes), pictures drawn for the screen's pixel density, a layout that
// fits small and scaled screens, and the keyboard's way through it.
#include <QComboBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <set>

#include "app/window_placement.h"
#include "generator/hover_label.h"
#include "generator/list_icons.h"
#include "generator_fixture.h"

namespace skarnel::testing {
namespace {

QPalette DarkPalette() {
    QPalette dark;
    for (const auto& [role, colour] : {std::pair{QPalette::Window, QColor(45, 45, 48)},
                                       {QPalette::Base, QColor(30, 30, 30)},
                                       {QPalette::Button, QColor(53, 53, 53)},
                                       {QPalette::WindowText, QColor(230, 230, 230)},
                                       {QPalette::Text, QColor(235, 235, 235)},
                                       {QPalette::ButtonText, QColor(230, 230, 230)},
                                       {QPalette::Link, QColor(110, 170, 255)}}) {
        dark.setColor(role, colour);
    }
    return dark;
}

// Relative difference in lightness of the drawn (opaque enough) pixels of a
// picture from `background`: how well the picture stands out on it.
int Contrast(const QImage& image, const QColor& background) {
    int best = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() >= 128) {
                best = std::max(best, std::abs(pixel.lightness() - background.lightness()));
            }
        }
    }
    return best;
}

// The label takes the palette's link colour while hovered and, after, the
// colour and font of whatever it inherits: on a dark window it must never be
// left black.
TEST(HoverLinkTest, HighlightsInTheLinkColourAndInheritsAgainAfter) {
    QWidget parent;
    parent.setPalette(DarkPalette());
    auto* label = new QLabel("fs=44.1kHz", &parent);
    HoverLink::Attach(label);
    const auto textColour = [label] { return label->palette().color(QPalette::WindowText); };
    ASSERT_EQ(textColour(), QColor(230, 230, 230));

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(label, &enter);
    EXPECT_EQ(textColour(), QColor(110, 170, 255));
    EXPECT_TRUE(label->font().underline());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(label, &leave);
    EXPECT_EQ(textColour(), QColor(230, 230, 230));
    EXPECT_FALSE(label->font().underline());
    // Inherited, not a copy: a later theme change reaches the label.
    QPalette lighter = DarkPalette();
    lighter.setColor(QPalette::WindowText, QColor(250, 240, 200));
    parent.setPalette(lighter);
    EXPECT_EQ(textColour(), QColor(250, 240, 200));
    QFont larger = parent.font();
    larger.setPointSize(larger.pointSize() + 5);
    parent.setFont(larger);
    EXPECT_EQ(label->font().pointSize(), larger.pointSize());
}

// Every list picture stands out on a dark base and on a light one, and is
// drawn at 2x for a 2x screen rather than scaled up from 16 pixels.
TEST(ListIconsTest, ReadOnLightAndDarkBasesAndAreDrawnForTheDensity) {
    QPalette light;
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Text, Qt::black);
    using Maker = QIcon (*)(int, const QPalette&);
    const std::pair<Maker, int> lists[] = {
        {NoiseFunctionIcon, 2}, {ModFunctionIcon, 4}, {ChannelModeIcon, 2}};
    for (const QPalette& palette : {light, DarkPalette()}) {
        const QColor base = palette.color(QPalette::Base);
        for (const auto& [make, count] : lists) {
            for (int i = 0; i < count; ++i) {
                const QIcon icon = make(i, palette);
                const QPixmap sharp = icon.pixmap(QSize(16, 16), 2.0);
                EXPECT_EQ(sharp.size(), QSize(32, 32)) << i;
                EXPECT_EQ(sharp.devicePixelRatio(), 2.0) << i;
                EXPECT_GE(Contrast(sharp.toImage(), base), 100)
                    << "item " << i << " on " << base.name().toStdString();
            }
        }
    }
}

class WindowLookTest : public GeneratorTest {
protected:
    QScrollArea* Scroll() { return Find<QScrollArea>("centralScroll"); }
    // Where a part (groove, handle) of a slider lies, as its style draws it.
    static QRect SliderPart(QSlider* slider, QStyle::SubControl part) {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.tickPosition = slider->tickPosition();
        return slider->style()->subControlRect(QStyle::CC_Slider, &option, part, slider);
    }
    // The window at its natural size, as on a screen with room for it.
    void ShowNaturalSize() {
        window->resize(window->sizeHint());
        QApplication::processEvents();
    }
};

// A window opened on a screen of 1366 x 768 (at 1x) shows everything with no
// scroll bar; on 800 x 500 (1600 x 1000 at 2x) it fits and scrolls.
TEST_F(WindowLookTest, FitsALaptopScreenWholeAndAScaledOneByScrolling) {
    const QSize natural = window->sizeHint();
    EXPECT_LE(natural.width(), 1366 - 20) << natural.width();
    EXPECT_LE(natural.height(), 768 - 60) << natural.height();
    ShowNaturalSize();
    EXPECT_FALSE(Scroll()->verticalScrollBar()->isVisible());
    EXPECT_FALSE(Scroll()->horizontalScrollBar()->isVisible());

    const QSize small = window->minimumSizeHint();
    EXPECT_LE(small.width(), 800 - 20) << small.width();
    EXPECT_LE(small.height(), 500 - 60) << small.height();
    window->resize(760, 440);
    QApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(760, 440));
    EXPECT_TRUE(Scroll()->verticalScrollBar()->isVisible());
    // The last control of the right panel can be brought into view.
    QWidget* last = Entry("ModPhaseRightEdit");
    Scroll()->ensureWidgetVisible(last);
    QApplication::processEvents();
    const QRect inViewport(last->mapTo(Scroll()->viewport(), QPoint(0, 0)), last->size());
    EXPECT_TRUE(Scroll()->viewport()->rect().contains(inViewport));
}

// On a screen too small for the whole window, ON, OFF, Pause and the lamp
// stay on screen while the window is scrolled down to the live view: the
// transport row is outside the scrolled area.
TEST_F(WindowLookTest, TheTransportRowStaysInViewWhileTheWindowScrolls) {
    window->resize(760, 440);
    QApplication::processEvents();
    ASSERT_TRUE(Scroll()->verticalScrollBar()->isVisible());
    QWidget* view = window->findChild<QWidget*>("liveView");
    ASSERT_NE(view, nullptr);
    Scroll()->ensureWidgetVisible(view);
    QApplication::processEvents();
    EXPECT_GT(Scroll()->verticalScrollBar()->value(), 0);
    const QRect shown = window->rect();
    for (const char* name : {"btnON", "btnOFF", "btnPause", "LED", "WaveDevice"}) {
        auto* control = Find<QWidget>(name);
        const QRect inWindow(control->mapTo(window.get(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(control->isVisible() && shown.contains(inWindow)) << name;
        EXPECT_FALSE(Scroll()->isAncestorOf(control)) << name << " scrolls away";
    }
}

// On a window that scrolls, the wheel over a slider or list that has not the
// keyboard focus scrolls the window and leaves the level and the choice as
// they are; once clicked or tabbed into, the control takes the wheel.
TEST_F(WindowLookTest, TheWheelScrollsPastControlsWithoutTheFocus) {
    window->resize(760, 440);
    QApplication::processEvents();
    QScrollBar* bar = Scroll()->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    QSlider* slider = Find<QSlider>("AmplitudeSliderLeft");
    QComboBox* list = Find<QComboBox>("WaveFormLeft");
    const auto wheelOver = [](QWidget* control, int notches) {
        const QPointF at = QRectF(control->rect()).center();
        QWheelEvent wheel(at, control->mapToGlobal(at), QPoint(), QPoint(0, -120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &wheel);
        QApplication::processEvents();
    };
    for (QWidget* control : {static_cast<QWidget*>(slider), static_cast<QWidget*>(list)}) {
        SCOPED_TRACE(control->objectName().toStdString());
        Scroll()->ensureWidgetVisible(control);
        QApplication::processEvents();
        window->setFocus();
        const int level = slider->value();
        const int choice = list->currentIndex();
        const int scrolled = bar->value();
        wheelOver(control, 3);
        EXPECT_EQ(slider->value(), level);
        EXPECT_EQ(list->currentIndex(), choice);
        EXPECT_NE(bar->value(), scrolled) << "the window did not scroll";
        EXPECT_FALSE(control->hasFocus()) << "the wheel gave the control the focus";
    }
    slider->setFocus();
    const int level = slider->value();
    wheelOver(slider, 1);
    EXPECT_NE(slider->value(), level);
}

// The window is placed by the size it asks for before it is first shown: a
// size from before its lists got their items and pictures would leave it
// short of its content, with a scroll bar where the screen has room.
TEST_F(WindowLookTest, ANewWindowIsPlacedAtTheSizeItWantsWhenShown) {
    GeneratorWindow fresh(backend, dialogs, screenSaver);
    PlaceWindow(fresh, std::nullopt);
    const QSize placed = fresh.size();
    fresh.show();
    QApplication::processEvents();
    const QSize area = fresh.screen()->availableGeometry().size();
    const QSize wanted = fresh.sizeHint();
    EXPECT_EQ(placed.height(), std::min(wanted.height(), area.height() - 44));
    EXPECT_EQ(placed.width() >= wanted.width(), area.width() - 16 >= wanted.width());
}

// 100 dB over at least 200 pixels of groove: a drag sets the level to half a
// decibel.
TEST_F(WindowLookTest, TheAmplitudeSliderHasTwoHundredPixelsOfTravel) {
    ShowNaturalSize();
    for (const char* name : {"AmplitudeSliderLeft", "AmplitudeSliderRight"}) {
        const QRect groove = SliderPart(Find<QSlider>(name), QStyle::SC_SliderGroove);
        EXPECT_GE(groove.height(), 200) << name;
    }
}

// Tab walks the rows from the top, left to right, then the left panel and the
// right one, each from its top.
TEST_F(WindowLookTest, TabFollowsTheLayoutFromTheTop) {
    // clang-format off
    const std::vector<std::string> expected = {
        "cboChannels", "chkAsLeft", "Duration", "Loop", "WaveDevice", "chkSync", "btnON", "btnOFF",
        "btnPause", "btnMemory1", "btnMemory4",
        "Lefttick", "WaveFormLeft", "cboCrestFactorL", "cboFilterTypeL1", "txtFZeroL", "txtQL",
        "AmplitudeLeft", "AmplitudeSliderLeft", "ModulationOnLeft", "ModPhaseLeftEdit",
        "RightTick", "WaveFormRight", "AmplitudeRight", "ModPhaseRightEdit"};
    // clang-format on
    std::vector<std::string> chain;
    QWidget* start = List("cboChannels");
    QWidget* w = start;
    do {
        const std::string name = w->objectName().toStdString();
        if (std::find(expected.begin(), expected.end(), name) != expected.end()) {
            chain.push_back(name);
        }
        w = w->nextInFocusChain();
    } while (w != start);
    EXPECT_EQ(chain, expected);
}

// The playback entries of the Tools menu have letters of their own and keep
// their captions and shortcuts.
TEST_F(WindowLookTest, ToolsEntriesHaveDistinctAcceleratorsAndTheirShortcuts) {
    const std::pair<const char*, const char*> entries[] = {
        {"mnuON", "F11"}, {"mnuOFF", "F9"}, {"mnuPause", "F10"}, {"mnuToggle", "Ctrl+Ins"}};
    for (const auto& [name, shortcut] : entries) {
        QAction* action = window->findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->shortcut(), QKeySequence(shortcut)) << name;
        EXPECT_TRUE(action->text().contains('&')) << name;
    }
    EXPECT_EQ(QString(window->findChild<QAction*>("mnuToggle")->text()).remove('&'),
              "ON/OFF Toggle");
    // Every entry of the menu has a letter, and no two share one.
    std::set<QChar> letters;
    const QList<QAction*> actions = window->findChild<QMenu*>("mnuTools")->actions();
    for (QAction* action : actions) {
        const QString text = action->text();
        if (const qsizetype amp = text.indexOf('&'); amp >= 0 && amp + 1 < text.size()) {
            letters.insert(text[amp + 1].toLower());
        }
    }
    EXPECT_EQ(letters.size(), 6u);
}

// On a dark palette the lists' pictures are drawn again in light lines.
TEST_F(WindowLookTest, ListPicturesFollowAPaletteChange) {
    const QPalette dark = DarkPalette();
    window->setPalette(dark);
    QApplication::processEvents();
    for (const char* name : {"WaveFormLeft", "ModFunctionRight", "cboChannels"}) {
        const QImage picture = List(name)->itemIcon(0).pixmap(QSize(16, 16), 1.0).toImage();
        EXPECT_GE(Contrast(picture, dark.color(QPalette::Base)), 100) << name;
    }
}

// The amplitude sliders' tick marks stand out on a dark window as on a
// light one: drawn in the palette's text colour mixed with the window's, not
// a shade of the window.
TEST_F(WindowLookTest, SliderTicksStandOutOnADarkWindow) {
    ShowNaturalSize();
    for (const QPalette& palette : {QApplication::palette(), DarkPalette()}) {
        window->setPalette(palette);
        QApplication::processEvents();
        const QColor background = palette.color(QPalette::Window);
        for (const char* name : {"AmplitudeSliderLeft", "AmplitudeSliderRight"}) {
            QSlider* slider = Find<QSlider>(name);
            const QRect handle = SliderPart(slider, QStyle::SC_SliderHandle);
            // The strip right of the handle's reach, where the ticks are.
            const QImage ticks = slider->grab().toImage().copy(
                handle.right() + 1, 0, slider->width() - handle.right() - 1, slider->height());
            // A greyed slider's ticks are greyed too, but still seen.
            EXPECT_GE(Contrast(ticks, background), slider->isEnabled() ? 60 : 20)
                << name << " on " << background.name().toStdString();
        }
    }
}

}  // namespace
}  // namespace skarnel::testing
