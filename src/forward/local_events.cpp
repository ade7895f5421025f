#include "forward/local_events.h"

#include "forward/copy_text.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <limits>
#include <sqlite3.h>

namespace {

QString ColumnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

// One event as a COPY line; a cell the central column cannot take goes as NULL.
void AppendEvent(sqlite3_stmt* stmt, const QByteArray& prefix, QByteArray& out)
{
    using namespace CopyText;
    out.append(prefix);
    AppendNumber(out, sqlite3_column_int64(stmt, 0));
    out.append('\t');
    const QDateTime utc = QDateTime::fromString(ColumnText(stmt, 1), Qt::ISODateWithMs);
    if (utc.isValid())
        out.append(utc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1() + "+00");
    else
        AppendNull(out);
    out.append('\t');
    if (sqlite3_column_type(stmt, 2) == SQLITE_NULL)
        AppendNull(out);
    else
        AppendEscaped(out, ColumnText(stmt, 2));
    out.append('\t');
    const sqlite3_int64 channel = sqlite3_column_int64(stmt, 3);
    if (sqlite3_column_type(stmt, 3) != SQLITE_INTEGER || channel < std::numeric_limits<qint16>::min() ||
        channel > std::numeric_limits<qint16>::max())
        AppendNull(out);
    else
        AppendNumber(out, channel);
    out.append('\t');
    const int valueType = sqlite3_column_type(stmt, 4);
    if (valueType == SQLITE_INTEGER || valueType == SQLITE_FLOAT)
        AppendDouble(out, sqlite3_column_double(stmt, 4));
    else
        AppendNull(out);
    out.append('\t');
    if (sqlite3_column_type(stmt, 5) == SQLITE_NULL)
        AppendNull(out);
    else
        AppendEscaped(out, ColumnText(stmt, 5));
    out.append('\n');
}

} // namespace

LocalEvents::LocalEvents(const QString& path, const QString& station, const QString& fileName) : m_path(path)
{
    CopyText::AppendEscaped(m_prefix, station);
    m_prefix.append('\t');
    CopyText::AppendEscaped(m_prefix, fileName);
    m_prefix.append('\t');
}

bool LocalEvents::ReadAbove(qint64 after, int limit, QByteArray* out, qint64* last, int* count,
                            QString* error) const
{
    *last = after;
    *count = 0;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    QString failure;
    const QByteArray file = QFileInfo(m_path).absoluteFilePath().toUtf8();
    if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        failure = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    } else {
        sqlite3_busy_timeout(db, 2000);
        bool present = false;
        if (sqlite3_prepare_v2(db,
                               "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'EventLog' "
                               "COLLATE NOCASE",
                               -1, &stmt, nullptr) == SQLITE_OK) {
            const int step = sqlite3_step(stmt);
            present = step == SQLITE_ROW;
            if (step != SQLITE_ROW && step != SQLITE_DONE)
                failure = QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            failure = QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
        stmt = nullptr;
        const char* select = "SELECT id, utc, kind, channel, value, text FROM EventLog WHERE id > ?1 "
                             "ORDER BY id LIMIT ?2";
        if (present && failure.isEmpty()) {
            if (sqlite3_prepare_v2(db, select, -1, &stmt, nullptr) == SQLITE_OK) {
                sqlite3_bind_int64(stmt, 1, after);
                sqlite3_bind_int(stmt, 2, limit);
                int step = SQLITE_ROW;
                while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
                    AppendEvent(stmt, m_prefix, *out);
                    *last = sqlite3_column_int64(stmt, 0);
                    ++*count;
                }
                if (step != SQLITE_DONE)
                    failure = QString::fromUtf8(sqlite3_errmsg(db));
            } else {
                failure = QString::fromUtf8(sqlite3_errmsg(db));
            }
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    if (failure.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("The events of the data file \"%1\" cannot be read (%2); its rows are sent "
                                "without them.")
                     .arg(QDir::toNativeSeparators(m_path), failure);
    return false;
}
