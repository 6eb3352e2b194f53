#include "app/app_identity.h"

#include <QGuiApplication>

namespace skarnel {

void SetApplicationIdentity() {
    QGuiApplication::setApplicationName("Skarnel");
    // The menu entry's name, which Wayland compositors match to find its icon.
    QGuiApplication::setDesktopFileName("org.orvane.Skarnel");
}

}  // namespace skarnel
