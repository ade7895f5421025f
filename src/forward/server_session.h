#pragma once
// One connection to the central database for the forwarder: connecting without blocking for long,
// the central tables made or brought up to date, what the server holds of a station's file, and
// batches sent by COPY, each one transaction. Every failure returns false with the server's (or
// libpq's) own text, passwords starred out; the caller then closes the session and retries later.
#include <QByteArray>
#include <QString>
#include <functional>
#include <mutex>
#include <optional>

#include <libpq-fe.h>

// Lets another thread break off a connection that is waiting on the network: shutting the socket
// down ends any blocked read or write at once, without a round trip to a server that may be gone.
class Interrupter {
  public:
    void Attach(PGconn* conn)
    {
        std::lock_guard lock(m_mutex);
        m_conn = conn;
        if (m_interrupted)
            ShutDown();
    }
    void Detach()
    {
        std::lock_guard lock(m_mutex);
        m_conn = nullptr;
    }
    void Interrupt()
    {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
        ShutDown();
    }
    bool Interrupted() const
    {
        std::lock_guard lock(m_mutex);
        return m_interrupted;
    }

  private:
    void ShutDown();

    mutable std::mutex m_mutex;
    PGconn* m_conn = nullptr;
    bool m_interrupted = false;
};

// The central tables, as COPY fills them; each batch of one goes through its own temporary table
// when some of its rows are there already.
struct CentralTable {
    const char* name;
    const char* columns;
    const char* temporary;
};
inline const CentralTable Readings{
    "readings", "station, data_file, row_id, recorded_at, recorded_utc, channel, value, unit",
    "forward_readings"};
inline const CentralTable Events{"events", "station, data_file, event_id, utc, kind, channel, value, text",
                                 "forward_events"};

class ServerSession {
  public:
    explicit ServerSession(Interrupter* interrupter) : m_interrupter(interrupter) {}
    ~ServerSession() { Close(); }
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    bool IsOpen() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

    void Close();

    // Connects without blocking for longer than the timeout, and gives up as soon as stop() says so.
    bool Connect(const QString& url, int timeoutMs, const std::function<bool()>& stop, QString* error);

    // The tables and the index, when missing, and the column recorded_utc of a readings table made
    // before it existed. Only what is missing is asked for, so that a login that may write but not
    // alter tables works once the owner has brought them up to date. Two stations starting together
    // must not both try: an advisory lock makes the second wait for the first.
    bool EnsureTable(QString* error);

    // The highest row id held for the station and file (0: none), when that row was recorded
    // (YYYY-MM-DD HH:MM:SS, empty when unknown) and its instant (none when unknown).
    bool HighestRow(const QString& station, const QString& dataFile, qint64* rowId, QByteArray* recordedAt,
                    std::optional<qint64>* recordedUtc, QString* error);

    // The highest event id held for the station and file (0: none).
    bool HighestEvent(const QString& station, const QString& dataFile, qint64* eventId, QString* error);

    // One batch, one transaction: BeginBatch, PutBatch for each piece as it is read (the server
    // works on one piece while the next is read), FinishBatch with all of them. Straight COPY into
    // the table is the fast way; when some of the rows are there already (another forwarder of the
    // same file got in first), the batch goes again through a temporary table and only the missing
    // rows are added.
    bool BeginBatch(const CentralTable& table, QString* error) { return BeginCopy(table, false, error); }
    bool PutBatch(const QByteArray& lines, QString* error);
    bool FinishBatch(const CentralTable& table, const QByteArray& lines, QString* error);
    void AbandonBatch();

  private:
    static bool Fail(QString* error, const QString& text);

    void WaitForSocket(bool forReading, int timeoutMs);

    bool Command(const char* sql, QString* error);

    void Rollback();

    // BEGIN and COPY into the table, or into a temporary one for the batch.
    bool BeginCopy(const CentralTable& table, bool throughTemporary, QString* error);

    // Ends the COPY; *sqlState gets its SQLSTATE when the server refused the rows.
    bool EndCopy(QString* sqlState, QString* error);

    Interrupter* m_interrupter;
    PGconn* m_conn = nullptr;
    bool m_tableChecked = false;
};
