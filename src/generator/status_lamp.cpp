#include "generator/status_lamp.h"

#include <QPainter>

namespace skarnel {

StatusLamp::StatusLamp(QWidget* parent) : QWidget(parent) {
    setMinimumSize(16, 16);
}

void StatusLamp::SetColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void StatusLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int d = std::min(width(), height()) - 2;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    // The rim in the text colour stands out on light and dark windows; the
    // lamp's own colour says stopped or playing.
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(colour_);
    painter.drawEllipse(circle);
}

}  // namespace skarnel
