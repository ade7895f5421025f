#pragma once
// The unattended recorder: a recording station with the meter's source on the Reconnect recovery
// (no question box) and no displays (recording never pauses). Every line it prints goes through
// Say (standard output, with a timestamp).
//
// Start binds the data file (created when missing), gives every source its channels (exit code 2
// with one line when they do not fit the file), prints the start line and opens the devices.
// The data file's rows count towards the row limit; a full file ends recording with exit code 3,
// or with rotate goes on in the next numbered file. Stop prints the closing line and lets go of
// the port and the data file (and its lock).
// With a forwarding URL the rows of the file being recorded are forwarded as they are written, the
// rows of a file left full that the server lacks first; each change of the forwarding state is one
// line.
#include "record_options.h"
#include "station/recording_station.h"

#include <QObject>

class MeterSource;

namespace meterrecord {

// One line on standard output (or standard error), "yyyy-MM-dd HH:mm:ss text", flushed at once.
void Say(const QString& text);
void Complain(const QString& text);

// meter-record's policy over its recording station: the options, the log lines, rotating or
// exit 3 when the data file is full, exit 1 when it is damaged. The station does the recording.
class Recorder : public QObject {
    Q_OBJECT
  public:
    explicit Recorder(const RecordOptions& options, QObject* parent = nullptr);
    ~Recorder() override;

    // -1 when recording runs; otherwise the exit code (1: the data file cannot be used, 3: full),
    // after a line saying why. A row that cannot be written (disk full, file locked) is retried
    // at the next scan, with one line when rows start failing and one when they go in again; a
    // damaged data file ends recording with finished(1).
    int Start();
    void Stop(const QString& why);

    RecordingStation& Station() { return m_station; }
    const RecordingStation& Station() const { return m_station; }
    // The instrument's source; null when no --source names it.
    MeterSource* Meter() { return m_meter; }

  signals:
    // Recording ended by itself (the data file is full and not rotated, or damaged): the exit code.
    void finished(int exitCode);

  private:
    void TickDone(ScanCycle::Tick tick);
    void EventLogged(const LoggedEvent& event);
    bool UseFile(const QString& name, int channelsIfMissing, QString* error);
    bool IsFull() const;
    // Rotates until a data file with room is bound; false (and a line) when that fails.
    bool MoveOnFromFullFile();
    void HandleFull();
    void Damaged(const QString& path, const QString& damage);
    // The port cannot be opened because the service manager's device rules refuse it: exit 4.
    void RefusedByServiceManager();
    QString RowText(const DataRow& row) const;
    void ReportForwarding(const ForwardStatus& status);

    RecordOptions m_options;
    RecordingStation m_station;
    MeterSource* m_meter = nullptr;
    QList<SourceChoice> m_choices;
    QString m_lastFailure;
    int m_failing = 0; // rows not recorded since the last one that was, as last seen
    bool m_running = false;
    bool m_ended = false; // finished was emitted
    int m_forwardPhase = -1; // the state last reported, see ReportForwarding
};

} // namespace meterrecord
