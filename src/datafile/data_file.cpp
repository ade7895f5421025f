#include "datafile/data_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <utility>

namespace {

const QString RecordTable = QStringLiteral("DataRecord");
// The file layout never holds an empty unit: a channel without a unit text records four blanks.
const QString NoUnit = QStringLiteral("    ");
constexpr int UnitWidth = 10;

QString NewConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("varnik.datafile.%1").arg(next++);
}

QString Shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString Quoted(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QString EngineText(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// The engine's primary result code SQLITE_CORRUPT (11) or SQLITE_NOTADB (26): the file itself is
// spoilt, which no retry mends, unlike a full disk or a lock.
bool SaysDamaged(const QSqlError& error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 11 || code == 26;
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// A named QSQLITE connection that lives as long as this object. Queries made on it must be gone
// before it is, so they live in inner scopes.
class Connection {
  public:
    Connection(const QString& databaseName, const QString& options) : m_name(NewConnectionName())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(databaseName);
        db.setConnectOptions(options);
        m_open = db.open();
        if (!m_open)
            m_error = EngineText(db.lastError());
    }
    ~Connection()
    {
        if (!m_name.isEmpty())
            Close(m_name);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    static void Close(const QString& name)
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    // Hands the connection over to a longer-lived owner, which then closes it.
    QString Release() { return std::exchange(m_name, QString()); }

    bool IsOpen() const { return m_open; }
    QString Error() const { return m_error; }
    QSqlDatabase Database() const { return QSqlDatabase::database(m_name, false); }

  private:
    QString m_name;
    bool m_open = false;
    QString m_error;
};

// Opens an existing file read-write: with mode=rw, a file that vanished meanwhile is not created.
QString ExistingFileUri(const QString& path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
           QStringLiteral("?mode=rw");
}

// Column names of a table through the given connection; false with the engine's text on failure.
bool ReadColumns(const QString& databaseName, const QString& options, const QString& table, QStringList* names,
                 QString* failure)
{
    Connection probe(databaseName, options);
    if (!probe.IsOpen())
        return *failure = probe.Error(), false;
    QSqlQuery query(probe.Database());
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(Quoted(table))))
        return *failure = EngineText(query.lastError()), false;
    names->clear();
    while (query.next())
        names->append(query.value(1).toString());
    return true;
}

// Column names of a table, read through a read-only connection: a missing file is not created and
// an existing one is never written. False with *error naming the file on any failure.
// One exception: a recorder killed in the middle of a row leaves its rollback journal beside the
// file, and a read-only reader cannot roll that half row back. Then the file is read through a
// writable connection, which rolls it back as any SQLite reader would, so the file stays usable.
bool ProbeColumns(const QString& path, const QString& table, QStringList* names, QString* error)
{
    if (!FileExists(path))
        return Fail(error, QStringLiteral("The data file \"%1\" does not exist.").arg(Shown(path)));
    QString failure;
    bool read = ReadColumns(path, QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"), table, names, &failure);
    if (!read && QFileInfo::exists(path + QStringLiteral("-journal"))) {
        if (!QFileInfo(path).isWritable())
            return Fail(error, QStringLiteral("The data file \"%1\" holds a row that was being written when "
                                              "its recorder stopped, and cannot be repaired: the file is "
                                              "read-only for this user.")
                                   .arg(Shown(path)));
        read = ReadColumns(ExistingFileUri(path), QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"), table, names, &failure);
    }
    if (!read)
        return Fail(error, QStringLiteral("The file \"%1\" cannot be read as a data file: %2")
                               .arg(Shown(path), failure));
    if (names->isEmpty())
        return Fail(error, QStringLiteral("The data file \"%1\" has no table %2.").arg(Shown(path), table));
    return true;
}

QString InsertStatement(int channels)
{
    const QStringList columns = DataRecordColumns(channels);
    QStringList quoted;
    for (const QString& column : columns)
        quoted.append(Quoted(column));
    const QString marks = QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','));
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(RecordTable, quoted.join(QLatin1Char(',')), marks);
}

} // namespace

bool FileExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

int16_t CountTableFields(const QString& databasePath, const QString& tableName, QString* error)
{
    QStringList names;
    return ProbeColumns(databasePath, tableName, &names, error) ? int16_t(names.size()) : int16_t(-1);
}

int DataFileChannels(const QString& path, QString* error)
{
    QStringList names;
    if (!ProbeColumns(path, RecordTable, &names, error))
        return -1;
    const auto channels = int((names.size() - 2) / 2);
    const QStringList expected = DataRecordColumns(channels);
    if (channels < 1 || names.size() != expected.size() ||
        !std::equal(names.begin(), names.end(), expected.begin(),
                    [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }))
        return Fail(error, QStringLiteral("The file \"%1\" is not a data file (table %2 with the columns "
                                          "\"date\", \"time\", \"chan 1\", \"unit 1\", ...).")
                               .arg(Shown(path), RecordTable)),
               -1;
    return channels;
}

QStringList DataRecordColumns(int channels)
{
    QStringList columns{QStringLiteral("date"), QStringLiteral("time")};
    for (int n = 1; n <= channels; ++n)
        columns << QStringLiteral("chan %1").arg(n) << QStringLiteral("unit %1").arg(n);
    return columns;
}

bool CreateDataFile(const QString& path, int channels, QString* error)
{
    if (channels != 8 && channels != 12 && channels != 16)
        return Fail(error, QStringLiteral("A data file has 8, 12 or 16 channels, not %1.").arg(channels));
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return Fail(error, QStringLiteral("The data file \"%1\" already exists.").arg(Shown(path)));

    QString failure;
    {
        Connection create(path, QString());
        if (!create.IsOpen()) {
            failure = create.Error();
        } else {
            QStringList columns;
            for (int n = 1; n <= channels; ++n)
                columns << QStringLiteral("%1 REAL, %2 VARCHAR(%3)")
                               .arg(Quoted(QStringLiteral("chan %1").arg(n)),
                                    Quoted(QStringLiteral("unit %1").arg(n)))
                               .arg(UnitWidth);
            QSqlQuery query(create.Database());
            if (!query.exec(QStringLiteral("CREATE TABLE %1 (\"date\" TEXT, \"time\" TEXT, %2)")
                                .arg(RecordTable, columns.join(QStringLiteral(", ")))))
                failure = EngineText(query.lastError());
        }
    }
    if (failure.isEmpty())
        return true;
    // The file did not exist before: whatever the engine left there is ours to remove.
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    return Fail(error,
                QStringLiteral("The data file \"%1\" cannot be created: %2").arg(Shown(path), failure));
}

DataFile::DataFile() = default;

DataFile::~DataFile()
{
    Unbind();
}

bool DataFile::Bind(const QString& databasePath, QString* error)
{
    // The file bound now keeps its lock; any other file is locked before it is even read.
    const QString canonical = QFileInfo(databasePath).canonicalFilePath();
    const bool same = m_bound && !canonical.isEmpty() && canonical == QFileInfo(m_path).canonicalFilePath();
    DataFileLock lock;
    if (!same && !lock.Acquire(databasePath, error))
        return false;

    const int channels = DataFileChannels(databasePath, error);
    if (channels < 0)
        return false;
    if (!QFileInfo(databasePath).isWritable())
        return Fail(error, QStringLiteral("The data file \"%1\" is read-only.").arg(Shown(databasePath)));

    // A file another process holds is waited for at most a second per statement (the engine's
    // default is five): the scan tick that writes a row must not stall the link watchdog.
    Connection writer(ExistingFileUri(databasePath),
                      QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(WriteBusyTimeoutMs));
    if (!writer.IsOpen())
        return Fail(error, QStringLiteral("The data file \"%1\" cannot be opened: %2")
                               .arg(Shown(databasePath), writer.Error()));
    {
        QSqlQuery query(writer.Database());
        // A rollback journal, not WAL: with WAL the newest rows live in a side file until a
        // checkpoint, so a user who copies the data file while recording (or after a crash)
        // would carry off a file without them. With the rollback journal and full syncs, the
        // file alone holds every row whose append returned. Setting it also turns back a file
        // that an earlier build left in WAL mode.
        // Appends touch only the last pages of the table, so a small page cache does; SQLite's
        // default (2 MB) would fill with pages never read again over the first hours of a
        // recording and hold them for as long as it runs.
        if (!query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) ||
            !query.exec(QStringLiteral("PRAGMA synchronous=FULL")) ||
            !query.exec(QStringLiteral("PRAGMA cache_size=-256")))
            return Fail(error, QStringLiteral("The data file \"%1\" cannot be opened: %2")
                                   .arg(Shown(databasePath), EngineText(query.lastError())));
    }

    if (same)
        lock = std::move(m_lock);
    Unbind();
    m_lock = std::move(lock);
    m_connection = writer.Release();
    m_path = databasePath;
    m_fieldCount = int16_t(2 * channels);
    m_bound = true;
    return true;
}

void DataFile::CloseConnection()
{
    m_inserts.clear();
    if (!m_connection.isEmpty())
        Connection::Close(std::exchange(m_connection, QString()));
}

void DataFile::Unbind()
{
    CloseConnection();
    m_path.clear();
    m_fieldCount = 0;
    m_bound = false;
    m_damaged = false;
    m_damageText.clear();
    m_lock.Release();
}

bool DataFile::IsBound() const
{
    return m_bound;
}

QString DataFile::DatabaseName() const
{
    return m_path;
}

int16_t DataFile::FieldCount() const
{
    return m_fieldCount;
}

qint64 DataFile::RowCount(QString* error) const
{
    if (!m_bound)
        return Fail(error, QStringLiteral("No data file is open.")), -1;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(RecordTable)) || !query.next())
        return Fail(error, QStringLiteral("Cannot count the rows of the data file \"%1\": %2")
                               .arg(Shown(m_path), EngineText(query.lastError()))),
               -1;
    return query.value(0).toLongLong();
}

QString DataFile::ConnectionName() const
{
    return m_connection;
}

bool DataFile::AppendRow(const DataRow& row, QString* error)
{
    if (!m_bound)
        return Fail(error, QStringLiteral("No data file is open."));
    if (!row.date.isValid() || !row.time.isValid())
        return Fail(error, QStringLiteral("A recorded row needs a valid date and time."));
    const auto channels = int(row.chan.size());
    if (row.unit.size() != channels)
        return Fail(error, QStringLiteral("A recorded row needs one unit for every reading."));

    auto& insert = m_inserts[channels];
    if (!insert) {
        auto prepared = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection, false));
        if (!prepared->prepare(InsertStatement(channels))) {
            const QString text = QStringLiteral("Cannot append to the data file \"%1\": %2")
                                     .arg(Shown(m_path), EngineText(prepared->lastError()));
            NoteFailure(prepared->lastError(), text);
            return Fail(error, text);
        }
        insert = std::move(prepared);
    }

    insert->bindValue(0, row.date.toString(Qt::ISODate));
    insert->bindValue(1, row.time.toString(QStringLiteral("HH:mm:ss")));
    for (int i = 0; i < channels; ++i) {
        const QString unit = row.unit[i].left(UnitWidth);
        insert->bindValue(2 + 2 * i, row.chan[i]);
        insert->bindValue(3 + 2 * i, unit.isEmpty() ? NoUnit : unit);
    }
    if (!insert->exec()) {
        const QString text = QStringLiteral("Cannot append to the data file \"%1\": %2")
                                 .arg(Shown(m_path), EngineText(insert->lastError()));
        NoteFailure(insert->lastError(), text);
        return Fail(error, text);
    }
    return true;
}

void DataFile::NoteFailure(const QSqlError& error, const QString& text)
{
    // A row may still go in after the file is found spoilt elsewhere: the damage is not undone.
    if (m_damaged || !SaysDamaged(error))
        return;
    m_damaged = true;
    m_damageText = text;
}

bool DataFile::IsDamaged() const
{
    return m_damaged;
}
