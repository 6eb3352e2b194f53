#include "platform/desktop_services.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>

namespace skarnel {

void QtDesktopServices::OpenUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

void QtDesktopServices::StartProgram(const QString& path) {
    if (QFileInfo(path).isExecutable()) {
        QProcess::startDetached(path, {});
    }
}

}  // namespace skarnel
