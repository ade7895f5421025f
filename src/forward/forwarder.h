#pragma once
// Forwarding of recorded rows and events to a central PostgreSQL database. The local data file
// stays the record; the server's tables are a copy that may fall behind and catches up:
//
//   readings(station text, data_file text, row_id bigint, recorded_at timestamp, channel smallint,
//            value double precision, unit text, recorded_utc timestamptz,
//            primary key (station, data_file, row_id, channel))
//   events(station text, data_file text, event_id bigint, utc timestamptz, kind text, channel smallint,
//          value double precision, text text, primary key (station, data_file, event_id))
//
// one row per channel of every recorded row, data_file being the file's name without its folder and
// row_id the row's id in that file; recorded_at is the station's wall clock as recorded, recorded_utc
// the same moment read in the time zone of the process that forwards (see RecordedUtc). One row of
// events per entry of the file's event log. The tables and an index by station and time are created
// when missing, and a readings table made before recorded_utc gains the column (its older rows keep
// NULL there). Each pass asks the server for the highest row_id it holds for this station and file
// and sends the local rows above it in id order, in batches, each batch one transaction, then the
// events above the highest event_id the same way: every row and event arrives exactly once whatever
// fails when. A file whose row at that id was recorded at another
// time than the server's is another file under the same name: it is refused (DataFileError).
//
// Used by the program (settings group "Forward", keys "URL" and "Station"), by meter-record
// (--forward URL --station NAME) and by meter-forward (a one-shot pass over a file recorded earlier).
// The URL is a PostgreSQL connection URI (or key=value string); passwords come from it, from
// PGPASSWORD or from ~/.pgpass as with every PostgreSQL client.
#include "forward/connection_url.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Where a data file's rows go.
struct ForwardTarget {
    QString dataFile; // path of the local data file
    QString url;      // PostgreSQL connection URI
    QString station;  // name of this recording station; empty means DefaultStation()
};

// The host name, the station name used when none is given.
QString DefaultStation();

struct ForwardStatus {
    enum class State {
        Stopped,       // not started, or stopped
        Connecting,    // the first attempt is under way
        Sending,       // connected, rows going in
        UpToDate,      // the server held every local row at the end of the last pass
        Unreachable,   // server down, login refused or connection lost: retrying with back-off
        DataFileError, // the data file cannot be read, or the server holds rows of another file
                       // of its name: retrying with back-off
    };
    State state = State::Stopped;
    QDateTime unreachableSince; // start of the current outage (host clock); null while reachable
    qint64 waitingRows = 0;     // local rows the server does not hold yet, as last counted
    qint64 sentRows = 0;        // rows this forwarder has sent since it started
    QString message;            // the last failure's own text (libpq's or the data file's)
};
Q_DECLARE_METATYPE(ForwardStatus)

// One line for a log or a tooltip: state, since when unreachable, rows waiting, the reason. The
// brief form, for a status bar panel ("DB down since 10:32:05, 21 rows wait"), leaves out the
// reason and the date of the outage.
QString ForwardStatusText(const ForwardStatus& status, bool brief = false);

// Tuning; the defaults are what the program and the tools use.
struct ForwardOptions {
    int batchRows = 4096;    // recorded rows per transaction
    int firstRetryMs = 1000; // first wait after a failure; doubles up to maxRetryMs
    int maxRetryMs = 30000;
    int pollMs = 10000; // looks for new local rows this often even without RowRecorded()
    int connectTimeoutMs = 10000;
};

// The result of one pass.
struct ForwardPass {
    enum class Outcome { Complete, Unreachable, DataFileError, Stopped };
    Outcome outcome = Outcome::Complete;
    qint64 sentRows = 0;    // rows committed on the server in this pass
    qint64 sentEvents = 0;  // events committed on the server in this pass
    qint64 waitingRows = 0; // local rows the server still lacks at the end
    qint64 serverRowId = 0; // highest row_id the server holds for the file (0: none), as last known
    QString message;        // why the pass ended early; for a complete pass, why no event was sent
};

// One pass in the calling thread: connect, create the table when missing, send every row the
// server lacks, disconnect. progress(done, total) follows each committed batch; stop, when given,
// is polled and ends the pass early (its batch rolls back). Used by meter-forward and the
// Forwarder's thread.
ForwardPass ForwardOnce(const ForwardTarget& target, const ForwardOptions& options = {},
                        const std::function<void(qint64 done, qint64 total)>& progress = {},
                        const std::function<bool()>& stop = {});

// Store and forward in its own thread: recording never waits for the server. Create it in the
// thread that records (the program's window thread, meter-record's main thread); its signal and
// Status() belong to that thread.
class Forwarder : public QObject {
    Q_OBJECT
  public:
    explicit Forwarder(const ForwardOptions& options = {}, QObject* parent = nullptr);
    ~Forwarder() override; // stops and waits for the thread (a pass in flight is rolled back)
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // Starts (or restarts, for another data file or server) forwarding the rows of target.dataFile.
    // When only the data file changes (a new file, a rotation), the rows of the earlier files that
    // the server still lacks are sent first. False with *error, and nothing changed, for an
    // unparsable URL or an empty data file path. An unreachable server or a missing file is no
    // error here: the status says so and it retries.
    bool Start(const ForwardTarget& target, QString* error = nullptr);
    void Stop();
    bool IsRunning() const;
    ForwardTarget Target() const;

    // Tells the forwarder that a row was appended to the data file. Cheap; never blocks.
    void RowRecorded();

    ForwardStatus Status() const;

  signals:
    // On every change of state, of the waiting count or of the sent count.
    void StatusChanged(const ForwardStatus& status);

  private:
    class Worker;
    void publish(const ForwardStatus& status);

    ForwardOptions m_options;
    ForwardTarget m_target;
    QStringList m_earlier; // files whose rows may not all be on the server yet, oldest first
    ForwardStatus m_status;
    quint64 m_generation = 0;
    std::unique_ptr<Worker> m_worker;
};
