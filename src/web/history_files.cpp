#include "web/history_files.h"

#include "datafile/data_file.h"
#include "query/output_file.h"
#include "query/query_range.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <sqlite3.h>

namespace web {

namespace {

QDateTime WallClock(sqlite3_stmt* statement)
{
    const auto text = [statement](int column) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return value ? QString::fromUtf8(value) : QString();
    };
    const QDate day = QDate::fromString(text(0).left(10), Qt::ISODate);
    const QTime time = QTime::fromString(text(1).right(8), QStringLiteral("HH:mm:ss"));
    return day.isValid() && time.isValid() ? QDateTime(day, time) : QDateTime();
}

// A wall time in the hour the clock goes back names two instants, and QDateTime takes the first.
// The file's last row is in the second pass when rows of the same day were recorded later in the
// day before it (the clock went back after them): its instant is then the later one.
QDateTime LastRowInstant(sqlite3* db, const QDateTime& last)
{
    const QDateTime later = last.addSecs(3 * 3600);
    const qint64 shift = qint64(last.offsetFromUtc()) - later.offsetFromUtc();
    if (!last.isValid() || shift <= 0)
        return last;
    const QDateTime second = last.addSecs(shift);
    if (second.date() != last.date() || second.time() != last.time())
        return last; // not a wall time that occurs twice
    sqlite3_stmt* statement = nullptr;
    bool wentBack = false;
    if (sqlite3_prepare_v2(db, "select 1 from DataRecord where [date] = ?1 and [time] > ?2 limit 1", -1, &statement,
                           nullptr) == SQLITE_OK) {
        const QByteArray day = last.date().toString(Qt::ISODate).toUtf8();
        const QByteArray time = last.time().toString(QStringLiteral("HH:mm:ss")).toUtf8();
        sqlite3_bind_text(statement, 1, day.constData(), int(day.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 2, time.constData(), int(time.size()), SQLITE_TRANSIENT);
        wentBack = sqlite3_step(statement) == SQLITE_ROW;
    }
    sqlite3_finalize(statement);
    return wentBack ? second : last;
}

} // namespace

QString ResolveDataFile(const QString& folder, const QString& name, int* channels, unsigned* status,
                        QString* reason)
{
    *status = 400;
    const bool control = std::any_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.startsWith(QLatin1Char('.')) || control) {
        *reason = QStringLiteral("%1 is not a file name in the data folder").arg(QuotedText(name));
        return {};
    }
    const QString path = QDir(folder).filePath(name);
    // A link may name a file only inside the data folder: its target, followed to the end, must be
    // a file of that folder (or a folder below it), seen through the folder's own canonical path.
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QString target = QFileInfo(path).canonicalFilePath();
    if (!QFileInfo(path).isFile()) {
        *status = 404;
        *reason = QStringLiteral("no data file %1 in the data folder").arg(QuotedText(name));
        return {};
    }
    if (canonicalFolder.isEmpty() || !target.startsWith(canonicalFolder + QLatin1Char('/'))) {
        *status = 404;
        *reason = QStringLiteral("%1 leads outside the data folder").arg(QuotedText(name));
        return {};
    }
    QString error;
    *channels = IsSqliteDatabase(path) ? DataFileChannels(path, &error) : -1;
    if (*channels < 1) {
        *reason = QStringLiteral("%1 is not a data file").arg(QuotedText(name));
        return {};
    }
    return path;
}

bool SummarizeDataFile(const QString& path, DataFileSummary* summary, QString* reason)
{
    sqlite3* db = nullptr;
    const QByteArray uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toUtf8() + "?mode=ro";
    bool ok = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, 2000);
        for (const char* sql : {"select count(*) from DataRecord",
                                "select [date], [time] from DataRecord order by rowid limit 1",
                                "select [date], [time] from DataRecord order by rowid desc limit 1"}) {
            sqlite3_stmt* statement = nullptr;
            ok = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK;
            const int step = ok ? sqlite3_step(statement) : SQLITE_ERROR;
            ok = ok && (step == SQLITE_ROW || step == SQLITE_DONE);
            if (step == SQLITE_ROW) {
                if (sql[7] == 'c')
                    summary->rows = sqlite3_column_int64(statement, 0);
                else if (std::strstr(sql, "desc"))
                    summary->last = WallClock(statement);
                else
                    summary->first = WallClock(statement);
            }
            sqlite3_finalize(statement);
            if (!ok)
                break;
        }
    }
    if (ok)
        summary->last = LastRowInstant(db, summary->last);
    if (!ok)
        *reason = QStringLiteral("\"%1\" cannot be read: %2")
                      .arg(QFileInfo(path).fileName(), QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_close(db);
    return ok;
}

bool SummarizeSeries(const QStringList& paths, DataFileSummary* summary, QString* reason)
{
    for (const QString& path : paths) {
        DataFileSummary one;
        if (!SummarizeDataFile(path, &one, reason))
            return false;
        summary->rows += one.rows;
        if (!summary->first.isValid())
            summary->first = one.first;
        if (one.last.isValid())
            summary->last = one.last;
        summary->files.append(QFileInfo(path).fileName());
    }
    return true;
}

QStringList DataFileSeries(const QString& folder, const QString& name, int* channels, unsigned* status,
                           QString* reason)
{
    const QString head = ResolveDataFile(folder, name, channels, status, reason);
    if (head.isEmpty())
        return {};
    QStringList paths{head};
    for (const QString& next : RotatedSeries(QDir(folder).filePath(name)).mid(1)) {
        int count = 0;
        unsigned ignored = 0;
        QString why;
        const QString path = ResolveDataFile(folder, QFileInfo(next).fileName(), &count, &ignored, &why);
        if (path.isEmpty() || count != *channels)
            break;
        paths.append(path);
    }
    return paths;
}

QString SeriesHead(const QString& folder, const QString& name)
{
    static const QRegularExpression member(QStringLiteral("^(.+)_\\d{3,}(\\.mdb)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const auto m = member.match(name);
    if (!m.hasMatch())
        return name;
    const QString head = m.captured(1) + m.captured(2);
    int channels = 0;
    unsigned status = 0;
    QString reason;
    for (const QString& path : DataFileSeries(folder, head, &channels, &status, &reason))
        if (QFileInfo(path).fileName() == name)
            return head;
    return name;
}

QList<DataFileSummary> ListDataFiles(const QString& folder, const QString& recording)
{
    QList<DataFileSummary> files;
    QStringList taken; // the later files of a series listed under its first
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        int channels = 0;
        unsigned status = 0;
        QString reason;
        const QStringList paths = DataFileSeries(folder, name, &channels, &status, &reason);
        if (paths.isEmpty())
            continue;
        DataFileSummary summary;
        summary.name = name;
        summary.channels = channels;
        if (!SummarizeSeries(paths, &summary, &reason))
            continue;
        summary.recording = summary.files.contains(recording);
        taken += summary.files.mid(1);
        files.append(summary);
    }
    files.removeIf([&taken](const DataFileSummary& f) { return taken.contains(f.name); });
    return files;
}

} // namespace web
