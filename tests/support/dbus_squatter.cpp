// dbus_squatter NAME...: owns the names on the session bus and never answers
// a call to them, as a hung or hostile peer would. Prints "ready" once it owns
// them all, then waits until it is killed.
#include <unistd.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (int i = 1; i < argc; ++i) {
        if (!bus.registerService(QString::fromLocal8Bit(argv[i]))) {
            std::fprintf(stderr, "dbus_squatter: cannot own %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    // No event loop: calls arrive and are never answered.
    for (;;) {
        ::pause();
    }
}
