#include "web/recorder_status.h"

#include <QLocale>

namespace web {

QString StatusLine(const RecorderStatus& status)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QString line = QStringLiteral("recording %1, %2 rows, link %3")
                       .arg(status.dataFile, english.toString(status.rows),
                            status.linkUp ? QStringLiteral("up") : QStringLiteral("down"));
    if (status.rowsFailing > 0)
        line.replace(QStringLiteral(" rows, link"),
                     QStringLiteral(" rows, rows failing (%1 not recorded), link")
                         .arg(english.toString(qulonglong(status.rowsFailing))));
    if (status.forward)
        line += QStringLiteral(", forwarding %1").arg(status.forward->state);
    if (status.mqtt)
        line += status.mqtt->connected ? QStringLiteral(", MQTT connected") : QStringLiteral(", MQTT down");
    return line;
}

StatusBoard::StatusBoard()
{
    m_latest.status = std::make_shared<const RecorderStatus>();
}

void StatusBoard::Publish(RecorderStatus status)
{
    // Built before the lock, released after it: the lock covers a pointer swap only.
    auto next = std::make_shared<const RecorderStatus>(std::move(status));
    {
        std::lock_guard lock(m_mutex);
        m_latest.status.swap(next);
        ++m_latest.generation;
    }
    m_changed.notify_all();
}

StatusBoard::Snapshot StatusBoard::Latest() const
{
    std::lock_guard lock(m_mutex);
    return m_latest;
}

quint64 StatusBoard::Generation() const
{
    std::lock_guard lock(m_mutex);
    return m_latest.generation;
}

quint64 StatusBoard::WaitForChange(quint64 seen, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return m_latest.generation != seen || m_woken; });
    m_woken = false;
    return m_latest.generation;
}

void StatusBoard::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_all();
}

} // namespace web
