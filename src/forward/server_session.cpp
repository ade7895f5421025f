#include "forward/server_session.h"

#include "forward/connection_url.h"

#include <QElapsedTimer>
#include <algorithm>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

namespace {

QString OneLine(const QString& text)
{
    return text.simplified();
}

QString PgError(PGconn* conn)
{
    return OneLine(QString::fromUtf8(PQerrorMessage(conn)));
}

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

} // namespace

void Interrupter::ShutDown()
{
    if (!m_conn || PQsocket(m_conn) < 0)
        return;
#ifdef _WIN32
    ::shutdown(PQsocket(m_conn), SD_BOTH);
#else
    ::shutdown(PQsocket(m_conn), SHUT_RDWR);
#endif
}

void ServerSession::Close()
{
    if (!m_conn)
        return;
    if (m_interrupter)
        m_interrupter->Detach();
    PQfinish(std::exchange(m_conn, nullptr));
    m_tableChecked = false;
}

bool ServerSession::Connect(const QString& url, int timeoutMs, const std::function<bool()>& stop,
                            QString* error)
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

bool ServerSession::EnsureTable(QString* error)
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

bool ServerSession::HighestRow(const QString& station, const QString& dataFile, qint64* rowId,
                               QByteArray* recordedAt, std::optional<qint64>* recordedUtc, QString* error)
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

bool ServerSession::HighestEvent(const QString& station, const QString& dataFile, qint64* eventId,
                                 QString* error)
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

bool ServerSession::PutBatch(const QByteArray& lines, QString* error)
{
    constexpr qsizetype Piece = 1 << 20;
    for (qsizetype at = 0; at < lines.size(); at += Piece) {
        if (PQputCopyData(m_conn, lines.constData() + at, int(std::min(Piece, lines.size() - at))) != 1)
            return Fail(error, PgError(m_conn));
    }
    return true;
}

bool ServerSession::FinishBatch(const CentralTable& table, const QByteArray& lines, QString* error)
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

void ServerSession::AbandonBatch()
{
    if (!IsOpen())
        return;
    if (PQputCopyEnd(m_conn, "the batch was abandoned") == 1)
        while (PGresult* raw = PQgetResult(m_conn))
            PQclear(raw);
    Rollback();
}

bool ServerSession::Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

void ServerSession::WaitForSocket(bool forReading, int timeoutMs)
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

bool ServerSession::Command(const char* sql, QString* error)
{
    PgResult result(PQexec(m_conn, sql));
    if (result.Status() == PGRES_COMMAND_OK || result.Status() == PGRES_TUPLES_OK)
        return true;
    return Fail(error, PgError(m_conn));
}

void ServerSession::Rollback()
{
    if (IsOpen() && PQtransactionStatus(m_conn) != PQTRANS_IDLE)
        PgResult(PQexec(m_conn, "ROLLBACK"));
}

bool ServerSession::BeginCopy(const CentralTable& table, bool throughTemporary, QString* error)
{
    const QByteArray begin = throughTemporary
                                 ? QByteArray("BEGIN; CREATE TEMP TABLE IF NOT EXISTS ") + table.temporary +
                                       " (LIKE " + table.name + ") ON COMMIT DELETE ROWS"
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

bool ServerSession::EndCopy(QString* sqlState, QString* error)
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
