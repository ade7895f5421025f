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
        FrameArrived(frame, decode);
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

void RecorderWatch::FrameArrived(FrameBufferArray& frame, const std::function<void(FrameBufferArray&)>& decode)
{
    const int16_t channel = DigitValue(frame[2]);
    const bool single = DigitValue(frame[1]) == 4;
    if (decode)
        decode(frame);
    else
        DecodeFrame(frame);
    if (channel > MaxChannel) {
        ++m_framesOutOfRange;
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_frameMs[channel] = now;
    if (!single && Shared.SecondDisplay)
        m_frameMs[2] = now;
}

void RecorderWatch::LinkChanged(SerialLink::Event event)
{
    const bool up = event == SerialLink::Event::Flowing;
    if (event == SerialLink::Event::Opened || up == m_linkUp)
        return;
    m_linkUp = up;
    m_linkSince = QDateTime::currentDateTimeUtc();
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
    s.linkUp = m_linkUp;
    s.linkSince = m_linkSince;
    const FrameReceiver& receiver = m_recorder.Receiver();
    s.framesReceived = receiver.FramesCut;
    s.framesRejected = receiver.FramesDropped + m_framesOutOfRange;
    s.rowsRecorded = m_rowsRecorded;
    s.rowsFailed = m_rowsFailed;
    s.events = m_events;
    if (const Forwarder* forward = m_recorder.Forwarding()) {
        const ForwardStatus status = forward->Status();
        s.forward = web::ForwardState{ForwardStateName(status.state), ForwardStatusText(status, true),
                                      status.waitingRows};
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
    m_publishedMs = QDateTime::currentMSecsSinceEpoch();
    web::RecorderStatus status = Build();
    if (status == m_published)
        return;
    m_published = status;
    m_board->Publish(std::move(status));
}

void RecorderWatch::TickDone(ScanCycle::Tick tick)
{
    if (tick == ScanCycle::Tick::Recorded)
        ++m_rowsRecorded;
    else if (tick == ScanCycle::Tick::Failed)
        ++m_rowsFailed;
    // Readings change with every frame: each open page costs an event per publication, so
    // publications are spaced, well within a second of any reading.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_publishedMs >= PublishEveryMs || now < m_publishedMs)
        Publish();
    m_service.TickCompleted(web::StatusLine(Build(false)));
}

} // namespace meterrecord
