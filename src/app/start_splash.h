#pragma once

#include <QImage>
#include <QWidget>

namespace skarnel {

class StartupPacer;

// The start splash: a borderless window centred on the screen whose white
// areas are transparent, showing the product name and version in large type
// and the program icon. It fades in and out in steps of 16 of 255 and never
// becomes fully opaque. Where the display cannot make a window translucent
// (Wayland, the offscreen and minimal platforms) the window shows fully
// instead, with the same steps and waits, so a start takes as long.
class StartSplash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 493;
    static constexpr int kHeight = 213;

    explicit StartSplash(QWidget* parent = nullptr);

    // Shows the window and raises its opacity 16, 32, .. 240, waiting 20 ms
    // and handling events after each step; then repaints and holds for 7 x 50
    // ms, handling events after each wait.
    void FadeIn(StartupPacer& pacer);
    // Lowers the opacity 240, 224, .. 16 with the same waits, then hides.
    void FadeOut(StartupPacer& pacer);

    // Opacity from 0 (invisible) to 255 (opaque); the window takes it where
    // the platform supports translucent windows.
    void SetOpacityLevel(int level);
    int opacityLevel() const noexcept { return opacity_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static void PaintPicture(QImage& image);

    QImage picture_;
    int opacity_ = 0;
    bool fades_ = false;
};

}  // namespace skarnel
