#include "generator/fitting_scroll_area.h"

#include <QEvent>

namespace skarnel {

FittingScrollArea::FittingScrollArea(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    // Without a frame the window looks as it does without the scroll area.
    setFrameShape(QFrame::NoFrame);
}

QSize FittingScrollArea::sizeHint() const {
    // QScrollArea caps its hint at a few dozen lines of text, far below a
    // window's worth of controls.
    if (widget() == nullptr) {
        return QScrollArea::sizeHint();
    }
    const int frame = 2 * frameWidth();
    return widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) + QSize(frame, frame);
}

bool FittingScrollArea::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
    }
    return QScrollArea::viewportEvent(event);
}

}  // namespace skarnel
