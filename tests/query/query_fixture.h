#pragma once
// Data files for the query tests: made by the data file engine, filled with the sqlite3 program
// (so a row can hold what our own writer never writes: nulls, odd time texts).
#include "datafile/data_file.h"
#include "sqlite_cli.h"

#include <QTest>

// Rows as SQL value lists for ("date","time","chan 1","unit 1",...) of the first channels.
inline QString MakeDataFile(const QString& path, int channels, const QStringList& rows, int rowChannels = 0)
{
    if (!CreateDataFile(path, channels))
        return {};
    if (rows.isEmpty())
        return path;
    const QStringList columns = DataRecordColumns(rowChannels ? rowChannels : channels);
    QStringList quoted;
    for (const QString& c : columns)
        quoted << QLatin1Char('"') + c + QLatin1Char('"');
    SqliteCli(path, QStringLiteral("INSERT INTO DataRecord (%1) VALUES (%2);")
                        .arg(quoted.join(QLatin1Char(',')), rows.join(QStringLiteral("),("))));
    return path;
}

// Four days of channel 1 readings around a 08:00-17:30 window.
inline QStringList WindowRows()
{
    return {
        "'2010-04-01','07:59:59',1,'V'", "'2010-04-01','08:00:00',2,'V'", "'2010-04-01','17:30:00',3,'V'",
        "'2010-04-01','17:30:20',4,'V'", "'2010-04-02','20:00:00',5,'V'", "'2010-04-02','12:00:00',6,'V'",
        "'2010-04-03','08:30:00',7,'V'", "'2010-04-04','08:30:00',8,'V'",
    };
}
