#include "app/start_splash.h"

#include <QBitmap>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QScreen>

#include "app/startup_pacer.h"
#include "base/product_info.h"

namespace skarnel {

namespace {

constexpr int kFadeSteps = 15;
constexpr int kOpacityStep = 16;
constexpr int kFadeWaitMs = 20;
constexpr int kHoldWaits = 7;
constexpr int kHoldWaitMs = 50;
constexpr int kIconSize = 32;

// Tahoma where it is installed, otherwise the closest sans face the system has.
QFont TitleFont() {
    QFont font(QFontDatabase::families().contains("Tahoma") ? "Tahoma" : "DejaVu Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(43);
    return font;
}

// Platforms that take a top-level window's opacity. The others (Wayland,
// offscreen, minimal, ...) print a warning on every attempt.
bool PlatformFadesWindows() {
    const QString platform = QGuiApplication::platformName();
    return platform == "xcb" || platform == "windows" || platform == "cocoa";
}

}  // namespace

StartSplash::StartSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("StartSplash");
    // A title of its own, so it is never taken for the generator window.
    setWindowTitle(QString(kProductTitle) + " V" + kProductVersion);
    setFixedSize(kWidth, kHeight);
    // The picture is drawn on white, and the white areas are cut out of the
    // window's shape, which works with and without a compositing desktop.
    picture_ = QImage(kWidth, kHeight, QImage::Format_RGB32);
    picture_.fill(Qt::white);
    PaintPicture(picture_);
    // In a bitmap the matching (white) pixels become colour 0, which a mask
    // leaves out.
    setMask(QBitmap::fromImage(picture_.createMaskFromColor(qRgb(255, 255, 255), Qt::MaskInColor)));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
    fades_ = PlatformFadesWindows();
    SetOpacityLevel(0);
}

void StartSplash::SetOpacityLevel(int level) {
    opacity_ = level;
    if (fades_) {
        setWindowOpacity(level / 255.0);
    }
}

void StartSplash::FadeIn(StartupPacer& pacer) {
    show();
    for (int i = 1; i <= kFadeSteps; ++i) {
        SetOpacityLevel(kOpacityStep * i);
        pacer.Sleep(kFadeWaitMs);
        pacer.HandleEvents();
    }
    repaint();
    for (int i = 0; i < kHoldWaits; ++i) {
        pacer.Sleep(kHoldWaitMs);
        pacer.HandleEvents();
    }
}

void StartSplash::FadeOut(StartupPacer& pacer) {
    for (int i = 1; i <= kFadeSteps; ++i) {
        SetOpacityLevel(256 - kOpacityStep * i);
        pacer.Sleep(kFadeWaitMs);
        pacer.HandleEvents();
    }
    hide();
}

void StartSplash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void StartSplash::PaintPicture(QImage& image) {
    QPainter painter(&image);
    // A rounded card: the white corners around it are cut out with the rest.
    painter.setPen(QPen(QColor(0x1f, 0x3a, 0x5f), 2));
    painter.setBrush(QColor(0xf2, 0xf5, 0xf9));
    painter.drawRoundedRect(image.rect().adjusted(1, 1, -2, -2), 18, 18);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect icon(24, (kHeight - kIconSize) / 2, kIconSize, kIconSize);
    painter.drawPixmap(icon, QIcon(":/app/skarnel-64.png").pixmap(kIconSize, kIconSize));
    painter.setFont(TitleFont());
    painter.setPen(QColor(0x1f, 0x3a, 0x5f));
    const QRect text = image.rect().adjusted(icon.right() + 16, 8, -16, -8);
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter | Qt::TextWordWrap,
                     QString(kProductTitle) + " V" + kProductVersion);
}

}  // namespace skarnel
