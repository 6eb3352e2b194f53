#pragma once

#include <QFont>
#include <QObject>
#include <QPalette>

class QLabel;

namespace skarnel {

// Makes a label look like a link while the mouse is over it: the palette's
// link colour and underlined; when the mouse leaves, the label gets back the
// palette it had (an inherited one inherits again), so it reads in any theme.
// Emits clicked.
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
    bool highlighted_ = false;
    // The label's own palette and font while it is highlighted.
    QPalette normalPalette_;
    QFont normalFont_;
};

}  // namespace skarnel
