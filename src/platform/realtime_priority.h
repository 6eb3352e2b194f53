#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace skarnel {

// Asks RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus, as
// PulseAudio and PipeWire clients do) to schedule a thread in real time, so
// that a busy desktop cannot hold up the sound. Nothing waits for the answer;
// without the bus, the service or its consent the thread carries on at normal
// priority, and only the log (skarnel.audio) says why.
class RealtimePriority : public QObject {
    Q_OBJECT
public:
    // What PulseAudio asks for its clients: well below the sound server's own.
    static constexpr std::uint32_t kPriority = 5;
    // The most real-time CPU time a thread may take without blocking before
    // the kernel steps in (RealtimeKit insists on such a limit). A render
    // thread blocks every few milliseconds.
    static constexpr long kRealtimeLimitMicroseconds = 200000;

    // `sessionBusForTests`: talk to a RealtimeKit on the session bus instead.
    explicit RealtimePriority(bool sessionBusForTests = false, QObject* parent = nullptr);

    // Any thread, once for each thread that wants it: asks for the calling
    // thread. The call itself goes out from this object's thread.
    void RequestForCallingThread();

    int granted() const noexcept { return granted_; }
    int refused() const noexcept { return refused_; }

signals:
    // The answer for thread `threadId` (the kernel's id).
    void answered(qint64 threadId, bool granted, const QString& reason);

private:
    void Send(qint64 threadId);

    const bool sessionBus_;
    int granted_ = 0;
    int refused_ = 0;
};

}  // namespace skarnel
