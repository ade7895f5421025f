#include "datafile/event_log.h"

#include "datafile/data_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>

namespace {

const QString Table = QStringLiteral("EventLog");
const QStringList Columns{QStringLiteral("id"),    QStringLiteral("date"), QStringLiteral("time"),
                          QStringLiteral("utc"),   QStringLiteral("kind"), QStringLiteral("channel"),
                          QStringLiteral("value"), QStringLiteral("text")};

QString Shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

QString EngineText(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// What is wrong with a table named EventLog, given its columns (name, primary-key position) as
// PRAGMA table_info lists them; empty when it is an event log. No columns: there is no such table.
QString Damage(const QList<std::pair<QString, int>>& columns)
{
    QStringList missing;
    for (const QString& wanted : Columns) {
        const auto found = std::find_if(columns.begin(), columns.end(), [&](const auto& column) {
            return column.first.compare(wanted, Qt::CaseInsensitive) == 0;
        });
        if (found == columns.end())
            missing << wanted;
        else if (wanted == Columns.first() && found->second != 1)
            return QStringLiteral("its column id is not the primary key");
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("it lacks the column%1 %2").arg(missing.size() > 1 ? "s" : "", missing.join(", "));
}

QString DamagedText(const QString& path, const QString& damage)
{
    return QStringLiteral("The data file \"%1\" holds a table EventLog that is not an event log (%2), "
                          "probably changed by another program: its events cannot be %3. The recorded "
                          "rows are not affected; rename or remove that table to get an event log again.")
        .arg(Shown(path), damage);
}

const char* CreateStatement = "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, \"date\" TEXT, \"time\" TEXT, "
                              "utc TEXT, kind TEXT, channel INTEGER, value REAL, text TEXT)";

QVariant Nullable(const std::optional<int>& v)
{
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Int));
}

QVariant Nullable(const std::optional<double>& v)
{
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}

QString ColumnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

LoggedEvent ReadRow(sqlite3_stmt* stmt)
{
    LoggedEvent e;
    e.id = sqlite3_column_int64(stmt, 0);
    e.date = QDate::fromString(ColumnText(stmt, 1), Qt::ISODate);
    e.time = QTime::fromString(ColumnText(stmt, 2), QStringLiteral("HH:mm:ss"));
    e.utc = QDateTime::fromString(ColumnText(stmt, 3), Qt::ISODateWithMs);
    if (e.utc.isValid())
        e.utc = e.utc.toUTC();
    e.kind = ColumnText(stmt, 4);
    // Only numbers count: a text another tool put there is no channel 0 nor a value 0.
    const auto number = [stmt](int column) {
        const int type = sqlite3_column_type(stmt, column);
        return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
    };
    if (number(5) && sqlite3_column_double(stmt, 5) == sqlite3_column_int(stmt, 5))
        e.channel = sqlite3_column_int(stmt, 5);
    if (number(6))
        e.value = sqlite3_column_double(stmt, 6);
    e.text = ColumnText(stmt, 7);
    return e;
}

} // namespace

QStringList EventKind::All()
{
    return {Start, Stop, LinkLost, LinkRestored, Paused, Resumed, High, Low, Normal, Full, RowsMissed, Note, Overload, Function};
}

LoggedEvent LoggedEvent::At(const QDateTime& when, const QString& kind, const QString& text,
                            std::optional<int> channel, std::optional<double> value)
{
    LoggedEvent e;
    e.date = when.date();
    const QTime t = when.time();
    e.time = QTime(t.hour(), t.minute(), t.second());
    e.utc = when.toUTC();
    e.kind = kind;
    e.channel = channel;
    e.value = value;
    e.text = text;
    return e;
}

QString LoggedEvent::UtcText() const
{
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QLatin1Char('Z');
}

bool AppendEvent(DataFile& data, const LoggedEvent& event, QString* error, bool* created)
{
    if (created)
        *created = false;
    if (!data.IsBound())
        return Fail(error, QStringLiteral("No data file is open."));
    const QString path = data.DatabaseName();
    QSqlDatabase db = QSqlDatabase::database(data.ConnectionName(), false);
    const auto engineFailure = [&](const QSqlError& e) {
        const QString text =
            QStringLiteral("Cannot write the event log of the data file \"%1\": %2").arg(Shown(path), EngineText(e));
        data.NoteFailure(e, text);
        return Fail(error, text);
    };

    QList<std::pair<QString, int>> columns;
    {
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(EventLog)")))
            return engineFailure(info.lastError());
        while (info.next())
            columns.append({info.value(1).toString(), info.value(5).toInt()});
    }
    if (!columns.isEmpty()) {
        if (const QString damage = Damage(columns); !damage.isEmpty())
            return Fail(error, DamagedText(path, damage).arg(QStringLiteral("written")));
    }

    if (!db.transaction())
        return engineFailure(db.lastError());
    bool ok = true;
    QSqlError failure;
    {
        QSqlQuery query(db);
        if (columns.isEmpty() && !query.exec(QString::fromLatin1(CreateStatement))) {
            ok = false;
            failure = query.lastError();
        }
        if (ok) {
            query.prepare(
                QStringLiteral("INSERT INTO EventLog (\"date\", \"time\", utc, kind, channel, value, "
                               "text) VALUES (?, ?, ?, ?, ?, ?, ?)"));
            query.addBindValue(event.date.toString(Qt::ISODate));
            query.addBindValue(event.time.toString(QStringLiteral("HH:mm:ss")));
            query.addBindValue(event.UtcText());
            query.addBindValue(event.kind);
            query.addBindValue(Nullable(event.channel));
            query.addBindValue(Nullable(event.value));
            query.addBindValue(event.text);
            if (!query.exec()) {
                ok = false;
                failure = query.lastError();
            }
        }
    }
    if (ok && !db.commit()) {
        ok = false;
        failure = db.lastError();
    }
    if (!ok) {
        db.rollback();
        return engineFailure(failure);
    }
    if (created)
        *created = columns.isEmpty();
    return true;
}

namespace {

// One attempt at reading the events with the given open flags. *failure is the engine's text when
// the file cannot be read (not a database, a hot journal a read-only reader cannot roll back),
// *damage what is wrong with a table EventLog that is not an event log.
void ReadWith(const QByteArray& file, int flags, const EventFilter& filter, QList<LoggedEvent>* events,
              QString* failure, QString* damage)
{
    events->clear();
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(file.constData(), &db, flags, nullptr) != SQLITE_OK) {
        *failure = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close(db);
        return;
    }
    sqlite3_busy_timeout(db, 2000);
    const auto engineFailed = [&] { *failure = QString::fromUtf8(sqlite3_errmsg(db)); };
    QList<std::pair<QString, int>> columns;
    if (sqlite3_prepare_v2(db, "SELECT name, pk FROM pragma_table_info('EventLog')", -1, &stmt, nullptr) ==
        SQLITE_OK) {
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(stmt)) == SQLITE_ROW)
            columns.append({ColumnText(stmt, 0), sqlite3_column_int(stmt, 1)});
        if (step != SQLITE_DONE)
            engineFailed();
    } else {
        engineFailed();
    }
    sqlite3_finalize(stmt);
    stmt = nullptr;
    *damage = columns.isEmpty() ? QString() : Damage(columns);
    const char* select = "SELECT id, \"date\", \"time\", utc, kind, channel, value, text FROM EventLog "
                         "WHERE (?1 IS NULL OR \"date\" >= ?1) AND (?2 IS NULL OR \"date\" <= ?2) "
                         "ORDER BY utc DESC, id DESC";
    if (failure->isEmpty() && !columns.isEmpty() && damage->isEmpty()) {
        if (sqlite3_prepare_v2(db, select, -1, &stmt, nullptr) == SQLITE_OK) {
            const QByteArray from = filter.from.toString(Qt::ISODate).toUtf8();
            const QByteArray to = filter.to.toString(Qt::ISODate).toUtf8();
            if (filter.from.isValid())
                sqlite3_bind_text(stmt, 1, from.constData(), int(from.size()), SQLITE_TRANSIENT);
            if (filter.to.isValid())
                sqlite3_bind_text(stmt, 2, to.constData(), int(to.size()), SQLITE_TRANSIENT);
            int step = SQLITE_ROW;
            while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
                LoggedEvent e = ReadRow(stmt);
                if (filter.kinds.isEmpty() || filter.kinds.contains(e.kind))
                    events->append(std::move(e));
            }
            if (step != SQLITE_DONE)
                engineFailed();
        } else {
            engineFailed();
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

} // namespace

bool ReadEvents(const QString& path, const EventFilter& filter, QList<LoggedEvent>* events, QString* error)
{
    events->clear();
    if (!FileExists(path))
        return Fail(error, QStringLiteral("The data file \"%1\" does not exist.").arg(Shown(path)));
    const QByteArray file = QFileInfo(path).absoluteFilePath().toUtf8();
    QString failure;
    QString damage;
    ReadWith(file, SQLITE_OPEN_READONLY, filter, events, &failure, &damage);
    // A recorder killed in the middle of a row leaves its rollback journal; a read-only reader
    // cannot roll that half row back, a writable connection does, as every SQLite reader would.
    if (!failure.isEmpty() && QFileInfo::exists(path + QStringLiteral("-journal"))) {
        failure.clear();
        ReadWith(file, SQLITE_OPEN_READWRITE, filter, events, &failure, &damage);
    }
    if (!damage.isEmpty())
        return events->clear(), Fail(error, DamagedText(path, damage).arg(QStringLiteral("read")));
    if (!failure.isEmpty())
        return events->clear(),
               Fail(error, QStringLiteral("Cannot read the event log of the data file \"%1\": %2")
                               .arg(Shown(path), failure));
    return true;
}

QString RowsMissedText(int count, const QDateTime& first, const QDateTime& last, const QString& why)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    return QStringLiteral("%1 row%2 missed from %3 to %4: %5")
        .arg(count)
        .arg(count == 1 ? "" : "s")
        .arg(first.toString(format), last.toString(format), why);
}

std::optional<std::pair<QDateTime, QDateTime>> MissedSpan(const LoggedEvent& event)
{
    static const QRegularExpression span(
        QStringLiteral("^\\d+ rows? missed from (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) to "
                       "(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)"));
    if (event.kind != EventKind::RowsMissed)
        return std::nullopt;
    const QRegularExpressionMatch match = span.match(event.text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QDateTime first = QDateTime::fromString(match.captured(1), format);
    const QDateTime last = QDateTime::fromString(match.captured(2), format);
    if (!first.isValid() || !last.isValid() || last < first)
        return std::nullopt;
    return std::pair{first, last};
}
