#include "service_notify.h"

#include <QDateTime>
#include <systemd/sd-daemon.h>

namespace meterrecord {

namespace {

constexpr qint64 PingEveryMs = 1000;

} // namespace

void ServiceNotifier::Send(const QString& message)
{
    sd_notify(0, message.toUtf8().constData());
}

void ServiceNotifier::Ready(const QString& status)
{
    m_status = status;
    Send(QStringLiteral("READY=1\nSTATUS=") + status);
}

void ServiceNotifier::TickCompleted(const QString& status)
{
    QString message;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_lastPingMs < 0 || now - m_lastPingMs >= PingEveryMs || now < m_lastPingMs) {
        m_lastPingMs = now;
        message = QStringLiteral("WATCHDOG=1");
    }
    if (status != m_status) {
        m_status = status;
        message +=
            (message.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("STATUS=") + status;
    }
    if (!message.isEmpty())
        Send(message);
}

void ServiceNotifier::Stopping(const QString& status)
{
    Send(QStringLiteral("STOPPING=1\nSTATUS=") + status);
}

} // namespace meterrecord
