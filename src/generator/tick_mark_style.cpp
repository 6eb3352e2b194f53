#include "generator/tick_mark_style.h"

#include <QPainter>
#include <QSlider>
#include <QStyleOptionSlider>

namespace skarnel {

namespace {

constexpr int kTickLength = 4;
constexpr int kTickGap = 2;  // between the handle's reach and a tick

QColor Mix(const QColor& a, const QColor& b) {
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

}  // namespace

void TickMarkStyle::Apply(QSlider* slider) {
    auto* style = new TickMarkStyle;
    style->setParent(slider);
    slider->setStyle(style);
}

void TickMarkStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                       QPainter* painter, const QWidget* widget) const {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || slider == nullptr ||
        (slider->subControls & SC_SliderTickmarks) == 0 ||
        slider->tickPosition == QSlider::NoTicks) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    QStyleOptionSlider withoutTicks(*slider);
    withoutTicks.subControls &= ~SC_SliderTickmarks;
    QProxyStyle::drawComplexControl(control, &withoutTicks, painter, widget);
    DrawTicks(*slider, painter, widget);
}

void TickMarkStyle::DrawTicks(const QStyleOptionSlider& slider, QPainter* painter,
                              const QWidget* widget) const {
    const int interval = slider.tickInterval > 0 ? slider.tickInterval : slider.pageStep;
    if (interval <= 0 || slider.maximum <= slider.minimum) {
        return;
    }
    const QRect groove = subControlRect(CC_Slider, &slider, SC_SliderGroove, widget);
    const QRect handle = subControlRect(CC_Slider, &slider, SC_SliderHandle, widget);
    const bool vertical = slider.orientation == Qt::Vertical;
    const QPalette::ColorGroup group =
        (slider.state & State_Enabled) != 0 ? QPalette::Active : QPalette::Disabled;
    painter->save();
    painter->setPen(Mix(slider.palette.color(group, QPalette::WindowText),
                        slider.palette.color(group, QPalette::Window)));
    // The handle's centre runs over the groove less the handle's own length.
    const int span = vertical ? groove.height() - handle.height() : groove.width() - handle.width();
    const int start =
        vertical ? groove.top() + handle.height() / 2 : groove.left() + handle.width() / 2;
    const bool after = slider.tickPosition == QSlider::TicksBelow ||  // also TicksRight
                       slider.tickPosition == QSlider::TicksBothSides;
    const bool before = slider.tickPosition == QSlider::TicksAbove ||  // also TicksLeft
                        slider.tickPosition == QSlider::TicksBothSides;
    for (int value = slider.minimum; value <= slider.maximum; value += interval) {
        const int at = start + sliderPositionFromValue(slider.minimum, slider.maximum, value, span,
                                                       slider.upsideDown);
        if (vertical) {
            if (after) {
                const int x = handle.right() + kTickGap;
                painter->drawLine(x, at, x + kTickLength - 1, at);
            }
            if (before) {
                const int x = handle.left() - kTickGap;
                painter->drawLine(x - kTickLength + 1, at, x, at);
            }
        } else {
            if (after) {
                const int y = handle.bottom() + kTickGap;
                painter->drawLine(at, y, at, y + kTickLength - 1);
            }
            if (before) {
                const int y = handle.top() - kTickGap;
                painter->drawLine(at, y - kTickLength + 1, at, y);
            }
        }
        if (value > slider.maximum - interval) {
            break;  // the next step would pass the end (and may overflow)
        }
    }
    painter->restore();
}

}  // namespace skarnel
