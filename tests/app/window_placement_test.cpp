#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace skarnel::testing {
namespace {

// Whatever the stored place, the window comes up whole on a screen; a place
// that fits is kept exactly, so the window does not move between starts.
TEST(WindowPlacement, KeepsAFittingPlaceAndBringsOthersOnScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size(300, 200);
    ASSERT_GE(area.width(), size.width());
    ASSERT_GE(area.height(), size.height());

    const QPoint fitting = area.topLeft() + QPoint(17, 23);
    EXPECT_EQ(PlacedGeometry(fitting, size), QRect(fitting, size));

    // A screen that is gone, or one smaller than the one the place was on.
    for (const QPoint stored : {QPoint(-5000, -4000), QPoint(area.right() + 3000, 40),
                                QPoint(area.right() - 100, area.bottom() - 50)}) {
        const QRect placed = PlacedGeometry(stored, size);
        EXPECT_TRUE(area.contains(placed)) << stored.x() << "," << stored.y();
        EXPECT_EQ(placed.size(), size);
    }

    // A first start: centred.
    const QRect centred = PlacedGeometry(std::nullopt, size);
    EXPECT_LE(std::abs(centred.center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(centred.center().y() - area.center().y()), 1);

    // Larger than the screen (a small one, or a high scale factor): made
    // smaller, it lies whole on the screen with room for a frame.
    for (const std::optional<QPoint> stored :
         {std::optional<QPoint>(area.topLeft() + QPoint(50, 50)), std::optional<QPoint>()}) {
        const QRect large = PlacedGeometry(stored, area.size() + QSize(200, 200));
        EXPECT_TRUE(area.contains(large));
        EXPECT_LT(large.width(), area.width());
        EXPECT_LT(large.height(), area.height());
        EXPECT_GE(large.height(), area.height() - 60);
    }
}

// A window asks for its layout's size; on a screen too short for it, it is
// cut to the screen and made a scroll bar wider, and nothing of it lies
// off the screen.
TEST(WindowPlacement, AWindowTallerThanTheScreenIsCutToItAndWidenedForTheScrollBar) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    struct Tall : QWidget {
        QSize sizeHint() const override { return {400, 3000}; }
    } tall;
    PlaceWindow(tall, std::nullopt);
    EXPECT_TRUE(area.contains(tall.geometry()));
    EXPECT_EQ(tall.width(), 400 + tall.style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    struct Fitting : QWidget {
        QSize sizeHint() const override { return {300, 200}; }
    } fitting;
    PlaceWindow(fitting, std::nullopt);
    EXPECT_EQ(fitting.size(), QSize(300, 200));
}

// What is stored is what placing restores: the client area's corner.
TEST(WindowPlacement, StoresThePointItRestores) {
    QWidget window;
    window.resize(320, 240);
    const QPoint place =
        QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(40, 30);
    PlaceWindow(window, place);
    EXPECT_EQ(StoredWindowPoint(window), place);
}

}  // namespace
}  // namespace skarnel::testing
