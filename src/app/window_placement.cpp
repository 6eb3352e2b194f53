#include "app/window_placement.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace skarnel {

namespace {

// Room left around a window for a window manager's frame. The frame is not
// known before the window is first shown; this is a generous title bar and
// border.
constexpr QMargins kFrameAllowance(8, 36, 8, 8);

// Pulls `rect` inside `area`, its top-left corner first when it is larger.
QRect Inside(QRect rect, const QRect& area) {
    rect.moveLeft(std::max(area.left(), std::min(rect.left(), area.right() + 1 - rect.width())));
    rect.moveTop(std::max(area.top(), std::min(rect.top(), area.bottom() + 1 - rect.height())));
    return rect;
}

// A window not yet shown can hold sizes its layouts cached before its last
// changes (a list given its items and pictures, captions set): showing
// refreshes them, too late for placing. Every cached size is dropped and
// each layout worked out afresh, the innermost first.
void RefreshLayouts(QWidget& window) {
    const QList<QWidget*> children = window.findChildren<QWidget*>();
    for (QWidget* child : children) {
        child->updateGeometry();
    }
    for (auto child = children.rbegin(); child != children.rend(); ++child) {
        if ((*child)->layout() != nullptr) {
            (*child)->layout()->activate();
        }
    }
    if (window.layout() != nullptr) {
        window.layout()->activate();
    }
}

}  // namespace

QRect PlacedGeometry(const std::optional<QPoint>& stored, const QSize& size) {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return QRect(stored.value_or(QPoint(0, 0)), size);
    }
    QScreen* screen = stored ? QGuiApplication::screenAt(*stored) : primary;
    if (screen == nullptr) {
        screen = primary;
    }
    const QRect area = screen->availableGeometry();
    const QSize fitting = size.boundedTo(area.marginsRemoved(kFrameAllowance).size());
    if (!stored) {
        QRect centred(QPoint(0, 0), fitting);
        centred.moveCenter(area.center());
        return Inside(centred, area);
    }
    return Inside(QRect(*stored, fitting), area);
}

QPoint StoredWindowPoint(const QWidget& window) {
    return window.geometry().topLeft();
}

void PlaceWindow(QWidget& window, const std::optional<QPoint>& stored) {
    // Before it is first shown a window has not yet grown to what its
    // layout needs; placing it by its default size would centre it wrongly.
    RefreshLayouts(window);
    const QSize wanted = (window.testAttribute(Qt::WA_Resized) ? window.size() : window.sizeHint())
                             .expandedTo(window.minimumSizeHint());
    QRect placed = PlacedGeometry(stored, wanted);
    if (placed.height() < wanted.height()) {
        const int bar = window.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &window);
        placed = PlacedGeometry(stored, QSize(wanted.width() + bar, placed.height()));
    }
    window.setGeometry(placed);
}

}  // namespace skarnel
