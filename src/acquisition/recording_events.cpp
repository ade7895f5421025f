#include "acquisition/recording_events.h"

#include "core/shared_state.h"
#include "platform/host_services.h"
#include "platform/process_user.h"
#include "platform/serial_control.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

bool RecordingFull()
{
    return Shared.RecordCount >= Shared.MaxRecords;
}

QString Number(double value)
{
    return QString::number(value, 'g', 12);
}

} // namespace

RecordingEvents::RecordingEvents(DataFile& data) : m_data(data)
{
    Write = [this](const LoggedEvent& event, QString* error, bool* created) {
        return AppendEvent(m_data, event, error, created);
    };
}

RecordingEvents::~RecordingEvents() = default;

QString RecordingEvents::StartText() const
{
    const QString who = Who.isEmpty() ? QStringLiteral("Varnik %1").arg(VARNIK_VERSION_TEXT) : Who;
    if (!SourcesText.isEmpty())
        return QStringLiteral("%1 as user %2, %3").arg(who, ProcessUserName(), SourcesText);
    return QStringLiteral("%1 as user %2, port COM%3 (%4), %5 baud")
        .arg(who, ProcessUserName())
        .arg(Shared.ComPort)
        .arg(QDir::toNativeSeparators(SerialDeviceForPort(Shared.ComPort)))
        .arg(Shared.BaudRate == 9600 ? 9600 : 2400);
}

void RecordingEvents::Start()
{
    if (!m_data.IsBound() || m_state == State::Running || m_state == State::Closed)
        return;
    m_state = State::Running;
    m_endedPath.clear();
    for (AlarmTracker& alarm : m_alarm)
        alarm.Reset();
    m_wroteAny = false;
    Log(LoggedEvent::At(Host().now(), EventKind::Start, StartText()));
    // A pause already in force when recording starts is part of the story.
    if (m_pausedKnown && m_paused)
        Log(LoggedEvent::At(Host().now(), EventKind::Paused, QStringLiteral("recording starts paused")));
    if (m_downSources != 0)
        Log(LoggedEvent::At(Host().now(), EventKind::LinkLost, QStringLiteral("the meter is still silent")));
}

bool RecordingEvents::EnsureRunning()
{
    if (m_state == State::Ended && (m_data.DatabaseName() != m_endedPath || !RecordingFull()))
        m_state = State::Idle;
    if (m_state == State::Idle && !RecordingFull())
        Start();
    return m_state == State::Running;
}

void RecordingEvents::Stop(const QString& why, bool final)
{
    End(why, State::Idle);
    if (final)
        m_state = State::Closed;
}

void RecordingEvents::End(const QString& why, State next)
{
    if (m_state != State::Running)
        return;
    if (m_missed.count > 0) {
        Log(LoggedEvent::At(Host().now(), EventKind::RowsMissed,
                            RowsMissedText(m_missed.count, m_missed.first, m_missed.last, m_missed.why),
                            std::nullopt, m_missed.count));
        m_missed = {};
    }
    Log(LoggedEvent::At(Host().now(), EventKind::Stop, why));
    if (!m_pending.isEmpty())
        Problem(QStringLiteral("%1 event(s) could not be written into the event log of \"%2\" before "
                               "recording stopped and are lost.")
                    .arg(m_pending.size())
                    .arg(QDir::toNativeSeparators(m_data.DatabaseName())));
    m_pending.clear();
    m_state = next;
    m_endedPath = m_data.DatabaseName();
}

void RecordingEvents::LinkLost(const QString& why, const QDateTime& when, int source)
{
    const quint32 bit = SourceBit(source);
    if (bit == 0 || (m_downSources & bit) != 0)
        return;
    EnsureRunning();
    m_downSources |= bit;
    if (m_state == State::Running)
        Log(LoggedEvent::At(when.isValid() ? when : Host().now(), EventKind::LinkLost, why));
}

void RecordingEvents::LinkRestored(const QDateTime& when, int source)
{
    const quint32 bit = SourceBit(source);
    if ((m_downSources & bit) == 0)
        return;
    m_downSources &= ~bit;
    if (m_state == State::Running)
        Log(LoggedEvent::At(when.isValid() ? when : Host().now(), EventKind::LinkRestored,
                            Sources > 1 ? QStringLiteral("frames arriving again from %1").arg(NameOf(source))
                                        : QStringLiteral("frames arriving again")));
}

bool RecordingEvents::InGap() const
{
    const quint32 all = Sources >= 32 ? ~0u : (1u << std::max(Sources, 1)) - 1;
    return (m_downSources & all) == all;
}

bool RecordingEvents::InGap(int source) const
{
    return (m_downSources & SourceBit(source)) != 0;
}

quint32 RecordingEvents::SourceBit(int source)
{
    return source >= 0 && source < 32 ? 1u << source : 0u;
}

void RecordingEvents::PauseState(bool paused, const QString& why)
{
    const bool changed = m_pausedKnown && paused != m_paused;
    m_paused = paused;
    m_pausedKnown = true;
    // While the scan is held recording stays stopped whatever is chosen: the choice counts when
    // the scan goes on.
    if (!changed || m_state != State::Running || m_suspended)
        return;
    const QString text = !why.isEmpty() ? why
                         : paused       ? QStringLiteral("recording paused")
                                        : QStringLiteral("recording resumed");
    Log(LoggedEvent::At(Host().now(), paused ? EventKind::Paused : EventKind::Resumed, text));
}

void RecordingEvents::Suspended(bool suspended, const QString& why)
{
    if (suspended == m_suspended)
        return;
    m_suspended = suspended;
    // Recording stops for the suspension unless it was paused anyway, and goes on after it unless
    // it was paused meanwhile (RUN/PAUSE pressed while the scan was held).
    const bool paused = m_pausedKnown && m_paused;
    if (m_state == State::Running && !paused)
        Log(LoggedEvent::At(Host().now(), suspended ? EventKind::Paused : EventKind::Resumed, why));
}

void RecordingEvents::RowRecorded(const QDateTime& when, const DataRow& row)
{
    if (!EnsureRunning())
        return;
    // Writing works again: what was kept back goes first.
    Flush();
    if (m_missed.count > 0) {
        Log(LoggedEvent::At(when, EventKind::RowsMissed,
                            RowsMissedText(m_missed.count, m_missed.first, m_missed.last, m_missed.why),
                            std::nullopt, m_missed.count));
        m_missed = {};
    }
    for (int n = 1; n <= int(row.chan.size()) && n <= MaxChannel; ++n) {
        const DispSetupRecord& setup = Shared.DispSetup[n];
        const double value = row.chan[n - 1];
        if (!m_alarm[size_t(n)].Feed(value, setup))
            continue;
        const AlarmLevel state = m_alarm[size_t(n)].State();
        QString kind = EventKind::Normal;
        QString text = QStringLiteral("channel %1 back within %2 .. %3")
                           .arg(n)
                           .arg(Number(setup.LowWarning), Number(setup.HighWarning));
        if (state == AlarmLevel::High) {
            kind = EventKind::High;
            text = QStringLiteral("channel %1 above its high limit %2").arg(n).arg(Number(setup.HighWarning));
        } else if (state == AlarmLevel::Low) {
            kind = EventKind::Low;
            text = QStringLiteral("channel %1 below its low limit %2").arg(n).arg(Number(setup.LowWarning));
        }
        Log(LoggedEvent::At(when, kind, text, n, value));
    }
}

void RecordingEvents::SourceEvent(const QString& kind, std::optional<int> channel, std::optional<double> value,
                                  const QString& text)
{
    if (!EnsureRunning())
        return;
    Log(LoggedEvent::At(Host().now(), kind, text, channel, value));
}

void RecordingEvents::RowMissed(const QDateTime& when, const QString& why, int rows)
{
    if (!EnsureRunning())
        return;
    if (m_missed.count == 0)
        m_missed.first = when;
    m_missed.count += rows;
    m_missed.last = when;
    m_missed.why = why;
}

void RecordingEvents::Full()
{
    if (!EnsureRunning())
        return;
    Log(LoggedEvent::At(Host().now(), EventKind::Full,
                        QStringLiteral("the row limit of %1 rows is reached").arg(Shared.MaxRecords)));
    End(QStringLiteral("file full"), State::Ended);
}

bool RecordingEvents::Note(const QString& text, QString* error)
{
    if (!m_data.IsBound()) {
        if (error)
            *error = QStringLiteral("No data file is open.");
        return false;
    }
    // Events kept back go first, so that the log stays in order.
    Flush();
    LoggedEvent note = LoggedEvent::At(Host().now(), EventKind::Note, text);
    QString failure;
    if (!m_pending.isEmpty() || !Write(note, &failure, nullptr)) {
        if (error)
            *error = failure.isEmpty() ? QStringLiteral("The data file cannot be written now.") : failure;
        return false;
    }
    if (OnLogged)
        OnLogged(note);
    return true;
}

void RecordingEvents::Log(LoggedEvent event)
{
    if (!m_data.IsBound())
        return;
    if (m_pending.size() >= MaxPending) {
        m_pending.removeFirst();
        ++m_dropped;
    }
    m_pending.append(std::move(event));
    Flush();
}

bool RecordingEvents::Flush()
{
    while (!m_pending.isEmpty()) {
        QString error;
        bool created = false;
        if (!Write(m_pending.first(), &error, &created)) {
            Problem(error);
            return false;
        }
        if (created && m_wroteAny)
            Problem(
                QStringLiteral("The event log of the data file \"%1\" was removed by another program while "
                               "recording; a new one was made, and the events written before are gone.")
                    .arg(QDir::toNativeSeparators(m_data.DatabaseName())));
        m_wroteAny = true;
        m_lastProblem.clear();
        if (OnLogged)
            OnLogged(m_pending.first());
        m_pending.removeFirst();
    }
    if (m_dropped > 0) {
        Problem(
            QStringLiteral("%1 event(s) could not be written into the event log of \"%2\" in time and are "
                           "lost.")
                .arg(m_dropped)
                .arg(QDir::toNativeSeparators(m_data.DatabaseName())));
        m_dropped = 0;
    }
    return true;
}

void RecordingEvents::Problem(const QString& text)
{
    if (text == m_lastProblem)
        return;
    m_lastProblem = text;
    if (OnProblem)
        OnProblem(text);
}
