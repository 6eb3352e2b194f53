#pragma once

#include <QProxyStyle>

class QSlider;
class QStyleOptionSlider;

namespace skarnel {

// Draws a slider's tick marks in a mix of the palette's text and window
// colours, so they stand out on light and dark themes alike (some styles
// draw them a shade darker than the window, which a dark window swallows).
// Everything else is the application's style.
class TickMarkStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Gives `slider` a style of this kind, owned by the slider.
    static void Apply(QSlider* slider);

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;

private:
    TickMarkStyle() = default;
    void DrawTicks(const QStyleOptionSlider& slider, QPainter* painter,
                   const QWidget* widget) const;
};

}  // namespace skarnel
