#include "recorder_watch.h"

#include <QDateTime>

namespace meterrecord {

RecorderWatch::RecorderWatch(Recorder& recorder, web::StatusBoard* board) : m_recorder(recorder), m_board(board)
{
    QObject::connect(&recorder.Station(), &RecordingStation::TickDone, &recorder, [this] { TickDone(); });
}

QString RecorderWatch::StatusLine() const
{
    return web::StatusLine(m_recorder.Station().Status(false));
}

namespace {
// The link or a reading's currency changed: a page must hear of it within the tick.
bool CurrencyChanged(const web::RecorderStatus& now, const web::RecorderStatus& shown)
{
    if (now.linkUp != shown.linkUp || now.channels.size() != shown.channels.size())
        return true;
    for (qsizetype i = 0; i < now.channels.size(); ++i)
        if (now.channels[i].current != shown.channels[i].current)
            return true;
    return false;
}
} // namespace

void RecorderWatch::Publish()
{
    if (m_board == nullptr)
        return;
    Publish(m_recorder.Station().Status());
}

void RecorderWatch::Publish(web::RecorderStatus status)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QDateTime built = status.updated;
    status.updated = m_published.updated;
    if (status == m_published && now - m_heartbeatMs < HeartbeatMs && now >= m_heartbeatMs) {
        m_publishedMs = now;
        return;
    }
    status.updated = built;
    m_published = status;
    m_publishedMs = m_heartbeatMs = now;
    m_board->Publish(std::move(status));
}

void RecorderWatch::TickDone()
{
    // Readings change with every frame: each open page costs an event per publication, so
    // publications are spaced, well within a second of any reading; a change of the link or of a
    // reading's currency goes out at once.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_board == nullptr) {
    } else if (now - m_publishedMs >= PublishEveryMs || now < m_publishedMs) {
        Publish();
    } else if (web::RecorderStatus status = m_recorder.Station().Status(); CurrencyChanged(status, m_published)) {
        Publish(std::move(status));
    }
    m_service.TickCompleted(StatusLine());
}

} // namespace meterrecord
