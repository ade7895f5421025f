#pragma once
// The data files the history API may read: files directly in the data folder that have the
// data-file layout (DataRecord of date, time and N channel/unit pairs). A name is a plain file
// name: no folder part, no "..", nothing hidden. Each file is opened read-only and never locked
// against the recorder that writes it.
#include <QDateTime>
#include <QList>
#include <QString>

namespace web {

struct DataFileSummary {
    QString name;
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

// Every data file of the folder, by name; `recording` names the one being written.
QList<DataFileSummary> ListDataFiles(const QString& folder, const QString& recording);

// The summary of one data file (rows, first and last); false with *reason when it cannot be read.
bool SummarizeDataFile(const QString& path, DataFileSummary* summary, QString* reason);

} // namespace web
