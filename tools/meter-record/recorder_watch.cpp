#include "recorder_watch.h"

#include "core/shared_state.h"
#include "forward/forwarder.h"

#include <QFileInfo>
#include <cmath>

namespace meterrecord {

namespace {

QString ForwardStateName(ForwardStatus::State state)
{
    switch (state) {
    case ForwardStatus::State::Connecting:
        return QStringLiteral("connecting");
    case ForwardStatus::State::Sending:
        return QStringLiteral("sending");
    case ForwardStatus::State::UpToDate:
        return QStringLiteral("up to date");
    case ForwardStatus::State::Unreachable:
        return QStringLiteral("unreachable");
    case ForwardStatus::State::DataFileError:
        return QStringLiteral("data file error");
    case ForwardStatus::State::Stopped:
        break;
    }
    return QStringLiteral("stopped");
}

// The reading as the data file holds it: rounded to the decimals it is shown with.
double Rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, std::clamp(decimals, 0, 15));
    const double rounded = std::round(value * scale) / scale;
    return std::isfinite(rounded) ? rounded : value;
}

} // namespace

RecorderWatch::RecorderWatch(Recorder& recorder, const RecordOptions& options, web::StatusBoard* board)
    : m_recorder(recorder), m_board(board),
      m_station(options.station.isEmpty() ? DefaultStation() : options.station),
      m_linkSince(QDateTime::currentDateTimeUtc())
{
    // The recorder's own handler (decoding, live publishing) still sees every frame.
    recorder.Receiver().OnFrame = [this, decode = recorder.Receiver().OnFrame](FrameBufferArray& frame) {
        return FrameArrived(frame, decode);
    };
    auto reported = recorder.Link().OnEvent;
    recorder.Link().OnEvent = [this, reported](SerialLink::Event event, const QString& detail) {
        if (reported)
            reported(event, detail);
        LinkChanged(event);
    };
    recorder.TickDone = [this](ScanCycle::Tick tick) { TickDone(tick); };
    recorder.Events().OnLogged = [this, logged = recorder.Events().OnLogged](const LoggedEvent& event) {
        if (logged)
            logged(event);
        EventLogged(event);
    };
}

void RecorderWatch::EventLogged(const LoggedEvent& event)
{
    QString text = event.kind;
    if (event.channel)
        text += QStringLiteral(", channel %1").arg(*event.channel);
    if (event.value)
        text += QStringLiteral(": %1").arg(*event.value);
    if (!event.text.isEmpty())
        text += QStringLiteral(" (%1)").arg(event.text);
    m_events.append(web::EventLine{event.utc.toUTC(), text});
    while (m_events.size() > ShownEvents)
        m_events.removeFirst();
}

bool RecorderWatch::FrameArrived(FrameBufferArray& frame, const std::function<bool(FrameBufferArray&)>& decode)
{
    const int16_t channel = DigitValue(frame[2]);
    const bool single = DigitValue(frame[1]) == 4;
    if (!(decode ? decode(frame) : DecodeFrame(frame)))
        return false; // counted by the receiver
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_lastFrameMs = now;
    // A dual-display frame's readings are those of channels 1 and 2, whatever its channel digit.
    m_frameMs[single ? channel : 1] = now;
    if (!single && Shared.SecondDisplay)
        m_frameMs[2] = now;
    return true;
}

void RecorderWatch::LinkChanged(SerialLink::Event event)
{
    if (event == SerialLink::Event::Opened)
        return;
    m_linkUp = event == SerialLink::Event::Flowing;
    FollowLink(QDateTime::currentMSecsSinceEpoch());
}

void RecorderWatch::FollowLink(qint64 nowMs)
{
    const bool up = m_linkUp && m_lastFrameMs != 0 && nowMs - m_lastFrameMs < web::LinkSilenceMs;
    if (up == m_shownUp)
        return;
    m_shownUp = up;
    // Silence began with the last frame, not when it was noticed.
    m_linkSince = QDateTime::fromMSecsSinceEpoch(up || m_lastFrameMs == 0 ? nowMs : m_lastFrameMs, Qt::UTC);
}

web::RecorderStatus RecorderWatch::Build(bool withChannels) const
{
    web::RecorderStatus s;
    s.station = m_station;
    s.dataFile = QFileInfo(m_recorder.Data().DatabaseName()).fileName();
    if (s.dataFile.isEmpty())
        s.dataFile = Shared.DataFileName;
    s.rows = Shared.RecordCount;
    s.rowLimit = Shared.MaxRecords;
    s.linkUp = m_shownUp;
    s.linkSince = m_linkSince;
    if (m_lastFrameMs != 0)
        s.lastFrame = QDateTime::fromMSecsSinceEpoch(m_lastFrameMs, Qt::UTC);
    if (m_lastRowMs != 0)
        s.lastRow = QDateTime::fromMSecsSinceEpoch(m_lastRowMs, Qt::UTC);
    s.updated = QDateTime::currentDateTimeUtc();
    const FrameReceiver& receiver = m_recorder.Receiver();
    s.framesReceived = receiver.FramesCut;
    s.framesRejected = receiver.FramesDropped;
    s.rowsRecorded = m_rowsRecorded;
    s.rowsFailed = m_rowsFailed;
    s.rowsFailing = quint64(m_recorder.FailingRows());
    s.events = m_events;
    if (const Forwarder* forward = m_recorder.Forwarding()) {
        const ForwardStatus status = forward->Status();
        s.forward = web::ForwardState{ForwardStateName(status.state), ForwardStatusText(status, true),
                                      status.waitingRows};
    }
    if (const Publisher* publish = m_recorder.Publishing()) {
        const PublishStatus status = publish->Status();
        s.mqtt = web::MqttState{status.state == PublishStatus::State::Connected, PublishStatusText(status, true),
                                publish->ShownUrl(), status.queued};
    }
    const int channels = withChannels ? std::clamp(m_recorder.Data().FieldCount() / 2, 0, MaxChannel) : 0;
    for (int n = 1; n <= channels; ++n) {
        web::ChannelStatus c;
        c.channel = n;
        const DispSetupRecord& setup = Shared.DispSetup[n];
        const int code = Shared.ChanUnit[n];
        c.unit = (setup.UnitAutoSense ? (code >= 0 && code <= MaxUnitCode ? Shared.UnitName[code] : QString())
                                      : setup.ManualUnit)
                     .trimmed();
        c.decimals = setup.UnitAutoSense ? Shared.ChanDecimals[n] : setup.Decimals;
        if (m_frameMs[n] != 0) {
            c.time = QDateTime::fromMSecsSinceEpoch(m_frameMs[n], Qt::UTC);
            const double value = Shared.ChanValue[n];
            if (value != InvalidReading && std::isfinite(value)) {
                c.value = Rounded(value, c.decimals);
                // The state of the event log (deadband and delay), where the limits give one.
                const AlarmLevel logged = m_recorder.Events().Alarm(n);
                if (web::AlarmOf(value, setup) != web::Alarm::None)
                    c.alarm = logged == AlarmLevel::High  ? web::Alarm::High
                              : logged == AlarmLevel::Low ? web::Alarm::Low
                                                          : web::Alarm::Normal;
            }
        }
        s.channels.append(c);
    }
    return s;
}

void RecorderWatch::Publish()
{
    if (m_board == nullptr)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    FollowLink(now);
    web::RecorderStatus status = Build();
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

void RecorderWatch::TickDone(ScanCycle::Tick tick)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (tick == ScanCycle::Tick::Recorded) {
        ++m_rowsRecorded;
        m_lastRowMs = now;
    }
    else if (tick == ScanCycle::Tick::Failed)
        m_rowsFailed += quint64(m_recorder.Scan().MissedRows());
    // Readings change with every frame: each open page costs an event per publication, so
    // publications are spaced, well within a second of any reading.
    FollowLink(now);
    if (now - m_publishedMs >= PublishEveryMs || now < m_publishedMs)
        Publish();
    m_service.TickCompleted(web::StatusLine(Build(false)));
}

} // namespace meterrecord
