#include "platform/desktop_services.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>

namespace skarnel {

void QtDesktopServices::OpenUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

// Whether the desktop names an application for the file's type or one of
// the types it derives from, as xdg-open would look it up. When the look-up
// itself cannot run, the desktop is given the file to try.
bool DesktopHasApplicationFor(const QString& path) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QStringList types{type.name()};
    types << type.allAncestors();
    for (const QString& name : types) {
        QProcess query;
        query.start("xdg-mime", {"query", "default", name});
        if (!query.waitForStarted(3000)) {
            return true;
        }
        query.waitForFinished(3000);
        if (!query.readAllStandardOutput().trimmed().isEmpty()) {
            return true;
        }
    }
    return false;
}

bool QtDesktopServices::OpenFile(const QString& path) {
    if (!DesktopHasApplicationFor(path)) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtDesktopServices::StartProgram(const QString& path) {
    if (QFileInfo(path).isExecutable()) {
        QProcess::startDetached(path, {});
    }
}

}  // namespace skarnel
