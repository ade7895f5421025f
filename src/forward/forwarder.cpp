#include "forward/forwarder.h"

#include "datafile/data_file.h"
#include "forward/copy_text.h"
#include "forward/local_events.h"
#include "forward/recorded_utc.h"
#include "platform/host_services.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

namespace {

const QString RecordTable = QStringLiteral("DataRecord");
// Rows read from the data file under one open: short, so that the recorder never waits long
// for its write lock.
constexpr int ChunkRows = 512;

QString OneLine(const QString& text)
{
    return text.simplified();
}

QString Shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString PgError(PGconn* conn)
{
    return OneLine(QString::fromUtf8(PQerrorMessage(conn)));
}

// ---- the local data file, read-only and opened only for one short read --------------------------

QString NewConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("varnik.forward.%1").arg(next++);
}

QString EngineText(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// A read-only SQLite connection for the lifetime of one read; its queries must end before it does.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const QString& path) : m_name(NewConnectionName())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open())
            m_error = EngineText(db.lastError());
    }
    ~ReadOnlyFile()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return m_error.isEmpty(); }
    QString Error() const { return m_error; }
    QSqlDatabase Database() const { return QSqlDatabase::database(m_name, false); }

  private:
    QString m_name;
    QString m_error;
};

QDate RowDate(const QVariant& date)
{
    return QDate::fromString(date.toString(), Qt::ISODate);
}

QTime RowTime(const QVariant& time)
{
    return QTime::fromString(time.toString(), QStringLiteral("HH:mm:ss"));
}

class LocalRows {
  public:
    LocalRows(const QString& path, const QString& station)
        : m_path(path), m_prefix(Prefix(station, QFileInfo(path).fileName()))
    {
    }

    // Reads the channel count once; false and *error when the file is missing or no data file.
    bool Open(QString* error)
    {
        if (m_channels > 0)
            return true;
        // Probed as every reader of a data file does: the half row of a recorder killed while
        // writing is rolled back first.
        const int channels = DataFileChannels(m_path, error);
        if (channels < 0)
            return false;
        const QStringList expected = DataRecordColumns(channels);
        m_channels = channels;
        m_select = QStringLiteral("SELECT rowid, \"%1\" FROM %2 WHERE rowid > ? ORDER BY rowid LIMIT ?")
                       .arg(expected.join(QStringLiteral("\", \"")), RecordTable);
        return true;
    }

    // When row rowId was recorded, as the server keeps it (empty when unknown); *exists false when
    // the file has no such row.
    bool RecordedAt(qint64 rowId, QByteArray* recordedAt, bool* exists, QString* error)
    {
        return Select(QStringLiteral("SELECT \"date\", \"time\" FROM %1 WHERE rowid = ?").arg(RecordTable),
                      {rowId}, error, [&](QSqlQuery& query) {
                          *exists = query.next();
                          recordedAt->clear();
                          if (*exists)
                              CopyText::AppendLocalTimestamp(*recordedAt, RowDate(query.value(0)),
                                                             RowTime(query.value(1)));
                          if (*recordedAt == "\\N")
                              recordedAt->clear();
                      });
    }

    // The instant of the row before the next one read, when known.
    void Follow(std::optional<qint64> utc) { m_utc.Follow(utc); }

    bool CountAbove(qint64 rowId, qint64* count, QString* error)
    {
        return Select(QStringLiteral("SELECT count(*) FROM %1 WHERE rowid > ?").arg(RecordTable), {rowId},
                      error,
                      [&](QSqlQuery& query) { *count = query.next() ? query.value(0).toLongLong() : 0; });
    }

    // Appends the COPY lines of up to `limit` rows with ids above `after` under one short open of
    // the file; *last is the last id read (after, when none), *rows how many.
    bool ReadChunk(qint64 after, int limit, QByteArray* out, qint64* last, int* rows, QString* error)
    {
        *rows = 0;
        *last = after;
        if (!Open(error))
            return false;
        return Select(m_select, {after, limit}, error, [&](QSqlQuery& query) {
            QByteArray head;
            while (query.next())
                AppendRow(query, head, out, last, rows);
        });
    }

  private:
    // The COPY lines of one row of the result, one a channel.
    void AppendRow(const QSqlQuery& query, QByteArray& head, QByteArray* out, qint64* last, int* rows)
    {
        const qint64 id = query.value(0).toLongLong();
        head = m_prefix;
        CopyText::AppendNumber(head, id);
        head.append('\t');
        const QDate date = RowDate(query.value(1));
        const QTime time = RowTime(query.value(2));
        CopyText::AppendLocalTimestamp(head, date, time);
        head.append('\t');
        CopyText::AppendInstant(head, m_utc.Next(date, time));
        head.append('\t');
        for (int channel = 1; channel <= m_channels; ++channel) {
            out->append(head);
            CopyText::AppendNumber(*out, channel);
            out->append('\t');
            CopyText::AppendReading(*out, query.value(1 + 2 * channel));
            out->append('\t');
            const QVariant unit = query.value(2 + 2 * channel);
            if (unit.isNull())
                CopyText::AppendNull(*out);
            else
                CopyText::AppendEscaped(*out, unit.toString());
            out->append('\n');
        }
        *last = id;
        ++*rows;
    }

    static QByteArray Prefix(const QString& station, const QString& fileName)
    {
        QByteArray prefix;
        CopyText::AppendEscaped(prefix, station);
        prefix.append('\t');
        CopyText::AppendEscaped(prefix, fileName);
        prefix.append('\t');
        return prefix;
    }

    static bool Fail(QString* error, const QString& text)
    {
        if (error)
            *error = text;
        return false;
    }

    // One statement under one short open of the file; read() steps through its result.
    bool Select(const QString& sql, const QVariantList& bound, QString* error,
                const std::function<void(QSqlQuery&)>& read)
    {
        if (!Open(error))
            return false;
        ReadOnlyFile file(m_path);
        if (!file.IsOpen())
            return Fail(error, file.Error());
        QSqlQuery query(file.Database());
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            return Fail(error, EngineText(query.lastError()));
        for (const QVariant& value : bound)
            query.addBindValue(value);
        if (!query.exec())
            return Fail(error, EngineText(query.lastError()));
        read(query);
        if (query.lastError().isValid())
            return Fail(error, EngineText(query.lastError()));
        return true;
    }

    QString m_path;
    QByteArray m_prefix;
    RecordedUtc m_utc;
    int m_channels = 0;
    QString m_select;
};

// ---- the server ---------------------------------------------------------------------------------

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
    void ShutDown()
    {
        if (!m_conn || PQsocket(m_conn) < 0)
            return;
#ifdef _WIN32
        ::shutdown(PQsocket(m_conn), SD_BOTH);
#else
        ::shutdown(PQsocket(m_conn), SHUT_RDWR);
#endif
    }

    mutable std::mutex m_mutex;
    PGconn* m_conn = nullptr;
    bool m_interrupted = false;
};

class PgResult {
  public:
    explicit PgResult(PGresult* result) : m_result(result) {}
    ~PgResult() { PQclear(m_result); }
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    PGresult* get() const { return m_result; }
    ExecStatusType Status() const { return PQresultStatus(m_result); }
    QString SqlState() const
    {
        const char* state = m_result ? PQresultErrorField(m_result, PG_DIAG_SQLSTATE) : nullptr;
        return state ? QString::fromLatin1(state) : QString();
    }

  private:
    PGresult* m_result;
};

void IgnoreNotice(void*, const char*)
{
}

// The central tables, as COPY fills them; each batch of one goes through its own temporary table
// when some of its rows are there already.
struct CentralTable {
    const char* name;
    const char* columns;
    const char* temporary;
};
const CentralTable Readings{"readings", "station, data_file, row_id, recorded_at, recorded_utc, channel, value, unit",
                            "forward_readings"};
const CentralTable Events{"events", "station, data_file, event_id, utc, kind, channel, value, text",
                          "forward_events"};

class Server {
  public:
    explicit Server(Interrupter* interrupter) : m_interrupter(interrupter) {}
    ~Server() { Close(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool IsOpen() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

    void Close()
    {
        if (!m_conn)
            return;
        if (m_interrupter)
            m_interrupter->Detach();
        PQfinish(std::exchange(m_conn, nullptr));
        m_tableChecked = false;
    }

    // Connects without blocking for longer than the timeout, and gives up as soon as stop() says so.
    bool Connect(const QString& url, int timeoutMs, const std::function<bool()>& stop, QString* error)
    {
        Close();
        const QByteArray target = url.toUtf8();
        // Keywords before "dbname" are defaults the URL may override; the encoding after it is ours.
        const char* keys[] = {"fallback_application_name",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "dbname",
                              "client_encoding",
                              nullptr};
        const char* values[] = {"varnik-forward", "20", "5", "3", target.constData(), "UTF8", nullptr};
        m_conn = PQconnectStartParams(keys, values, 1);
        if (!m_conn)
            return Fail(error, QStringLiteral("Out of memory while connecting."));
        PQsetNoticeProcessor(m_conn, IgnoreNotice, nullptr);
        if (m_interrupter)
            m_interrupter->Attach(m_conn);
        QElapsedTimer clock;
        clock.start();
        PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
        while (PQstatus(m_conn) != CONNECTION_BAD) {
            if (polled == PGRES_POLLING_OK)
                return true;
            if (polled == PGRES_POLLING_FAILED)
                break;
            if ((stop && stop()) || (m_interrupter && m_interrupter->Interrupted())) {
                Close();
                return Fail(error, QStringLiteral("Stopped."));
            }
            if (clock.elapsed() > timeoutMs) {
                Close();
                return Fail(error,
                            QStringLiteral("No answer from the server within %1 s.").arg(timeoutMs / 1000));
            }
            WaitForSocket(polled == PGRES_POLLING_READING, 100);
            polled = PQconnectPoll(m_conn);
        }
        const QString text = WithoutPassword(PgError(m_conn), url);
        Close();
        return Fail(error, text.isEmpty() ? QStringLiteral("The connection failed.") : text);
    }

    // The tables and the index, when missing, and the column recorded_utc of a readings table made
    // before it existed. Only what is missing is asked for, so that a login that may write but not
    // alter tables works once the owner has brought them up to date. Two stations starting together
    // must not both try: an advisory lock makes the second wait for the first.
    bool EnsureTable(QString* error)
    {
        if (m_tableChecked)
            return true;
        {
            PgResult exists(PQexec(m_conn, "SELECT to_regclass('readings') IS NOT NULL AND EXISTS (SELECT 1"
                                           " FROM pg_attribute WHERE attrelid = to_regclass('readings')"
                                           " AND attname = 'recorded_utc' AND NOT attisdropped)"
                                           " AND to_regclass('events') IS NOT NULL"));
            if (exists.Status() != PGRES_TUPLES_OK)
                return Fail(error, PgError(m_conn));
            if (QByteArray(PQgetvalue(exists.get(), 0, 0)) == "t")
                return m_tableChecked = true;
        }
        if (!Command("BEGIN; SELECT pg_advisory_xact_lock(7305640031);"
                     "CREATE TABLE IF NOT EXISTS readings (station text, data_file text, row_id bigint,"
                     " recorded_at timestamp, channel smallint, value double precision, unit text,"
                     " recorded_utc timestamptz, PRIMARY KEY (station, data_file, row_id, channel));"
                     "ALTER TABLE readings ADD COLUMN IF NOT EXISTS recorded_utc timestamptz;"
                     "CREATE INDEX IF NOT EXISTS readings_station_time ON readings (station, recorded_at);"
                     "CREATE TABLE IF NOT EXISTS events (station text, data_file text, event_id bigint,"
                     " utc timestamptz, kind text, channel smallint, value double precision, text text,"
                     " PRIMARY KEY (station, data_file, event_id));"
                     "COMMIT",
                     error)) {
            Rollback();
            return false;
        }
        return m_tableChecked = true;
    }

    // The highest row id held for the station and file (0: none), when that row was recorded
    // (YYYY-MM-DD HH:MM:SS, empty when unknown) and its instant (none when unknown).
    bool HighestRow(const QString& station, const QString& dataFile, qint64* rowId, QByteArray* recordedAt,
                    std::optional<qint64>* recordedUtc, QString* error)
    {
        const QByteArray s = station.toUtf8();
        const QByteArray f = dataFile.toUtf8();
        const char* params[] = {s.constData(), f.constData()};
        PgResult result(PQexecParams(m_conn,
                                     "SELECT row_id, to_char(recorded_at, 'YYYY-MM-DD HH24:MI:SS'),"
                                     " extract(epoch FROM recorded_utc)::bigint FROM readings"
                                     " WHERE station = $1 AND data_file = $2 ORDER BY row_id DESC LIMIT 1",
                                     2, nullptr, params, nullptr, nullptr, 0));
        if (result.Status() != PGRES_TUPLES_OK)
            return Fail(error, PgError(m_conn));
        const bool any = PQntuples(result.get()) > 0;
        *rowId = any ? QByteArray(PQgetvalue(result.get(), 0, 0)).toLongLong() : 0;
        *recordedAt = any ? QByteArray(PQgetvalue(result.get(), 0, 1)) : QByteArray();
        recordedUtc->reset();
        if (any && !PQgetisnull(result.get(), 0, 2))
            *recordedUtc = QByteArray(PQgetvalue(result.get(), 0, 2)).toLongLong();
        return true;
    }

    // The highest event id held for the station and file (0: none).
    bool HighestEvent(const QString& station, const QString& dataFile, qint64* eventId, QString* error)
    {
        const QByteArray s = station.toUtf8();
        const QByteArray f = dataFile.toUtf8();
        const char* params[] = {s.constData(), f.constData()};
        PgResult result(PQexecParams(m_conn,
                                     "SELECT coalesce(max(event_id), 0) FROM events"
                                     " WHERE station = $1 AND data_file = $2",
                                     2, nullptr, params, nullptr, nullptr, 0));
        if (result.Status() != PGRES_TUPLES_OK)
            return Fail(error, PgError(m_conn));
        *eventId = QByteArray(PQgetvalue(result.get(), 0, 0)).toLongLong();
        return true;
    }

    // One batch, one transaction: BeginBatch, PutBatch for each piece as it is read (the server
    // works on one piece while the next is read), FinishBatch with all of them. Straight COPY into
    // the table is the fast way; when some of the rows are there already (another forwarder of the
    // same file got in first), the batch goes again through a temporary table and only the missing
    // rows are added.
    bool BeginBatch(const CentralTable& table, QString* error) { return BeginCopy(table, false, error); }
    bool PutBatch(const QByteArray& lines, QString* error)
    {
        constexpr qsizetype Piece = 1 << 20;
        for (qsizetype at = 0; at < lines.size(); at += Piece) {
            if (PQputCopyData(m_conn, lines.constData() + at, int(std::min(Piece, lines.size() - at))) != 1)
                return Fail(error, PgError(m_conn));
        }
        return true;
    }
    bool FinishBatch(const CentralTable& table, const QByteArray& lines, QString* error)
    {
        QString sqlState;
        if (EndCopy(&sqlState, error) && Command("COMMIT", error))
            return true;
        Rollback();
        if (sqlState != QLatin1String("23505"))
            return false;
        const QByteArray insert = QByteArray("INSERT INTO ") + table.name + " (" + table.columns + ") SELECT " +
                                  table.columns + " FROM " + table.temporary + " ON CONFLICT DO NOTHING; COMMIT";
        if (BeginCopy(table, true, error) && PutBatch(lines, error) && EndCopy(nullptr, error) &&
            Command(insert.constData(), error))
            return true;
        Rollback();
        return false;
    }
    void AbandonBatch()
    {
        if (!IsOpen())
            return;
        if (PQputCopyEnd(m_conn, "the batch was abandoned") == 1)
            while (PGresult* raw = PQgetResult(m_conn))
                PQclear(raw);
        Rollback();
    }

  private:
    static bool Fail(QString* error, const QString& text)
    {
        if (error)
            *error = text;
        return false;
    }

    void WaitForSocket(bool forReading, int timeoutMs)
    {
        const int socket = PQsocket(m_conn);
        if (socket < 0)
            return;
#ifdef _WIN32
        WSAPOLLFD fd{SOCKET(socket), short(forReading ? POLLRDNORM : POLLWRNORM), 0};
        WSAPoll(&fd, 1, timeoutMs);
#else
        pollfd fd{socket, short(forReading ? POLLIN : POLLOUT), 0};
        ::poll(&fd, 1, timeoutMs);
#endif
    }

    bool Command(const char* sql, QString* error)
    {
        PgResult result(PQexec(m_conn, sql));
        if (result.Status() == PGRES_COMMAND_OK || result.Status() == PGRES_TUPLES_OK)
            return true;
        return Fail(error, PgError(m_conn));
    }

    void Rollback()
    {
        if (IsOpen() && PQtransactionStatus(m_conn) != PQTRANS_IDLE)
            PgResult(PQexec(m_conn, "ROLLBACK"));
    }

    // BEGIN and COPY into the table, or into a temporary one for the batch.
    bool BeginCopy(const CentralTable& table, bool throughTemporary, QString* error)
    {
        const QByteArray begin = throughTemporary ? QByteArray("BEGIN; CREATE TEMP TABLE IF NOT EXISTS ") +
                                                        table.temporary + " (LIKE " + table.name +
                                                        ") ON COMMIT DELETE ROWS"
                                                  : QByteArray("BEGIN");
        if (!Command(begin.constData(), error))
            return false;
        const QByteArray copy = QByteArray("COPY ") + (throughTemporary ? table.temporary : table.name) + " (" +
                                table.columns + ") FROM STDIN";
        PgResult started(PQexec(m_conn, copy.constData()));
        if (started.Status() != PGRES_COPY_IN)
            return Fail(error, PgError(m_conn));
        return true;
    }

    // Ends the COPY; *sqlState gets its SQLSTATE when the server refused the rows.
    bool EndCopy(QString* sqlState, QString* error)
    {
        if (PQputCopyEnd(m_conn, nullptr) != 1)
            return Fail(error, PgError(m_conn));
        bool copied = true;
        while (PGresult* raw = PQgetResult(m_conn)) {
            PgResult result(raw);
            if (result.Status() != PGRES_COMMAND_OK) {
                copied = false;
                if (sqlState)
                    *sqlState = result.SqlState();
                Fail(error, OneLine(QString::fromUtf8(PQresultErrorMessage(raw))));
            }
        }
        return copied;
    }

    Interrupter* m_interrupter;
    PGconn* m_conn = nullptr;
    bool m_tableChecked = false;
};

// ---- one pass -------------------------------------------------------------------------------------

// What a pass knows of one file across passes: the reader of the file, and the highest row id the
// server was last seen to hold for it (-1: not yet known).
struct FileContext {
    explicit FileContext(const ForwardTarget& t)
        : target(t), rows(t.dataFile, t.station), events(t.dataFile, t.station, QFileInfo(t.dataFile).fileName())
    {
    }
    ForwardTarget target;
    LocalRows rows;
    LocalEvents events;
    qint64 serverRowId = -1;
};

ForwardPass RunPass(Server& server, FileContext& context, const ForwardOptions& options,
                    const std::function<void(qint64, qint64)>& progress, const std::function<bool()>& stop)
{
    ForwardPass pass;
    auto waiting = [&] {
        qint64 count = 0;
        QString ignored;
        if (context.rows.CountAbove(std::max<qint64>(context.serverRowId, 0), &count, &ignored))
            pass.waitingRows = count;
    };
    auto end = [&](ForwardPass::Outcome outcome, const QString& message) {
        pass.outcome = (stop && stop()) ? ForwardPass::Outcome::Stopped : outcome;
        pass.message = message;
        pass.serverRowId = std::max<qint64>(context.serverRowId, 0);
        if (outcome == ForwardPass::Outcome::Unreachable)
            server.Close();
        if (outcome != ForwardPass::Outcome::Complete && outcome != ForwardPass::Outcome::Stopped)
            waiting();
        return pass;
    };

    QString error;
    if (!context.rows.Open(&error))
        return end(ForwardPass::Outcome::DataFileError, error);
    const QString fileName = QFileInfo(context.target.dataFile).fileName();
    // A connection kept from an earlier pass may have been closed by the server meanwhile: one
    // fresh attempt before the outage counts.
    const bool reused = server.IsOpen();
    for (int attempt = reused ? 0 : 1; attempt < 2; ++attempt) {
        if (!server.IsOpen() && !server.Connect(context.target.url, options.connectTimeoutMs, stop, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        qint64 rowId = 0;
        QByteArray serverTime;
        std::optional<qint64> serverUtc;
        if (server.EnsureTable(&error) &&
            server.HighestRow(context.target.station, fileName, &rowId, &serverTime, &serverUtc, &error)) {
            // The server's rows must be this file's: a new file under an old name (or a second PC
            // under the same station name) would otherwise have its first rows skipped and the
            // rest mixed with the other file's.
            QByteArray localTime;
            bool exists = false;
            if (rowId > 0 && !context.rows.RecordedAt(rowId, &localTime, &exists, &error))
                return end(ForwardPass::Outcome::DataFileError, error);
            const bool another = rowId > 0 && (!exists || localTime != serverTime);
            context.serverRowId = another ? -1 : rowId; // none of the server's rows is this file's
            context.rows.Follow(serverUtc);
            if (another)
                return end(
                    ForwardPass::Outcome::DataFileError,
                    QStringLiteral("The central database holds rows of another %1 for station %2 (its row "
                                   "%3 was recorded at %4; here %5). Give this file another name, or this "
                                   "station another name.")
                        .arg(fileName, context.target.station)
                        .arg(rowId)
                        .arg(QString::fromLatin1(serverTime.isEmpty() ? "an unknown time" : serverTime),
                             exists ? QString::fromLatin1(localTime.isEmpty() ? "at an unknown time"
                                                                              : "at " + localTime)
                                    : QStringLiteral("the file has no such row")));
            break;
        }
        server.Close();
        if (attempt == 1)
            return end(ForwardPass::Outcome::Unreachable, error);
    }

    qint64 total = 0;
    if (!context.rows.CountAbove(context.serverRowId, &total, &error))
        return end(ForwardPass::Outcome::DataFileError, error);
    if (progress)
        progress(0, total);
    QByteArray lines;
    QByteArray chunk;
    const int batchRows = std::max(1, options.batchRows);
    for (;;) {
        if (stop && stop())
            return end(ForwardPass::Outcome::Stopped, QString());
        // The first piece is read before the transaction starts, so that a pass with nothing to
        // send costs the server nothing.
        qint64 last = context.serverRowId;
        int rows = 0;
        int got = 0;
        lines.clear();
        chunk.clear();
        int asked = std::min(ChunkRows, batchRows);
        if (!context.rows.ReadChunk(last, asked, &chunk, &last, &got, &error))
            return end(ForwardPass::Outcome::DataFileError, error);
        if (got == 0)
            break;
        if (!server.BeginBatch(Readings, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        for (;;) {
            if (!server.PutBatch(chunk, &error))
                return end(ForwardPass::Outcome::Unreachable, error);
            lines.append(chunk);
            rows += got;
            if (got < asked || rows >= batchRows) // the file has no more, or the batch is full
                break;
            asked = std::min(ChunkRows, batchRows - rows);
            chunk.clear();
            if (!context.rows.ReadChunk(last, asked, &chunk, &last, &got, &error)) {
                server.AbandonBatch();
                return end(ForwardPass::Outcome::DataFileError, error);
            }
            if (got == 0)
                break;
        }
        if (!server.FinishBatch(Readings, lines, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        context.serverRowId = last;
        pass.sentRows += rows;
        total = std::max(total, pass.sentRows);
        if (progress)
            progress(pass.sentRows, total);
    }

    // The events after the rows, the same way: those above the highest id the server holds.
    qint64 eventId = 0;
    if (!server.HighestEvent(context.target.station, fileName, &eventId, &error))
        return end(ForwardPass::Outcome::Unreachable, error);
    for (;;) {
        if (stop && stop())
            return end(ForwardPass::Outcome::Stopped, QString());
        lines.clear();
        qint64 last = eventId;
        int got = 0;
        // An event log that cannot be read holds back no row: the rows are all there.
        if (!context.events.ReadAbove(eventId, batchRows, &lines, &last, &got, &error))
            return end(ForwardPass::Outcome::Complete, error);
        if (got == 0)
            break;
        if (!server.BeginBatch(Events, &error) || !server.PutBatch(lines, &error) ||
            !server.FinishBatch(Events, lines, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        eventId = last;
        pass.sentEvents += got;
    }
    return end(ForwardPass::Outcome::Complete, QString());
}

ForwardTarget Completed(ForwardTarget target)
{
    if (target.station.trimmed().isEmpty())
        target.station = DefaultStation();
    return target;
}

} // namespace

QString DefaultStation()
{
    return QSysInfo::machineHostName();
}

QString ForwardStatusText(const ForwardStatus& status, bool brief)
{
    const QString waiting = status.waitingRows == 1 ? QStringLiteral("1 row waits")
                                                    : QStringLiteral("%1 rows wait").arg(status.waitingRows);
    if (brief) {
        switch (status.state) {
        case ForwardStatus::State::Stopped:
            return QStringLiteral("DB: off");
        case ForwardStatus::State::Connecting:
            return QStringLiteral("DB: connecting");
        case ForwardStatus::State::Sending:
            return QStringLiteral("DB: sending, %1").arg(waiting);
        case ForwardStatus::State::UpToDate:
            return QStringLiteral("DB: up to date");
        case ForwardStatus::State::Unreachable:
            return QStringLiteral("DB down since %1, %2")
                .arg(status.unreachableSince.toString(QStringLiteral("HH:mm:ss")), waiting);
        case ForwardStatus::State::DataFileError:
            return QStringLiteral("DB: data file refused, %1").arg(waiting);
        }
        return QString();
    }
    const QString reason = status.message.isEmpty() ? QString() : QStringLiteral(": ") + status.message;
    switch (status.state) {
    case ForwardStatus::State::Stopped:
        return QStringLiteral("Central database: off");
    case ForwardStatus::State::Connecting:
        return QStringLiteral("Central database: connecting, %1").arg(waiting);
    case ForwardStatus::State::Sending:
        return QStringLiteral("Central database: sending, %1").arg(waiting);
    case ForwardStatus::State::UpToDate:
        return QStringLiteral("Central database: up to date%1").arg(reason);
    case ForwardStatus::State::Unreachable:
        return QStringLiteral("Central database unreachable since %1, %2%3")
            .arg(status.unreachableSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), waiting, reason);
    case ForwardStatus::State::DataFileError:
        return QStringLiteral("Central database: the data file is not forwarded, %1%2").arg(waiting, reason);
    }
    return QString();
}

ForwardPass ForwardOnce(const ForwardTarget& target, const ForwardOptions& options,
                        const std::function<void(qint64, qint64)>& progress,
                        const std::function<bool()>& stop)
{
    QString error;
    if (!CheckForwardUrl(target.url, &error))
        return {ForwardPass::Outcome::Unreachable, 0, 0, 0, 0, error};
    Server server(nullptr);
    FileContext file(Completed(target));
    return RunPass(server, file, options, progress, stop);
}

// ---- the thread -----------------------------------------------------------------------------------

class Forwarder::Worker {
  public:
    Worker(Forwarder* owner, const ForwardTarget& target, const QStringList& earlier,
           const ForwardOptions& options)
        : m_owner(owner), m_generation(owner->m_generation), m_options(options), m_server(&m_interrupter),
          m_context(target)
    {
        for (const QString& file : earlier) {
            ForwardTarget before = target;
            before.dataFile = file;
            m_earlier.push_back(std::make_unique<FileContext>(before));
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~Worker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_interrupter.Interrupt();
        m_wake.notify_all();
        m_thread.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void RowRecorded()
    {
        {
            std::lock_guard lock(m_mutex);
            m_rowPending = true;
        }
        m_wake.notify_all();
    }

  private:
    bool Stopping()
    {
        std::lock_guard lock(m_mutex);
        return m_stop;
    }

    // Sleeps until the delay is over or the thread is stopped; new rows cut it short when asked.
    void Wait(int ms, bool wakeOnRow)
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(ms),
                        [&] { return m_stop || (wakeOnRow && m_rowPending); });
    }

    // The rows of an earlier file are all on the server, or the file is gone.
    void PostFinished(const QString& file)
    {
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_owner, generation = m_generation, file] {
                if (owner->m_generation == generation)
                    owner->m_earlier.removeAll(file);
            },
            Qt::QueuedConnection);
    }

    // Earlier files first, in order; their rows went before the current file's. A pass over the
    // current file runs only when they are done.
    ForwardPass RunPasses(const std::function<void(qint64, qint64)>& progress)
    {
        const auto stop = [this] { return Stopping(); };
        while (!m_earlier.empty()) {
            FileContext& earlier = *m_earlier.front();
            ForwardPass pass = RunPass(m_server, earlier, m_options, progress, stop);
            // An earlier file that cannot be read (gone, or not the server's) is left to meter-forward
            // rather than holding back the current one.
            if (pass.outcome != ForwardPass::Outcome::Complete &&
                pass.outcome != ForwardPass::Outcome::DataFileError) {
                qint64 current = 0;
                QString ignored;
                if (m_context.rows.CountAbove(std::max<qint64>(m_context.serverRowId, 0), &current, &ignored))
                    pass.waitingRows += current;
                return pass;
            }
            PostFinished(earlier.target.dataFile);
            m_earlier.pop_front();
        }
        return RunPass(m_server, m_context, m_options, progress, stop);
    }

    void Post(ForwardStatus status)
    {
        status.sentRows = m_sent;
        // A status still queued when its worker has been replaced speaks of the old target.
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_owner, generation = m_generation, status] {
                if (owner->m_generation == generation)
                    owner->publish(status);
            },
            Qt::QueuedConnection);
    }

    void Run()
    {
        using State = ForwardStatus::State;
        int delay = std::max(1, m_options.firstRetryMs);
        State shown = State::Connecting;
        while (!Stopping()) {
            {
                std::lock_guard lock(m_mutex);
                m_rowPending = false;
            }
            qint64 sentBefore = m_sent;
            auto progress = [&](qint64 done, qint64 total) {
                if (done == 0)
                    sentBefore = m_sent;
                m_sent = sentBefore + done;
                // Catching up is worth a state of its own; the one new row of a recorder that is
                // up to date is not.
                if (total > done && (shown != State::UpToDate || total > m_options.batchRows)) {
                    shown = State::Sending;
                    Post({State::Sending, {}, total - done, 0, {}});
                }
            };
            const ForwardPass pass = RunPasses(progress);
            switch (pass.outcome) {
            case ForwardPass::Outcome::Stopped:
                return;
            case ForwardPass::Outcome::Complete:
                shown = State::UpToDate;
                Post({State::UpToDate, {}, 0, 0, pass.message});
                delay = std::max(1, m_options.firstRetryMs);
                Wait(m_options.pollMs, true);
                break;
            case ForwardPass::Outcome::Unreachable:
            case ForwardPass::Outcome::DataFileError:
                shown = pass.outcome == ForwardPass::Outcome::Unreachable ? State::Unreachable
                                                                          : State::DataFileError;
                Post({shown, {}, pass.waitingRows, 0, pass.message});
                Wait(delay, false);
                delay = std::min(delay * 2, std::max(delay, m_options.maxRetryMs));
                break;
            }
        }
    }

    Forwarder* m_owner;
    quint64 m_generation;
    ForwardOptions m_options;
    Interrupter m_interrupter;
    Server m_server;
    std::deque<std::unique_ptr<FileContext>> m_earlier;
    FileContext m_context;
    qint64 m_sent = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_rowPending = false;
    std::thread m_thread;
};

Forwarder::Forwarder(const ForwardOptions& options, QObject* parent) : QObject(parent), m_options(options)
{
    qRegisterMetaType<ForwardStatus>();
}

Forwarder::~Forwarder()
{
    m_worker.reset();
}

bool Forwarder::Start(const ForwardTarget& target, QString* error)
{
    if (target.dataFile.isEmpty()) {
        if (error)
            *error = QStringLiteral("No data file to forward.");
        return false;
    }
    if (!CheckForwardUrl(target.url, error))
        return false;
    const ForwardTarget next = Completed(target);
    // Another file to the same place (a new data file, a rotation): what the server still lacks of
    // the earlier file goes first. Another server or station starts afresh.
    if (!m_worker || next.url != m_target.url || next.station != m_target.station)
        m_earlier.clear();
    else if (next.dataFile != m_target.dataFile && !m_earlier.contains(m_target.dataFile))
        m_earlier.append(m_target.dataFile);
    m_earlier.removeAll(next.dataFile);
    m_worker.reset();
    ++m_generation;
    m_target = next;
    ForwardStatus connecting;
    connecting.state = ForwardStatus::State::Connecting;
    publish(connecting);
    m_worker = std::make_unique<Worker>(this, m_target, m_earlier, m_options);
    return true;
}

void Forwarder::Stop()
{
    if (!m_worker)
        return;
    m_worker.reset();
    ++m_generation;
    m_earlier.clear();
    publish(ForwardStatus());
}

bool Forwarder::IsRunning() const
{
    return m_worker != nullptr;
}

ForwardTarget Forwarder::Target() const
{
    return m_target;
}

void Forwarder::RowRecorded()
{
    if (!m_worker)
        return;
    m_worker->RowRecorded();
    using State = ForwardStatus::State;
    if (m_status.state != State::UpToDate && m_status.state != State::Sending) {
        ForwardStatus counted = m_status;
        ++counted.waitingRows;
        publish(counted);
    }
}

ForwardStatus Forwarder::Status() const
{
    return m_status;
}

void Forwarder::publish(const ForwardStatus& status)
{
    ForwardStatus next = status;
    if (next.state == ForwardStatus::State::Unreachable)
        next.unreachableSince =
            m_status.unreachableSince.isValid() ? m_status.unreachableSince : Host().now();
    else if (next.state == ForwardStatus::State::Connecting ||
             next.state == ForwardStatus::State::DataFileError)
        next.unreachableSince = m_status.unreachableSince;
    if (next.state == m_status.state && next.unreachableSince == m_status.unreachableSince &&
        next.waitingRows == m_status.waitingRows && next.sentRows == m_status.sentRows &&
        next.message == m_status.message)
        return;
    m_status = next;
    emit StatusChanged(m_status);
}
