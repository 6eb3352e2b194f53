#pragma once

#include <QString>
#include <QUrl>

namespace skarnel {

// Hands addresses and programs over to the desktop: the mail client, the web
// browser, another program. Only OpenFile tells whether something took the
// file; for the others, when nothing is there to take them, nothing happens.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual void OpenUrl(const QUrl& url) = 0;
    // Opens a local file in the application the desktop has registered for
    // its type (or a type it is a kind of, as a script is plain text). False,
    // with nothing opened, when no application is registered.
    virtual bool OpenFile(const QString& path) = 0;
    // Starts the program at `path` on its own, if the file exists.
    virtual void StartProgram(const QString& path) = 0;
};

// Whether the desktop names an application for the file's type or a type it
// derives from (as xdg-open looks it up, through xdg-mime); true when that
// cannot be asked.
bool DesktopHasApplicationFor(const QString& path);

// The desktop's URL handling (xdg-open and friends) and a detached process.
class QtDesktopServices : public DesktopServices {
public:
    void OpenUrl(const QUrl& url) override;
    bool OpenFile(const QString& path) override;
    void StartProgram(const QString& path) override;
};

}  // namespace skarnel
