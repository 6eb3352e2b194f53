#pragma once

#include <QPoint>
#include <QRect>
#include <optional>

class QWidget;

namespace skarnel {

// Where a window's stored position puts it: the stored point is the top-left
// of the window's client area (what QWidget::geometry() reports), so storing
// and restoring the same thing keeps the window still from start to start
// whatever frame a window manager adds.
//
// A window whose stored place lies on no screen (a screen that is gone) goes
// to the primary screen; one that would reach past its screen's edge (a
// smaller screen now) is pulled back inside. With no stored place the window
// is centred on the primary screen. A window larger than its screen (a small
// screen, or a high scale factor) is made smaller: it fits the screen's
// available area with room for a frame around it.
QRect PlacedGeometry(const std::optional<QPoint>& stored, const QSize& size);

// The stored point for the window as it stands now.
QPoint StoredWindowPoint(const QWidget& window);

// Places a window that has not been shown yet, at the size its layout asks
// for where the screen has room. A window cut shorter than it asks for gets a
// vertical scroll bar's width more, so a scrolling window does not have to
// scroll sideways as well.
void PlaceWindow(QWidget& window, const std::optional<QPoint>& stored);

}  // namespace skarnel
