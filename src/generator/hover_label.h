#pragma once

#include <QObject>

class QLabel;

namespace skarnel {

// Makes a label look like a link while the mouse is over it: blue and
// underlined, back to black and plain when the mouse leaves. Emits clicked.
class HoverLink : public QObject {
    Q_OBJECT
public:
    static HoverLink* Attach(QLabel* label);

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit HoverLink(QLabel* label);
    void SetHighlighted(bool on);

    QLabel* label_;
};

}  // namespace skarnel
