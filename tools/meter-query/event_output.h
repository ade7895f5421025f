#pragma once
// meter-query --events: the events of the data file on the dates from..to as CSV (event_log.h),
// oldest first, into a file or, for "-", onto standard output. False with *error naming what
// failed (the event log cannot be read, the file cannot be written).
#include <QDate>
#include <QString>

bool WriteEventsCsv(const QString& dataFile, const QDate& from, const QDate& to, const QString& target,
                    QString* error);
