#pragma once
// What the recording engine writes into the event log of the data file it records into
// (datafile/event_log.h), so that the program and meter-record log alike. The scan cycle owns one
// (ScanCycle::Events) and tells it about ticks, rows and pauses; the recording station passes on
// each source's link state and says when and why recording stops.
//
// The rules:
// - start: before anything else is logged into a bound file that is not full (at the first tick,
//   or when the owner calls Start); stop with the reason when the owner stops, or "file full".
//   After a stop nothing more is logged until recording starts again.
// - link-lost once per gap of a source, with the reason, at the time of its last good frame;
//   link-restored at the time of its first good frame after it. No row is recorded while every
//   source is in a gap (InGap): the readings would be stale.
// - paused / resumed when the pause state changes while recording, with the reason given to
//   PauseState (or a plain one when a tick notices the change first).
// - high / low / normal at each recorded row, for each channel whose warning limits are set (not
//   both 0), when its alarm state changes (with the deadband and delay of alarm_state.h); the
//   value is the recorded reading. Every channel counts as normal at start; an invalid reading
//   (999999) changes no state.
// - full when the row that reaches the row limit has been written, followed by stop "file full".
// - rows-missed when a row has been written again after rows failed, with the count (also as the
//   value), the first and last time missed and the last reason (see MissedSpan in event_log.h).
// - note: Note, written at once.
// An event that cannot be written (disk full, file locked) is kept, in order, and written before
// the next one once writing works again; at most MaxPending are kept, the oldest go first.
// Problems the user should hear of (an EventLog that another tool damaged or dropped, events that
// had to be given up) go to OnProblem once per distinct text; rows are recorded regardless.
#include "acquisition/alarm_state.h"
#include "datafile/data_file.h"
#include "datafile/event_log.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <functional>

class RecordingEvents {
  public:
    explicit RecordingEvents(DataFile& data);
    ~RecordingEvents();
    RecordingEvents(const RecordingEvents&) = delete;
    RecordingEvents& operator=(const RecordingEvents&) = delete;

    int MaxPending = 1000;

    // Who records, for the start event: "Varnik 1.0.0" or "meter-record 1.0.0"; the account it
    // runs under, the port and the baud rate are added.
    QString Who;
    // What it records from, for the start event, when more than the instrument's port: "sigrok:demo
    // on channels 1 to 2"; empty names the port and its baud rate.
    QString SourcesText;
    std::function<void(const QString& problem)> OnProblem;
    // Told of every event once it is in the file (live publishing, the recorder's status page).
    std::function<void(const LoggedEvent&)> OnLogged;
    // Writes one event into the bound file; AppendEvent unless a test puts a failing one in place.
    std::function<bool(const LoggedEvent&, QString* error, bool* created)> Write;

    void Start();
    // Stops with the reason. After a final stop (the program or meter-record ends) nothing more is
    // logged, whatever ticks or events still come.
    void Stop(const QString& why, bool final = false);
    bool Running() const { return m_state == State::Running; }

    // when: the last good frame (lost) and the first new one (restored); now when null. source:
    // 0..Sources-1, the station's source whose link it is.
    void LinkLost(const QString& why, const QDateTime& when = QDateTime(), int source = 0);
    // Beside other sources, the return names whose it is ("frames arriving again from sigrok:demo").
    void LinkRestored(const QDateTime& when = QDateTime(), int source = 0);
    // Every source in a gap (no row is recorded), or source `source` in one.
    bool InGap() const;
    bool InGap(int source) const;
    // The station's sources were replaced: no source is in a gap any more.
    void ForgetSources() { m_downSources = 0; }
    // How many sources the station has (1..32), and what the log calls source s ("the meter" when
    // empty).
    int Sources = 1;
    std::function<QString(int source)> SourceName;
    QString NameOf(int source) const { return SourceName ? SourceName(source) : QStringLiteral("the meter"); }

    // The pause state as it is now; logs paused/resumed when it differs from the last one seen.
    void PauseState(bool paused, const QString& why = QString());
    // The scan timer stopped (a window that needs it stopped opened) or started again: paused and
    // resumed with the reason, unless recording was paused anyway (or was paused meanwhile: a pause
    // state given while the scan is held is kept without an event, and counts when it goes on).
    void Suspended(bool suspended, const QString& why);

    void RowRecorded(const QDateTime& when, const DataRow& row);
    // An event a source reports of itself (an overload, a change of function), logged now while
    // recording runs.
    void SourceEvent(const QString& kind, std::optional<int> channel, std::optional<double> value, const QString& text);
    void RowMissed(const QDateTime& when, const QString& why, int rows = 1);
    void Full();

    // A note typed by the user, written at once into the bound file; false with *error when no
    // file is bound or it cannot be written.
    bool Note(const QString& text, QString* error = nullptr);

    int Pending() const { return int(m_pending.size()); }

    // The alarm state of channel 1..MaxChannel as the event log has it.
    AlarmLevel Alarm(int channel) const { return m_alarm[size_t(channel)].State(); }

  private:
    enum class State { Idle, Running, Ended, Closed };

    bool EnsureRunning();
    void End(const QString& why, State next);
    void Log(LoggedEvent event);
    bool Flush();
    void Problem(const QString& text);
    QString StartText() const;

    DataFile& m_data;
    State m_state = State::Idle;
    QString m_endedPath; // the file that was full when recording ended
    static quint32 SourceBit(int source);
    quint32 m_downSources = 0; // bit s: source s is in a gap
    bool m_paused = false;
    bool m_pausedKnown = false;
    bool m_suspended = false; // the scan timer is held (Suspended)
    std::array<AlarmTracker, MaxChannel + 1> m_alarm{};
    struct Missed {
        int count = 0;
        QDateTime first;
        QDateTime last;
        QString why;
    } m_missed;
    QList<LoggedEvent> m_pending;
    int m_dropped = 0;
    bool m_wroteAny = false;
    QString m_lastProblem;
};
