#include "generator/list_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace skarnel {

namespace {

constexpr int kSize = 16;

QPixmap Blank() {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A jagged noise trace; pink noise drifts slowly, white jumps at every step.
QIcon NoiseTrace(const QColor& colour, bool smooth) {
    static constexpr int kWhite[] = {8, 3, 12, 6, 14, 2, 9, 13, 4, 11, 7, 1, 10, 5, 12, 8};
    static constexpr int kPink[] = {8, 6, 7, 4, 5, 3, 6, 8, 9, 11, 10, 12, 11, 9, 10, 8};
    const int* y = smooth ? kPink : kWhite;
    QPixmap pixmap = Blank();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.4));
    QPainterPath path(QPointF(0.5, y[0]));
    for (int x = 1; x < kSize; ++x) {
        path.lineTo(x + 0.5, y[x]);
    }
    painter.drawPath(path);
    return QIcon(pixmap);
}

QIcon Curve(double (*f)(double)) {
    QPixmap pixmap = Blank();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 160), 1.4));
    QPainterPath path;
    for (int i = 0; i <= 60; ++i) {
        const double t = i / 60.0;
        const QPointF p(1 + t * 14, 8 - 6 * f(t * 2 * M_PI));
        i == 0 ? path.moveTo(p) : path.lineTo(p);
    }
    painter.drawPath(path);
    return QIcon(pixmap);
}

QIcon Speakers(int count) {
    QPixmap pixmap = Blank();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(90, 90, 90));
    const int width = count == 1 ? 8 : 6;
    for (int i = 0; i < count; ++i) {
        const int left = count == 1 ? 4 : 1 + i * 8;
        painter.drawRoundedRect(QRectF(left, 2, width, 12), 1.5, 1.5);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(left + width / 2.0, 10), 2, 2);
        painter.setBrush(QColor(90, 90, 90));
    }
    return QIcon(pixmap);
}

double Square(double x) {
    return std::sin(x) >= 0 ? 1.0 : -1.0;
}
double Triangle(double x) {
    return std::asin(std::sin(x)) * 2 / M_PI;
}
double Sine(double x) {
    return std::sin(x);
}
double Cosine(double x) {
    return std::cos(x);
}

}  // namespace

QIcon NoiseFunctionIcon(int index) {
    return index == 0 ? NoiseTrace(QColor(70, 70, 70), false)
                      : NoiseTrace(QColor(220, 60, 140), true);
}

QIcon ModFunctionIcon(int index) {
    switch (index) {
        case 0:
            return Curve(Sine);
        case 1:
            return Curve(Cosine);
        case 2:
            return Curve(Square);
        default:
            return Curve(Triangle);
    }
}

QIcon ChannelModeIcon(int index) {
    return Speakers(index == 0 ? 1 : 2);
}

}  // namespace skarnel
