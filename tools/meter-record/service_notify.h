#pragma once
// What meter-record tells the service manager (systemd's sd_notify): READY=1 once recording has
// started, WATCHDOG=1 while scan ticks complete, STATUS= its one-line state, STOPPING=1 on a stop.
// Without a service manager (no NOTIFY_SOCKET) every call does nothing.
#include <QString>

namespace meterrecord {

class ServiceNotifier {
  public:
    void Ready(const QString& status);
    // From the recording thread after each completed tick: pings the watchdog at most once a
    // second and sends the status line when it has changed.
    void TickCompleted(const QString& status);
    void Stopping(const QString& status);

  private:
    void Send(const QString& message);

    QString m_status;
    qint64 m_lastPingMs = -1;
};

} // namespace meterrecord
