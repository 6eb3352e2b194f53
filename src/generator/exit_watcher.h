#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace skarnel {

// Runs a handler when the user finishes an entry: presses Enter in it, or
// leaves it (the keyboard focus moves to another control of the window). Focus that only leaves
// with the whole window (another window activated, a popup) is not leaving the entry.
class ExitWatcher : public QObject {
public:
    ExitWatcher(QWidget* entry, std::function<void()> onExit);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> onExit_;
};

}  // namespace skarnel
