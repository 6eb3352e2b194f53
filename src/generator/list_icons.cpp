#include "generator/list_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <cmath>
#include <functional>

namespace skarnel {

namespace {

constexpr int kSize = 16;
// The pixel densities each icon is drawn for; others are scaled from the
// nearest of these.
constexpr qreal kPixelRatios[] = {1.0, 2.0, 3.0};

using Drawing = std::function<void(QPainter&)>;

// One icon, drawn once per pixel density in the 16 x 16 logical square.
QIcon DrawnIcon(const Drawing& draw) {
    QIcon icon;
    for (const qreal ratio : kPixelRatios) {
        const int pixels = static_cast<int>(std::lround(kSize * ratio));
        QPixmap pixmap(pixels, pixels);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

bool DarkBase(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

// `amount` of the way from `from` to `to`.
QColor Mix(const QColor& from, const QColor& to, double amount) {
    const auto channel = [amount](int a, int b) {
        return static_cast<int>(std::lround(a + (b - a) * amount));
    };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()));
}

// A jagged noise trace; pink noise drifts slowly, white jumps at every step.
QIcon NoiseTrace(const QColor& colour, bool smooth) {
    static constexpr int kWhite[] = {8, 3, 12, 6, 14, 2, 9, 13, 4, 11, 7, 1, 10, 5, 12, 8};
    static constexpr int kPink[] = {8, 6, 7, 4, 5, 3, 6, 8, 9, 11, 10, 12, 11, 9, 10, 8};
    const int* y = smooth ? kPink : kWhite;
    return DrawnIcon([colour, y](QPainter& painter) {
        painter.setPen(QPen(colour, 1.4));
        QPainterPath path(QPointF(0.5, y[0]));
        for (int x = 1; x < kSize; ++x) {
            path.lineTo(x + 0.5, y[x]);
        }
        painter.drawPath(path);
    });
}

QIcon Curve(double (*f)(double), const QColor& colour) {
    return DrawnIcon([f, colour](QPainter& painter) {
        painter.setPen(QPen(colour, 1.4));
        QPainterPath path;
        for (int i = 0; i <= 60; ++i) {
            const double t = i / 60.0;
            const QPointF p(1 + t * 14, 8 - 6 * f(t * 2 * M_PI));
            i == 0 ? path.moveTo(p) : path.lineTo(p);
        }
        painter.drawPath(path);
    });
}

// Loudspeaker boxes: outlined in the text colour, the cones in the base
// colour, the box a shade between the two.
QIcon Speakers(int count, const QPalette& palette) {
    const QColor outline = palette.color(QPalette::Text);
    const QColor cone = palette.color(QPalette::Base);
    const QColor box = Mix(outline, cone, 0.35);
    return DrawnIcon([=](QPainter& painter) {
        painter.setPen(QPen(outline, 1));
        const int width = count == 1 ? 8 : 6;
        for (int i = 0; i < count; ++i) {
            const int left = count == 1 ? 4 : 1 + i * 8;
            painter.setBrush(box);
            painter.drawRoundedRect(QRectF(left, 2, width, 12), 1.5, 1.5);
            painter.setBrush(cone);
            painter.drawEllipse(QPointF(left + width / 2.0, 10), 2, 2);
        }
    });
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

QIcon NoiseFunctionIcon(int index, const QPalette& palette) {
    if (index == 0) {
        return NoiseTrace(palette.color(QPalette::Text), false);
    }
    // Pink, light on a dark base and deep on a light one.
    return NoiseTrace(DarkBase(palette) ? QColor(255, 120, 190) : QColor(200, 30, 120), true);
}

QIcon ModFunctionIcon(int index, const QPalette& palette) {
    double (*const functions[])(double) = {Sine, Cosine, Square, Triangle};
    return Curve(functions[index >= 0 && index < 4 ? index : 3], palette.color(QPalette::Text));
}

QIcon ChannelModeIcon(int index, const QPalette& palette) {
    return Speakers(index == 0 ? 1 : 2, palette);
}

}  // namespace skarnel
