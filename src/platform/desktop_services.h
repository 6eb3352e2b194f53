#pragma once

#include <QString>
#include <QUrl>

namespace skarnel {

// Hands addresses and programs over to the desktop: the mail client, the web
// browser, another program. The results are not examined: when nothing is
// there to take them, nothing happens.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual void OpenUrl(const QUrl& url) = 0;
    // Starts the program at `path` on its own, if the file exists.
    virtual void StartProgram(const QString& path) = 0;
};

// The desktop's URL handling (xdg-open and friends) and a detached process.
class QtDesktopServices : public DesktopServices {
public:
    void OpenUrl(const QUrl& url) override;
    void StartProgram(const QString& path) override;
};

}  // namespace skarnel
