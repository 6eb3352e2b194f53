#pragma once

#include <QColor>
#include <QWidget>

namespace skarnel {

// The round status lamp: maroon while stopped, green while playing.
class StatusLamp : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kStopped{128, 0, 0};
    static inline const QColor kPlaying{0, 128, 0};

    explicit StatusLamp(QWidget* parent = nullptr);

    void SetColour(const QColor& colour);
    QColor colour() const { return colour_; }
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_ = kStopped;
};

}  // namespace skarnel
