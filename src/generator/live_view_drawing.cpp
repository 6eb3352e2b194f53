#include "generator/live_view_drawing.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <algorithm>
#include <array>
#include <cmath>

#include "analysis/spectrum_analyzer.h"

namespace skarnel {

namespace {

constexpr double kLowHz = 20.0;
constexpr double kHighHz = 20000.0;
// Band edges lie a sixth of an octave either side of the centre.
const double kHalfBand = std::pow(2.0, 1.0 / 6.0);

QColor WithAlpha(QColor colour, int alpha) {
    colour.setAlpha(alpha);
    return colour;
}

// A text colour faded towards the background, for grids and ticks.
QColor Faint(const QPalette& palette, int alpha) {
    return WithAlpha(palette.color(QPalette::Text), alpha);
}

// `colour` moved a share of the way to the text colour: a curve over bars of
// `colour` that reads on light themes (darker) and dark ones (lighter).
QColor TowardsText(const QColor& colour, const QPalette& palette, double share) {
    const QColor text = palette.color(QPalette::Text);
    const auto mix = [share](int a, int b) { return static_cast<int>(a + (b - a) * share); };
    return QColor(mix(colour.red(), text.red()), mix(colour.green(), text.green()),
                  mix(colour.blue(), text.blue()));
}

// Positions in the plot: frequency on a log axis, level linear in dB.
struct PlotScale {
    QRectF plot;
    double floorDb;

    double X(double hz) const {
        return plot.left() + plot.width() * std::log(hz / kLowHz) / std::log(kHighHz / kLowHz);
    }
    double Y(double db) const {
        return plot.top() + plot.height() * (std::clamp(db, floorDb, 0.0) / floorDb);
    }
};

void DrawGrid(QPainter& painter, const PlotScale& scale, const QPalette& palette) {
    const QRectF& plot = scale.plot;
    const QFontMetrics metrics = painter.fontMetrics();
    painter.setPen(QPen(Faint(palette, 45), 0));
    for (double db = 0.0; db >= scale.floorDb; db -= 10.0) {
        painter.drawLine(QPointF(plot.left(), scale.Y(db)), QPointF(plot.right(), scale.Y(db)));
    }
    static constexpr std::array<std::pair<double, const char*>, 10> kFrequencyLabels{
        {{20, "20"},
         {50, "50"},
         {100, "100"},
         {200, "200"},
         {500, "500"},
         {1000, "1k"},
         {2000, "2k"},
         {5000, "5k"},
         {10000, "10k"},
         {20000, "20k"}}};
    for (const auto& [hz, label] : kFrequencyLabels) {
        const double x = scale.X(hz);
        painter.setPen(QPen(Faint(palette, 45), 0));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(palette.color(QPalette::WindowText));
        const QString text = QString::fromLatin1(label);
        const double width = metrics.horizontalAdvance(text);
        // The end labels stay inside the plot's span.
        const double left = std::clamp(x - width / 2, plot.left(), plot.right() - width);
        painter.drawText(QPointF(left, plot.bottom() + 2 + metrics.ascent()), text);
    }
    // Every 20 dB labelled at the left.
    painter.setPen(palette.color(QPalette::WindowText));
    for (double db = 0.0; db >= scale.floorDb; db -= 20.0) {
        const QString text = QString::number(static_cast<int>(db));
        const double width = metrics.horizontalAdvance(text);
        const double baseline = std::clamp(scale.Y(db) + metrics.ascent() / 2.0 - 1,
                                           plot.top() + metrics.ascent() - 2, plot.bottom());
        painter.drawText(QPointF(plot.left() - 4 - width, baseline), text);
    }
}

// A channel's bars as whole-pixel rectangles filled without antialiasing in
// a solid colour (the channel's colour blended over the plot's base as a
// 60 % overlay would show it): drawn a dozen times a second, antialiased
// blending or a path through the rasterizer cost a good part of a core.
void DrawBars(QPainter& painter, const PlotScale& scale, const std::vector<double>& centres,
              const std::vector<double>& levels, int sampleRate, int slot, int columns,
              const QColor& colour, const QColor& base) {
    constexpr double kShare = 150.0 / 255.0;
    const QColor solid = QColor::fromRgbF(
        static_cast<float>(colour.redF() * kShare + base.redF() * (1 - kShare)),
        static_cast<float>(colour.greenF() * kShare + base.greenF() * (1 - kShare)),
        static_cast<float>(colour.blueF() * kShare + base.blueF() * (1 - kShare)));
    const int bottom = static_cast<int>(std::lround(scale.plot.bottom()));
    const std::size_t count = std::min(centres.size(), levels.size());
    for (std::size_t b = 0; b < count; ++b) {
        if (levels[b] <= scale.floorDb || centres[b] > kHighHz * kHalfBand) {
            continue;
        }
        const double low = scale.X(std::max(centres[b] / kHalfBand, kLowHz));
        const double high = scale.X(std::min(centres[b] * kHalfBand, kHighHz));
        const double gap = std::min(1.0, (high - low) / 4);
        const double width = (high - low - 2 * gap) / columns;
        const int left = static_cast<int>(std::lround(low + gap + slot * width));
        const int right = static_cast<int>(std::lround(low + gap + (slot + 1) * width));
        const int top = static_cast<int>(std::lround(scale.Y(levels[b])));
        const QRect bar(left, top, std::max(1, right - left), bottom - top);
        if (ThirdOctaveBandIsPartial(centres[b], sampleRate)) {
            // Partly above the Nyquist frequency, so it reads low: hatched.
            painter.fillRect(bar, QBrush(solid, Qt::BDiagPattern));
        } else {
            painter.fillRect(bar, solid);
        }
    }
}

void DrawCurve(QPainter& painter, const PlotScale& scale, const std::vector<double>& frequencies,
               const std::vector<double>& levels, const QColor& colour) {
    QPainterPath path;
    bool drawing = false;
    const std::size_t count = std::min(frequencies.size(), levels.size());
    for (std::size_t i = 0; i < count; ++i) {
        const double hz = frequencies[i];
        if (hz < kLowHz || hz > kHighHz) {
            continue;
        }
        const QPointF point(scale.X(hz), scale.Y(levels[i]));
        if (drawing) {
            path.lineTo(point);
        } else {
            path.moveTo(point);
            drawing = true;
        }
    }
    // A cosmetic pen of one device pixel takes the painter's fast line
    // drawing; a wider pen goes through the general stroker, several times
    // dearer. On a high-density screen the line keeps its logical width.
    QPen pen(colour, std::max(1.0, painter.device()->devicePixelRatioF()));
    pen.setCosmetic(true);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(pen);
    painter.drawPath(path);
}

}  // namespace

double MeterX(const QRect& bar, double db, double floorDb) {
    const double share = (std::clamp(db, floorDb, 0.0) - floorDb) / -floorDb;
    return bar.left() + share * bar.width();
}

QColor ChannelColour(const QPalette& palette, int channel) {
    const QColor highlight = palette.color(QPalette::Highlight);
    if (channel == 0) {
        return highlight;
    }
    // A grey highlight has no hue to turn: orange then.
    const int hue = highlight.hsvHue() < 0 ? 30 : (highlight.hsvHue() + 180) % 360;
    return QColor::fromHsv(hue, std::max(highlight.hsvSaturation(), 160),
                           std::max(highlight.value(), 170));
}

void DrawMeter(QPainter& painter, const QRect& bar, const LevelFigures& figures, double floorDb,
               const QColor& colour, const QPalette& palette) {
    // The frame and the trough as two fills: a rectangle with a pen goes
    // through the stroker, and the meters are drawn ten times a second.
    painter.fillRect(bar, palette.color(QPalette::Mid));
    painter.fillRect(bar.adjusted(1, 1, -1, -1), palette.color(QPalette::Base));
    const QRectF inside = QRectF(bar).adjusted(1, 1, -1, -1);
    if (!figures.silent) {
        const double rms = MeterX(bar, figures.rmsDbfs, floorDb);
        painter.fillRect(QRectF(inside.left(), inside.top(), rms - inside.left(), inside.height()),
                         colour);
        const double peak = std::min(MeterX(bar, figures.peakDbfs, floorDb), inside.right() - 2);
        painter.fillRect(QRectF(peak, inside.top(), 2, inside.height()),
                         palette.color(QPalette::Text));
    }
    painter.setPen(QPen(Faint(palette, 110), 0));
    std::array<QLineF, 16> ticks;
    std::size_t count = 0;
    for (double db = floorDb + 10.0; db < 0.0 && count < ticks.size(); db += 10.0) {
        const double x = MeterX(bar, db, floorDb);
        ticks[count++] = QLineF(x, inside.bottom() - inside.height() / 3, x, inside.bottom());
    }
    painter.drawLines(ticks.data(), static_cast<int>(count));
}

void DrawMeterScale(QPainter& painter, const QRect& bar, const QRect& row, double floorDb,
                    const QPalette& palette) {
    const QFontMetrics metrics = painter.fontMetrics();
    painter.setPen(palette.color(QPalette::WindowText));
    for (double db = floorDb; db <= 0.0; db += 10.0) {
        const QString text = QString::number(static_cast<int>(db));
        const double width = metrics.horizontalAdvance(text);
        const double x = std::clamp(MeterX(bar, db, floorDb) - width / 2, double(row.left()),
                                    row.right() - width);
        painter.drawText(QPointF(x, row.top() + metrics.ascent()), text);
    }
}

QRect SpectrumPlotRect(const QFontMetrics& metrics, const QRect& area) {
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("-100")) + 6;
    return area.adjusted(labelWidth, metrics.height() / 2, -metrics.height() / 2,
                         -(metrics.height() + 2));
}

void DrawSpectrumBackground(QPainter& painter, const QRect& area, double floorDb,
                            const QPalette& palette) {
    const QRect plot = SpectrumPlotRect(painter.fontMetrics(), area);
    painter.setPen(QPen(palette.color(QPalette::Mid), 0));
    painter.setBrush(palette.color(QPalette::Base));
    painter.drawRect(QRectF(plot).adjusted(0.5, 0.5, -0.5, -0.5));
    DrawGrid(painter, PlotScale{QRectF(plot).adjusted(1, 1, -1, -1), floorDb}, palette);
}

void DrawSpectrumTraces(QPainter& painter, const QRect& plot, double floorDb,
                        const std::vector<double>& bandCentres,
                        const std::vector<double>& fineFrequencies, int sampleRate,
                        std::span<const SpectrumTrace> traces, const QPalette& palette) {
    const PlotScale scale{QRectF(plot).adjusted(1, 1, -1, -1), floorDb};
    painter.save();
    painter.setClipRect(scale.plot);
    const int columns = static_cast<int>(traces.size());
    for (int t = 0; t < columns; ++t) {
        if (traces[t].bands != nullptr) {
            DrawBars(painter, scale, bandCentres, *traces[t].bands, sampleRate, t, columns,
                     traces[t].colour, palette.color(QPalette::Base));
        }
    }
    painter.setRenderHint(QPainter::Antialiasing);
    for (const SpectrumTrace& trace : traces) {
        if (trace.fine != nullptr) {
            DrawCurve(painter, scale, fineFrequencies, *trace.fine,
                      TowardsText(trace.colour, palette, 0.35));
        }
    }
    painter.restore();
}

}  // namespace skarnel
