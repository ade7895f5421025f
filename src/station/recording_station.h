#pragma once
// One recording station: the data path wired once, for the program and meter-record alike.
//
//   source(s) --readings--> station --row--> data file + event log
//                             |  one freshness rule (Shared.Freshness), scan cycle, row failures
//                             +--> sinks: forwarder (PostgreSQL), publisher (MQTT)
//                             +--> Status(): live displays, status page, /metrics, systemd STATUS
//
// The station owns its sources, the data file binding, the scan cycle with its event log, the row
// failures, the forwarder and the publisher, and connects them itself: a host (the program's main
// window, meter-record's Recorder) adds sources, gives commands and shows what the station says;
// it never passes a row, a reading or an event on. A new source is a ReadingSource and one
// AddSource call; a new sink is one member fed in RowWritten/ChannelsHeard/Logged below.
//
// Everything runs on the thread that made the station (the GUI thread in the program).
#include "acquisition/row_failures.h"
#include "acquisition/scan_cycle.h"
#include "datafile/data_file.h"
#include "forward/forwarder.h"
#include "publish/publisher.h"
#include "station/station_status.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <map>
#include <optional>
#include <vector>

class ReadingSource;

class RecordingStation : public QObject {
    Q_OBJECT
  public:
    explicit RecordingStation(QObject* parent = nullptr);
    ~RecordingStation() override;

    // Takes the source over (as its QObject parent) and returns its index (its Shared.Freshness
    // source); its channels start at source->FirstChannel.
    int AddSource(ReadingSource* source);
    int SourceCount() const { return int(m_sources.size()); }
    ReadingSource& Source(int index) const { return *m_sources[size_t(index)]; }

    DataFile& Data() { return m_data; }
    const DataFile& Data() const { return m_data; }
    ScanCycle& Scan() { return m_scan; }
    const ScanCycle& Scan() const { return m_scan; }
    RecordingEvents& Events() { return m_scan.Events; }
    // The 200 ms scan timer: each timeout is one ScanTick. Off until a host starts it.
    QTimer* ScanTimer() { return &m_timer; }
    // The name given to the forwarder, the publisher and the status page; empty = DefaultStation().
    QString StationName;

    // Binds the data file at `path` (recording logs stop in the file bound before, when another),
    // and forwards it when forwarding is on. False with the reason, keeping the binding as it was.
    bool Bind(const QString& path, QString* error = nullptr);
    // The name of the bound file (Shared.DataFileName while none is).
    QString BoundFileName() const;

    // Stops every source (each lets go of its device within a second) and removes it, for a host
    // that builds its sources anew: the event log's run ends with `why` (the next tick starts
    // another, naming the new sources), and the old sources' readings are no longer current.
    void RemoveSources(const QString& why);
    // Starts every source (opens its device).
    void StartSources();
    // Recording ends: the scan timer and the sources stop, the event log says why (a final stop).
    void Stop(const QString& why);
    // After Stop: the data file, the forwarder and the publisher let go.
    void Shutdown();

    // One scan tick: the sources' watchdogs, the scan cycle, row failures, a damaged file, sinks.
    ScanCycle::Tick ScanTick();
    // Records one row at once ("Save Data"); false and *error when it could not.
    bool SaveNow(QString* error = nullptr);
    // For windows that need the scan timer stopped while they are open: true when it ran and was
    // stopped (paused with why in the event log); Resume starts it again (resumed).
    bool Suspend(const QString& why);
    void Resume(const QString& why);
    // Why the scan is held (Suspend's reason); empty while it is not. Recording is paused then,
    // whatever RUN/PAUSE says: the live displays show PAUSE with this reason.
    const QString& SuspendedWhy() const { return m_suspendedWhy; }
    // "Recording paused: a query window is open." while the scan is held; while paused, the same
    // with the reason given to Pause ("the text display's page setup is shown"); else empty.
    QString HeldText() const;
    // What keeps a source from delivering ("The meter's port cannot be opened: ..."); empty while
    // none has trouble. The live displays say it beside their row counters.
    QString SourceTroubleText() const;
    // Shared.Paused, with the reason in the event log when it changes.
    void Pause(bool paused, const QString& why);
    // A note into the bound file's event log (Report > Event Log); false with a message naming the
    // file when none is bound, it is read-only or it cannot be written.
    bool AddNote(const QString& text, QString* error);

    // Forwards every file bound from now on (from the next Bind) to the central database at `url`;
    // an empty url stops forwarding at once.
    void ForwardTo(const QString& url, const QString& station);
    // A status report of the forwarder (its StatusChanged): kept for ForwardOutageText and passed on.
    void ForwardStatusReported(const ForwardStatus& status);
    const Forwarder* Forwarding() const { return m_forwardTarget.isEmpty() ? nullptr : m_forward; }
    // Publishes readings, rows and events; false with *error (nothing started) for an unusable
    // target. The publisher object lives as long as the station: connect to it at once.
    bool PublishTo(const PublishTarget& target, QString* error = nullptr);
    void StopPublishing();
    Publisher& Publishing() { return *m_publisher; }
    const Publisher& Publishing() const { return *m_publisher; }

    // The snapshot every surface reads; withChannels false leaves the channel list empty.
    StationStatus Status(bool withChannels = true) const;
    // Why no row can be recorded for want of a usable data file (damaged, full, none bound);
    // empty while rows can go in.
    QString RecordingOffText() const;
    bool DataFileDamaged() const { return !m_damagedPath.isEmpty(); }
    const RowFailures& RowTrouble() const { return m_rowFailures; }
    // While the central database has been unreachable for a minute or more: the brief text
    // ("DB down since ..."); else empty.
    QString ForwardOutageText() const;
    qint64 RowsThisRun() const { return qint64(m_rowsRecorded); }

    // Runs at every scan tick and every second by a timer of its own: a gap of StallMs or more
    // since the last run, while the scan timer runs, means the process was not running (stopped,
    // a hung disk), and the scan cycle logs the rows it missed. Tests with a clock of their own
    // call it.
    void CheckAlive();
    static constexpr quint32 StallMs = 2000;

    static constexpr int ShownEvents = 20; // the latest events kept for the status snapshot

  signals:
    // After every scan tick, with what it did.
    void TickDone(ScanCycle::Tick tick);
    // The bound data file was found damaged; it is unbound once every receiver has returned.
    void DamagedFile(const QString& path, const QString& damage);
    // Every event once it is in the file.
    void EventLogged(const LoggedEvent& event);
    // A line a source has to say about its device.
    void SourceReport(int source, const QString& line);
    void ForwardStatusChanged(const ForwardStatus& status);
    // Forwarding could not start (an unusable URL, no data file): the reason.
    void ForwardFailed(const QString& why);

  private:
    void ChannelsHeard(int source, const int* channels, int count);
    void LinkChanged(int source, bool up, const QString& why);
    void Logged(const LoggedEvent& event);
    void RowWritten();
    void FollowLink();
    // A channel that stops being current while others go on is told to the publisher.
    void FollowChannels();
    QDateTime LinkChangeTime(bool up) const;
    void RestartForwarding();

    QString FileName() const;

    std::vector<ReadingSource*> m_sources;
    DataFile m_data;
    ScanCycle m_scan{m_data};
    QTimer m_timer;
    QTimer m_alive;
    quint32 m_aliveTick = 0;
    QDateTime m_aliveTime; // null until the first run
    RowFailures m_rowFailures;
    quint64 m_rowsRecorded = 0;
    qint64 m_fileRows = 0; // rows the bound file holds
    quint64 m_rowsFailed = 0;
    QDateTime m_lastRow;
    QString m_damagedPath; // the file found damaged while recording, until another is bound
    QString m_unboundWhy;  // why no data file could be bound, while none is
    QString m_suspendedWhy;
    QString m_pauseWhy; // the reason of the last Pause(true)
    std::map<int, QString> m_trouble; // by source
    bool m_linkUp = false;
    std::array<bool, MaxChannel + 1> m_channelCurrent{};
    QDateTime m_linkSince;
    QList<EventLine> m_events;
    Forwarder* m_forward = nullptr;
    QString m_forwardTarget; // the central database's URL; empty: not forwarding
    QString m_forwardStation;
    std::optional<ForwardStatus> m_forwardStatus;
    Publisher* m_publisher;
};
