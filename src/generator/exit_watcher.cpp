#include "generator/exit_watcher.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QWidget>

namespace skarnel {

ExitWatcher::ExitWatcher(QWidget* entry, std::function<void()> onExit)
    : QObject(entry), onExit_(std::move(onExit)) {
    entry->installEventFilter(this);
}

bool ExitWatcher::eventFilter(QObject* watched, QEvent* event) {
    // Enter finishes the entry before the key goes on to the window, which
    // presses its default button: ON then plays the value the entry shows.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            onExit_();
        }
    }
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            onExit_();
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace skarnel
