#pragma once
// meter-query --events: the events of the data files (a rotated series: each in turn) in the
// range as CSV (event_log.h), oldest first, into a file (whole or not at all, never over a database: output_file.h) or, for
// "-", onto standard output. False with *error naming what failed (the event log cannot be read,
// the file cannot be written).
#include "query/query_range.h"

bool WriteEventsCsv(const QStringList& dataFiles, const QueryRange& range, const QString& target, QString* error);
