#include "app/startup_pacer.h"

#include <QCoreApplication>
#include <QThread>

namespace skarnel {

void RealStartupPacer::Sleep(int milliseconds) {
    QThread::msleep(milliseconds);
}

void RealStartupPacer::HandleEvents() {
    QCoreApplication::processEvents();
}

}  // namespace skarnel
