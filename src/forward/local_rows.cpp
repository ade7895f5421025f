#include "forward/local_rows.h"

#include "datafile/data_file.h"
#include "forward/copy_text.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace {

const QString RecordTable = QStringLiteral("DataRecord");

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

} // namespace

LocalRows::LocalRows(const QString& path, const QString& station)
    : m_path(path), m_prefix(Prefix(station, QFileInfo(path).fileName()))
{
}

bool LocalRows::Open(QString* error)
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

bool LocalRows::RecordedAt(qint64 rowId, QByteArray* recordedAt, bool* exists, QString* error)
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

bool LocalRows::CountAbove(qint64 rowId, qint64* count, QString* error)
{
    return Select(QStringLiteral("SELECT count(*) FROM %1 WHERE rowid > ?").arg(RecordTable), {rowId}, error,
                  [&](QSqlQuery& query) { *count = query.next() ? query.value(0).toLongLong() : 0; });
}

bool LocalRows::ReadChunk(qint64 after, int limit, QByteArray* out, qint64* last, int* rows, QString* error)
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

void LocalRows::AppendRow(const QSqlQuery& query, QByteArray& head, QByteArray* out, qint64* last, int* rows)
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

QByteArray LocalRows::Prefix(const QString& station, const QString& fileName)
{
    QByteArray prefix;
    CopyText::AppendEscaped(prefix, station);
    prefix.append('\t');
    CopyText::AppendEscaped(prefix, fileName);
    prefix.append('\t');
    return prefix;
}

bool LocalRows::Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

bool LocalRows::Select(const QString& sql, const QVariantList& bound, QString* error,
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
