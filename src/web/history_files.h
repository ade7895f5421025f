#pragma once
// The data files the history API may read: files directly in the data folder that have the
// data-file layout (DataRecord of date, time and N channel/unit pairs). A name is a plain file
// name: no folder part, no "..", nothing hidden. Each file is opened read-only and never locked
// against the recorder that writes it.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace web {

struct DataFileSummary {
    QString name;
    QStringList files; // the name and the rest of its rotated series (NAME_002.mdb, ...), in order
    int channels = 0;
    qint64 rows = 0;
    QDateTime first; // the wall clock of the first and last row (local time); null without rows
    QDateTime last;
    bool recording = false; // the file the recorder writes now
};

// The path of data file `name` in `folder`, or a null string with *status (400 or 404) and
// *reason (one line) when the name is not a plain name, no such file exists, or it is not a data
// file. *channels gets the file's channel count.
QString ResolveDataFile(const QString& folder, const QString& name, int* channels, unsigned* status,
                        QString* reason);

// The paths of data file `name` and of the rest of its rotated series (the files NAME_002.mdb,
// NAME_003.mdb, ... that follow it with the same channel count); an empty list as ResolveDataFile.
QStringList DataFileSeries(const QString& folder, const QString& name, int* channels, unsigned* status,
                           QString* reason);

// The name of the series a rotated file belongs to (Data1.mdb for Data1_003.mdb when Data1.mdb and
// Data1_002.mdb lead to it); any other name as it is.
QString SeriesHead(const QString& folder, const QString& name);

// Every data file of the folder, by name, a rotated series as one entry under the name of its
// first file; `recording` names the one being written (an entry is recording when any of its
// files is).
QList<DataFileSummary> ListDataFiles(const QString& folder, const QString& recording);

// The summary of one data file (rows, first and last); false with *reason when it cannot be read.
bool SummarizeDataFile(const QString& path, DataFileSummary* summary, QString* reason);
// The same of files read as one: rows added up, the first row of the first, the last of the last.
bool SummarizeSeries(const QStringList& paths, DataFileSummary* summary, QString* reason);

} // namespace web
