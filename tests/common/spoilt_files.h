#pragma once
// Data files in the states that crashes and damaged disks leave behind, made with SQLite itself.
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// Opens a transaction of many rows on `db`'s data file and leaves it open; a tiny page cache
// makes it spill into the file, journal first, as a recorder's row does when the disk is slow.
inline void BeginSpilledRows(QSqlDatabase db)
{
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA cache_size=2"));
    query.exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < 400; ++i)
        query.exec(QStringLiteral("INSERT INTO DataRecord (\"date\", \"unit 1\") VALUES ('x', '%1')")
                       .arg(QString(200, QLatin1Char('u'))));
}

// Copies `path` to `copy` in the middle of a row's transaction, with its rollback journal: what a
// recorder killed while writing leaves behind (a hot journal that a reader must roll back).
inline bool CopyWithHotJournal(const QString& path, const QString& copy)
{
    bool copied = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("spoilt"));
        db.setDatabaseName(path);
        if (db.open()) {
            BeginSpilledRows(db);
            copied = QFile::copy(path, copy) &&
                     QFile::copy(path + QStringLiteral("-journal"), copy + QStringLiteral("-journal"));
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("spoilt"));
    return copied;
}

// Overwrites a page of a SQLite file of 4 KB pages (by default the second: the table of a fresh
// data file) with garbage and bumps the file's change counter, so that a connection that has it
// open re-reads it: its next write there fails with "database disk image is malformed".
inline bool SpoilDataFile(const QString& path, int page = 2)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.size() < page * 4096)
        return false;
    file.seek(24);
    const QByteArray counter = file.read(4);
    QByteArray bumped = counter;
    bumped[3] = char(bumped[3] + 1);
    return file.seek(24) && file.write(bumped) == 4 && file.seek((page - 1) * 4096) &&
           file.write(QByteArray(4096, '\xA5')) == 4096 && file.flush();
}
