#include "app/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace skarnel {

namespace {

// Pulls `rect` inside `area`, its top-left corner first when it is larger.
QRect Inside(QRect rect, const QRect& area) {
    rect.moveLeft(std::max(area.left(), std::min(rect.left(), area.right() + 1 - rect.width())));
    rect.moveTop(std::max(area.top(), std::min(rect.top(), area.bottom() + 1 - rect.height())));
    return rect;
}

}  // namespace

QRect PlacedGeometry(const std::optional<QPoint>& stored, const QSize& size) {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return QRect(stored.value_or(QPoint(0, 0)), size);
    }
    if (!stored) {
        QRect centred(QPoint(0, 0), size);
        centred.moveCenter(primary->availableGeometry().center());
        return Inside(centred, primary->availableGeometry());
    }
    QScreen* screen = QGuiApplication::screenAt(*stored);
    if (screen == nullptr) {
        screen = primary;
    }
    return Inside(QRect(*stored, size), screen->availableGeometry());
}

QPoint StoredWindowPoint(const QWidget& window) {
    return window.geometry().topLeft();
}

void PlaceWindow(QWidget& window, const std::optional<QPoint>& stored) {
    // Before it is first shown a window has not yet grown to what its
    // layout needs; placing it by its default size would centre it wrongly.
    const QSize size = window.size().expandedTo(window.minimumSizeHint());
    window.setGeometry(PlacedGeometry(stored, size));
}

}  // namespace skarnel
