#pragma once
// Reads data files with the sqlite3 command-line program: a reader that shares no code with ours.
#include <QProcess>
#include <QStringList>
#include <QTest>

// Runs one statement; the output's lines, columns separated by '|'. Fails the test when sqlite3
// cannot run or reports an error.
inline QStringList SqliteCli(const QString& path, const QString& sql)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), path, sql});
    if (!sqlite.waitForFinished(30000) || sqlite.exitCode() != 0) {
        QTest::qFail(qPrintable(QStringLiteral("sqlite3 failed: ") + sqlite.readAllStandardError()), __FILE__,
                     __LINE__);
        return {};
    }
    QString out = QString::fromUtf8(sqlite.readAllStandardOutput());
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

inline int SqliteRowCount(const QString& path)
{
    const QStringList out = SqliteCli(path, QStringLiteral("SELECT count(*) FROM DataRecord"));
    return out.isEmpty() ? -1 : out.first().toInt();
}
