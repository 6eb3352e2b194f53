#pragma once

#include <QObject>

class QWidget;

namespace skarnel {

// A slider or list under the mouse changes with the wheel only while it has
// the keyboard focus: otherwise the wheel scrolls whatever holds it (the
// window's scroll area), so scrolling over a level never changes the level.
// Clicking or tabbing into a control gives it the focus; the wheel never does.
class WheelNeedsFocus : public QObject {
    Q_OBJECT
public:
    // Applies to every slider, list and spin box within `root`.
    static void InstallWithin(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WheelNeedsFocus(QObject* parent) : QObject(parent) {}
};

}  // namespace skarnel
