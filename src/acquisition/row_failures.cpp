#include "acquisition/row_failures.h"

void RowFailures::Tick(ScanCycle::Tick tick, int missed, const QString& reason, const QDateTime& now)
{
    if (tick == ScanCycle::Tick::Recorded) {
        Clear();
        return;
    }
    if (tick != ScanCycle::Tick::Failed)
        return;
    if (!m_since.isValid())
        m_since = now;
    m_missed += qMax(missed, 1);
    m_reason = reason;
}

QString RowFailures::Text() const
{
    if (!Failing())
        return QString();
    return QStringLiteral("Rows not recorded since %1 (%2 due): %3. Recording goes on as soon as a row can be "
                          "written again.")
        .arg(m_since.toString(QStringLiteral("HH:mm:ss")))
        .arg(m_missed)
        .arg(m_reason.isEmpty() ? QStringLiteral("the data file cannot be written") : m_reason);
}
