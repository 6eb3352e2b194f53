#include "generator/exit_watcher.h"

#include <QFocusEvent>
#include <QWidget>

namespace skarnel {

ExitWatcher::ExitWatcher(QWidget* entry, std::function<void()> onExit)
    : QObject(entry), onExit_(std::move(onExit)) {
    entry->installEventFilter(this);
}

bool ExitWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            onExit_();
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace skarnel
