#include "optional_service.h"

#include "recorder.h"

namespace meterrecord {

OptionalService::OptionalService(QString name, std::function<bool(QString*)> start, std::function<void()> started,
                                 int retryMs, QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_start(std::move(start)), m_started(std::move(started)),
      m_retryMs(retryMs)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &OptionalService::Try);
}

void OptionalService::Start()
{
    Try();
}

void OptionalService::Try()
{
    QString error;
    if (m_start(&error)) {
        m_running = true;
        if (m_started)
            m_started();
        return;
    }
    if (error != m_lastError)
        Say(QStringLiteral("%1 off: %2; recording goes on, trying again every %3 s")
                .arg(m_name, error)
                .arg(m_retryMs / 1000.0));
    m_lastError = error;
    m_retry.start(m_retryMs);
}

int OptionalServiceRetryMs(QString* error)
{
    const QByteArray text = qgetenv("VARNIK_RETRY_MS");
    if (text.isEmpty())
        return 30000;
    bool ok = false;
    const int ms = text.toInt(&ok);
    if (!ok || ms < 100 || ms > 600000) {
        *error = QStringLiteral("VARNIK_RETRY_MS wants milliseconds from 100 to 600000, not \"%1\"")
                     .arg(QString::fromLocal8Bit(text));
        return 0;
    }
    return ms;
}

} // namespace meterrecord
