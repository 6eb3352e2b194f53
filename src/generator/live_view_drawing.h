#pragma once

#include <QColor>
#include <QRect>
#include <span>
#include <vector>

#include "analysis/level_meter.h"

class QFontMetrics;
class QPainter;
class QPalette;

namespace skarnel {

// The live view's pictures, drawn into rectangles in logical pixels. Colours
// come from the palette, so light and dark themes both read.

// A channel's colour: the highlight for the left (or only) channel, its
// opposite hue for the right one, so the two tell apart on any theme.
QColor ChannelColour(const QPalette& palette, int channel);

// A horizontal meter from `floorDb` to 0 dBFS: the RMS of `figures` as a bar,
// its peak as a mark, ticks every 10 dB. A silent channel shows an empty meter.
// Where a level lies on a meter bar, in the bar's coordinates.
double MeterX(const QRect& bar, double db, double floorDb);
void DrawMeter(QPainter& painter, const QRect& bar, const LevelFigures& figures, double floorDb,
               const QColor& colour, const QPalette& palette);
// The meters' dB labels under `bar`'s span, in `row`.
void DrawMeterScale(QPainter& painter, const QRect& bar, const QRect& row, double floorDb,
                    const QPalette& palette);

// One channel's spectrum: third-octave bars (side by side with the other
// channel's within each band; a band that reaches past the Nyquist frequency
// of `sampleRate` hatched, since it reads low) and the fine curve over them.
struct SpectrumTrace {
    const std::vector<double>* bands = nullptr;
    const std::vector<double>* fine = nullptr;
    QColor colour;
};

// The spectrum plot: a log frequency axis from 20 Hz to 20 kHz, levels from
// `floorDb` to 0 dBFS. `area` holds the axes' labels too; the plot itself is
// SpectrumPlotRect. The background (frame, grid, labels) changes only with
// the size, palette or font, so the view keeps it as a picture and draws
// only the traces (none: an empty plot) over it at each refresh.
QRect SpectrumPlotRect(const QFontMetrics& metrics, const QRect& area);
void DrawSpectrumBackground(QPainter& painter, const QRect& area, double floorDb,
                            const QPalette& palette);
// `plot` is SpectrumPlotRect of the area the background was drawn for.
void DrawSpectrumTraces(QPainter& painter, const QRect& plot, double floorDb,
                        const std::vector<double>& bandCentres,
                        const std::vector<double>& fineFrequencies, int sampleRate,
                        std::span<const SpectrumTrace> traces, const QPalette& palette);

}  // namespace skarnel
