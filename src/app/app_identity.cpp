#include "app/app_identity.h"

#include <QGuiApplication>

namespace skarnel {

void SetApplicationIdentity() {
    QGuiApplication::setApplicationName("Skarnel");
    QGuiApplication::setDesktopFileName("skarnel");
}

}  // namespace skarnel
