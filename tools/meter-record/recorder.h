#pragma once
// The unattended recorder: the program's serial link, receiver and scan cycle, ticked every 200 ms
// by a timer of its own, with the Reconnect recovery (no question box) and no displays (recording
// never pauses). Every line it prints goes through Say (standard output, with a timestamp).
//
// Start binds the data file (created when missing), prints the start line and opens the port.
// The data file's rows count towards the row limit; a full file ends recording with exit code 3,
// or with rotate goes on in the next numbered file. Stop prints the closing line and lets go of
// the port and the data file (and its lock).
// With a forwarding URL the rows of the file being recorded are forwarded as they are written, the
// rows of a file left full that the server lacks first; each change of the forwarding state is one
// line.
#include "acquisition/frame_receiver.h"
#include "acquisition/scan_cycle.h"
#include "acquisition/serial_link.h"
#include "datafile/data_file.h"
#include "forward/forwarder.h"
#include "record_options.h"
#include "record_publishing.h"

#include <QObject>
#include <QTimer>
#include <functional>

class QtSerialControl;

namespace meterrecord {

// One line on standard output (or standard error), "yyyy-MM-dd HH:mm:ss text", flushed at once.
void Say(const QString& text);
void Complain(const QString& text);

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

    SerialLink& Link() { return m_link; }
    FrameReceiver& Receiver() { return m_receiver; }
    const DataFile& Data() const { return m_data; }
    RecordingEvents& Events() { return m_scan.Events; }
    const Forwarder* Forwarding() const { return m_forward; }
    const Publisher* Publishing() const { return m_publish; }

    // Runs at the end of every scan tick, on the recording thread, with what the tick did.
    std::function<void(ScanCycle::Tick)> TickDone;

  signals:
    // Recording ended by itself (the data file is full and not rotated, or damaged): the exit code.
    void finished(int exitCode);

  private:
    void Tick();
    bool UseFile(const QString& name, int channelsIfMissing, QString* error);
    bool IsFull() const;
    // Rotates until a data file with room is bound; false (and a line) when that fails.
    bool MoveOnFromFullFile();
    void HandleFull();
    void ReportLink(SerialLink::Event event, const QString& detail);
    QString RowText(const DataRow& row) const;
    void StartForwarding(const QString& dataFile);
    void ReportForwarding(const ForwardStatus& status);

    RecordOptions m_options;
    QtSerialControl* m_port;
    FrameReceiver m_receiver;
    SerialLink m_link;
    DataFile m_data;
    ScanCycle m_scan{m_data};
    QTimer m_timer;
    qint64 m_rowsThisRun = 0;
    QString m_lastFailure;
    qint64 m_failedRows = 0; // rows not recorded since the last one that was
    bool m_running = false;
    Forwarder* m_forward = nullptr;
    Publisher* m_publish = nullptr; // --mqtt
    int m_forwardPhase = -1; // the state last reported, see ReportForwarding
};

} // namespace meterrecord
