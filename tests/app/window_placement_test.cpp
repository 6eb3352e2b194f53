#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
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

    // Larger than the screen: its top-left corner stays reachable.
    EXPECT_EQ(
        PlacedGeometry(area.topLeft() + QPoint(50, 50), area.size() + QSize(200, 200)).topLeft(),
        area.topLeft());
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
