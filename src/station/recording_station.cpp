#include "station/recording_station.h"

#include "core/recorded_reading.h"
#include "core/shared_state.h"
#include "platform/host_services.h"
#include "publish/payloads.h"
#include "station/reading_source.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

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

QString EventText(const LoggedEvent& event)
{
    QString text = event.kind;
    if (event.channel)
        text += QStringLiteral(", channel %1").arg(*event.channel);
    if (event.value)
        text += QStringLiteral(": %1").arg(*event.value);
    if (!event.text.isEmpty())
        text += QStringLiteral(" (%1)").arg(event.text);
    return text;
}

} // namespace

RecordingStation::RecordingStation(QObject* parent) : QObject(parent), m_publisher(new Publisher({}, this))
{
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &RecordingStation::ScanTick);
    m_alive.setInterval(1000);
    connect(&m_alive, &QTimer::timeout, this, &RecordingStation::CheckAlive);
    m_alive.start();
    m_scan.CheckLink = [this] {
        for (ReadingSource* source : m_sources)
            source->Check();
        // A source whose port is gone says no data comes; while another source delivers, rows go on.
        if (Shared.Freshness.Fresh())
            Shared.DataReceived = true;
    };
    m_scan.Events.SourceName = [this](int s) {
        return s >= 0 && s < SourceCount() ? m_sources[size_t(s)]->Name() : QStringLiteral("the meter");
    };
    m_scan.Events.OnLogged = [this](const LoggedEvent& event) { Logged(event); };
    m_linkSince = Host().now().toUTC();
}

RecordingStation::~RecordingStation()
{
    // Events logged from here on (a host closing) go nowhere.
    m_scan.Events.OnLogged = nullptr;
    m_timer.stop();
    // Sources hold references into the station's parts: they go first.
    for (ReadingSource* source : m_sources)
        delete source;
    m_sources.clear();
}

int RecordingStation::AddSource(ReadingSource* source)
{
    const int index = SourceCount();
    source->setParent(this);
    source->Index = index;
    source->hooks.Readings = [this, index](const int* channels, int count) { ChannelsHeard(index, channels, count); };
    source->hooks.LinkChanged = [this, index](bool up, const QString& why) { LinkChanged(index, up, why); };
    source->hooks.Report = [this, index](const QString& line) { emit SourceReport(index, line); };
    source->hooks.Trouble = [this, index](const QString& text) { m_trouble[index] = text; };
    source->hooks.Event = [this](const QString& kind, int channel, std::optional<double> value, const QString& text) {
        m_scan.Events.SourceEvent(kind, channel > 0 ? std::optional<int>(channel) : std::nullopt, value, text);
    };
    source->hooks.ModeChanged = [this](int channel) {
        if (m_publisher->IsRunning())
            m_publisher->ModeChanged(channel);
    };
    m_sources.push_back(source);
    m_scan.Sources = SourceCount();
    return index;
}

void RecordingStation::RemoveSources(const QString& why)
{
    for (ReadingSource* source : m_sources)
        source->Stop();
    m_scan.Events.Stop(why);
    for (ReadingSource* source : m_sources) {
        Shared.Freshness.Forget(source->Index);
        delete source;
    }
    m_sources.clear();
    m_trouble.clear();
    m_scan.Sources = 0;
    m_scan.ForgetSources();
    FollowLink();
}

void RecordingStation::StartSources()
{
    for (ReadingSource* source : m_sources)
        source->Start();
}

void RecordingStation::Stop(const QString& why)
{
    m_timer.stop();
    for (ReadingSource* source : m_sources)
        source->Stop();
    m_scan.Events.Stop(why, true);
}

void RecordingStation::Shutdown()
{
    m_data.Unbind();
    if (m_forward)
        m_forward->Stop();
    m_publisher->Stop();
}

QString RecordingStation::FileName() const
{
    return QFileInfo(m_data.DatabaseName()).fileName();
}

QString RecordingStation::BoundFileName() const
{
    return m_data.IsBound() ? FileName() : Shared.DataFileName;
}

bool RecordingStation::Bind(const QString& path, QString* error)
{
    const QString next = QFileInfo(path).canonicalFilePath();
    if (m_data.IsBound() && next != QFileInfo(m_data.DatabaseName()).canonicalFilePath())
        m_scan.Events.Stop(QStringLiteral("another data file chosen"));
    // Bind leaves the current binding alone when the new file is not a data file.
    QString failure;
    if (!m_data.Bind(path, &failure)) {
        if (!m_data.IsBound())
            m_unboundWhy = failure;
        if (error)
            *error = failure;
        return false;
    }
    m_unboundWhy.clear();
    m_scan.FieldCount = m_data.FieldCount();
    // Rows are numbered by their place in the file, the same in every host (whatever RecordCount
    // counts there).
    m_fileRows = std::max<qint64>(m_data.RowCount(), 0);
    m_damagedPath.clear();
    m_rowFailures.Clear();
    // Queued, so that whatever the host says about the file comes before the forwarder's reports.
    QMetaObject::invokeMethod(this, &RecordingStation::RestartForwarding, Qt::QueuedConnection);
    return true;
}

void RecordingStation::ForwardTo(const QString& url, const QString& station)
{
    m_forwardTarget = url;
    m_forwardStation = station;
    if (url.isEmpty()) {
        if (m_forward)
            m_forward->Stop();
        m_forwardStatus.reset();
    }
}

void RecordingStation::RestartForwarding()
{
    if (m_forwardTarget.isEmpty() || !m_data.IsBound())
        return;
    // One forwarder for the whole run: when the data file changes it sends the rows of the earlier
    // files that the server lacks first.
    if (!m_forward) {
        m_forward = new Forwarder({}, this);
        connect(m_forward, &Forwarder::StatusChanged, this, &RecordingStation::ForwardStatusReported);
    }
    QString error;
    if (!m_forward->Start({m_data.DatabaseName(), m_forwardTarget, m_forwardStation}, &error)) {
        m_forward->Stop();
        emit ForwardFailed(error);
    }
}

void RecordingStation::ForwardStatusReported(const ForwardStatus& status)
{
    m_forwardStatus = status;
    emit ForwardStatusChanged(status);
}

QString RecordingStation::ForwardOutageText() const
{
    constexpr qint64 OutageNoticeSeconds = 60;
    if (!m_forwardStatus || m_forwardStatus->state != ForwardStatus::State::Unreachable ||
        !m_forwardStatus->unreachableSince.isValid() ||
        m_forwardStatus->unreachableSince.secsTo(Host().now()) < OutageNoticeSeconds)
        return QString();
    return ForwardStatusText(*m_forwardStatus, true);
}

bool RecordingStation::PublishTo(const PublishTarget& target, QString* error)
{
    QString why;
    if (!m_publisher->Start(target, &why)) {
        m_publisher->Stop();
        if (error)
            *error = why;
        return false;
    }
    return true;
}

void RecordingStation::StopPublishing()
{
    m_publisher->Stop();
}

void RecordingStation::CheckAlive()
{
    const quint32 tick = Host().tickCount();
    const QDateTime now = Host().now();
    // Only a scan timer that should have been running missed rows.
    if (m_aliveTime.isValid() && tick - m_aliveTick >= StallMs && m_timer.isActive()) {
        m_scan.NotRunning(m_aliveTime, now);
        // What the sources hold now waited while nothing ran: it is no current reading. Rows wait
        // for frames that arrive from now on.
        for (ReadingSource* source : m_sources) {
            source->DropWaiting();
            Shared.Freshness.NewRun(source->Index);
        }
    }
    m_aliveTick = tick;
    m_aliveTime = now;
}

ScanCycle::Tick RecordingStation::ScanTick()
{
    CheckAlive();
    const auto recorded = Shared.RecordCount;
    ScanCycle::Tick tick = m_scan.Timer1_Timer();
    m_rowFailures.Tick(tick, m_scan.MissedRows(), m_scan.LastError(), Host().now());
    if (tick == ScanCycle::Tick::Failed)
        m_rowsFailed += quint64(m_scan.MissedRows());
    if (Shared.RecordCount != recorded)
        RowWritten();
    // A spoilt file may show first in the event log while rows still go in: recording stops too.
    if (m_data.IsDamaged()) {
        const QString path = m_data.DatabaseName();
        m_damagedPath = path;
        emit DamagedFile(path, m_data.DamageText());
        // Unbound after the hosts have said so: later ticks must not try the file again.
        m_data.Unbind();
        tick = ScanCycle::Tick::Failed;
    }
    FollowLink();
    FollowChannels();
    emit TickDone(tick);
    return tick;
}

bool RecordingStation::SaveNow(QString* error)
{
    const auto recorded = Shared.RecordCount;
    const bool saved = m_scan.SaveRow(error);
    if (saved && Shared.RecordCount != recorded)
        RowWritten();
    return saved;
}

void RecordingStation::RowWritten()
{
    ++m_rowsRecorded;
    ++m_fileRows;
    m_lastRow = Host().now().toUTC();
    if (m_forward && !m_forwardTarget.isEmpty())
        m_forward->RowRecorded();
    if (m_publisher->IsRunning())
        m_publisher->RowRecorded(m_scan.LastRow(), m_fileRows, FileName());
}

bool RecordingStation::Suspend(const QString& why)
{
    if (!m_timer.isActive())
        return false;
    CheckAlive();
    m_timer.stop();
    m_suspendedWhy = why;
    m_scan.Events.Suspended(true, why);
    return true;
}

void RecordingStation::Resume(const QString& why)
{
    m_suspendedWhy.clear();
    m_scan.Events.Suspended(false, why);
    m_timer.start();
}

QString RecordingStation::HeldText() const
{
    if (!m_suspendedWhy.isEmpty())
        return QStringLiteral("Recording paused: %1.").arg(m_suspendedWhy);
    if (Shared.Paused && !m_pauseWhy.isEmpty())
        return QStringLiteral("Recording paused: %1.").arg(m_pauseWhy);
    return QString();
}

QString RecordingStation::SourceTroubleText() const
{
    QStringList texts;
    for (const auto& [source, text] : m_trouble)
        if (!text.isEmpty())
            texts << text;
    return texts.join(QLatin1Char(' '));
}

void RecordingStation::Pause(bool paused, const QString& why)
{
    if (paused)
        m_pauseWhy = why;
    Shared.Paused = paused;
    m_scan.Events.PauseState(paused, why);
}

bool RecordingStation::AddNote(const QString& text, QString* error)
{
    if (!m_data.IsBound()) {
        const QString path = DataPath(Shared.DataFileName);
        *error = FileExists(path) && !QFileInfo(path).isWritable()
                     ? QStringLiteral("The data file %1 is read-only: the note cannot be added to it.")
                           .arg(QDir::toNativeSeparators(path))
                     : QStringLiteral("The data file %1 is not open for recording in this program (see the "
                                      "status bar): the note cannot be added to it.")
                           .arg(QDir::toNativeSeparators(path));
        return false;
    }
    return m_scan.Events.Note(text, error);
}

void RecordingStation::ChannelsHeard(int source, const int* channels, int count)
{
    ReadingFreshness& fresh = Shared.Freshness;
    fresh.FrameArrived(source);
    for (int i = 0; i < count; ++i)
        fresh.Heard(channels[i], source);
    Shared.DataReceived = true;
    if (!m_publisher->IsRunning())
        return;
    for (int i = 0; i < count; ++i)
        m_publisher->ChannelHeard(channels[i]);
}

void RecordingStation::LinkChanged(int source, bool up, const QString& why)
{
    if (up) {
        m_scan.Events.LinkRestored({}, source);
        return;
    }
    m_scan.Events.LinkLost(why, Shared.Freshness.LastFrameTime(source), source);
    // Readings of a source whose port is gone are not current from now on, on every surface.
    Shared.Freshness.SourceDown(source);
    FollowLink();
}

void RecordingStation::FollowChannels()
{
    for (int n = 1; n <= MaxChannel; ++n) {
        const bool current = Shared.Freshness.Current(n);
        if (m_channelCurrent[size_t(n)] && !current && m_publisher->IsRunning())
            m_publisher->ChannelStale(n);
        m_channelCurrent[size_t(n)] = current;
    }
}

void RecordingStation::FollowLink()
{
    const bool up = Shared.Freshness.Fresh();
    if (up == m_linkUp)
        return;
    m_linkUp = up;
    m_linkSince = LinkChangeTime(up);
    if (!up && m_publisher->IsRunning())
        m_publisher->LinkState(false);
}

QDateTime RecordingStation::LinkChangeTime(bool up) const
{
    // The link came up with the first frame of the run now current, and went down with the last
    // frame, not when either was noticed.
    const ReadingFreshness& fresh = Shared.Freshness;
    QDateTime when;
    if (up) {
        for (int s = 0; s < SourceCount(); ++s)
            if (fresh.SourceFresh(s) && (!when.isValid() || fresh.RunStart(s) < when))
                when = fresh.RunStart(s);
    } else {
        when = fresh.LastFrameTime();
    }
    return (when.isValid() ? when : Host().now()).toUTC();
}

void RecordingStation::Logged(const LoggedEvent& event)
{
    m_events.append(EventLine{event.utc.toUTC(), EventText(event)});
    while (m_events.size() > ShownEvents)
        m_events.removeFirst();
    if (m_publisher->IsRunning())
        m_publisher->EventLogged(EventPayload(event, FileName()));
    emit EventLogged(event);
}

QString RecordingStation::RecordingOffText() const
{
    if (!m_damagedPath.isEmpty())
        return QStringLiteral("Recording off: the data file %1 is damaged and cannot take more rows. Make or "
                              "choose another with \"Create New Data File\".")
            .arg(QFileInfo(m_damagedPath).fileName());
    if (DataFileFull())
        return DataFileFullText(BoundFileName());
    // Another program recording the file, a file that is no data file: readings show, rows do not.
    if (!m_data.IsBound())
        return QStringLiteral("Recording off: no usable data file. %1")
            .arg(m_unboundWhy.isEmpty() ? QStringLiteral("Make or choose one with \"Create New Data File\".")
                                        : m_unboundWhy)
            .trimmed();
    return QString();
}

StationStatus RecordingStation::Status(bool withChannels) const
{
    const ReadingFreshness& fresh = Shared.Freshness;
    StationStatus s;
    s.station = StationName.isEmpty() ? DefaultStation() : StationName;
    s.dataFile = FileName();
    if (s.dataFile.isEmpty())
        s.dataFile = Shared.DataFileName;
    s.rows = Shared.RecordCount;
    s.rowLimit = Shared.MaxRecords;
    s.linkUp = fresh.Fresh();
    s.linkSince = s.linkUp == m_linkUp ? m_linkSince : LinkChangeTime(s.linkUp);
    s.lastFrame = fresh.LastFrameTime().toUTC();
    s.lastRow = m_lastRow;
    s.updated = Host().now().toUTC();
    for (const ReadingSource* source : m_sources) {
        s.framesReceived += source->FramesReceived();
        s.framesRejected += source->FramesRejected();
        s.sources.append(SourceStatus{source->Name(), source->FirstChannel, source->ChannelCount(),
                                      fresh.SourceFresh(source->Index),
                                      fresh.LastFrameTime(source->Index).toUTC()});
    }
    s.rowsRecorded = m_rowsRecorded;
    s.rowsFailed = m_rowsFailed;
    s.rowsFailing = quint64(m_rowFailures.Missed());
    s.recordingOff = RecordingOffText();
    s.events = m_events;
    if (m_forward && !m_forwardTarget.isEmpty()) {
        const ForwardStatus status = m_forward->Status();
        s.forward = ForwardState{ForwardStateName(status.state), ForwardStatusText(status, true), status.waitingRows};
    }
    if (m_publisher->IsRunning()) {
        const PublishStatus status = m_publisher->Status();
        s.mqtt = MqttState{status.state == PublishStatus::State::Connected, PublishStatusText(status, true),
                           m_publisher->ShownUrl(), status.queued};
    }
    const int channels = withChannels ? std::clamp(m_scan.FieldCount / 2, 0, MaxChannel) : 0;
    for (int n = 1; n <= channels; ++n) {
        ChannelStatus c;
        c.channel = n;
        c.quantity = Shared.ChanMode[n].quantity;
        c.flags = Shared.ChanMode[n].flags;
        RecordedReading recorded;
        if (RecordedReadingOf(n, &recorded)) {
            c.unit = recorded.unit.trimmed();
            c.decimals = recorded.decimals;
        }
        const QDateTime heard = fresh.HeardTime(n);
        if (heard.isValid()) {
            c.time = heard.toUTC();
            c.current = fresh.Current(n);
            if (Shared.ChanValue[n] != InvalidReading && RecordedReadingOf(n, &recorded)) {
                c.value = recorded.value;
                // The state of the event log (deadband and delay), where the limits give one.
                const AlarmLevel logged = m_scan.Events.Alarm(n);
                if (AlarmOf(recorded.value, Shared.DispSetup[n]) != ChannelAlarm::None)
                    c.alarm = logged == AlarmLevel::High  ? ChannelAlarm::High
                              : logged == AlarmLevel::Low ? ChannelAlarm::Low
                                                          : ChannelAlarm::Normal;
            }
        }
        s.channels.append(c);
    }
    return s;
}
