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

void RecorderWatch::Publish()
{
    if (m_board == nullptr)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    web::RecorderStatus status = m_recorder.Station().Status();
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
    // publications are spaced, well within a second of any reading.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_publishedMs >= PublishEveryMs || now < m_publishedMs)
        Publish();
    m_service.TickCompleted(StatusLine());
}

} // namespace meterrecord
