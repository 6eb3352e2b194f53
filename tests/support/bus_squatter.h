#pragma once

#include <QProcess>
#include <QStringList>

namespace skarnel::testing {

// Owns names on the bus and never answers (a separate process, so that
// nothing in the test's own process can answer for it).
class BusSquatter {
public:
    explicit BusSquatter(const QStringList& names) {
        process_.start(SKARNEL_DBUS_SQUATTER, names);
        ready_ = process_.waitForReadyRead(10000) && process_.readLine().trimmed() == "ready";
    }
    ~BusSquatter() {
        process_.kill();
        process_.waitForFinished();
    }
    bool ready() const { return ready_; }

private:
    QProcess process_;
    bool ready_ = false;
};

}  // namespace skarnel::testing
