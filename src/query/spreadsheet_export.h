#pragma once
// A query result as a spreadsheet, for the query windows' "Export Data To Excel" and for
// meter-query --xlsx / --csv, which write the very same cells.
//
// Workbook (.xlsx, written in constant-memory mode so a full file needs little memory): field
// names in row 1, records from row 2 in result order; dates and times as date-time cells,
// readings as numbers, units as text, null as an empty cell; columns A to F 12 wide.
// In both, a reading of the invalid-reading marker (999999) and its channel's unit are empty cells,
// so that a spreadsheet's chart, sum or mean of a column is right (the report keeps the marker).
//
// CSV (UTF-8, CR LF): the field names as a header row, dates YYYY-MM-DD, times HH:MM:SS,
// readings as plain numbers, null as an empty field. A text that starts with =, +, - or @ gets a
// leading ' so that a spreadsheet does not run it as a formula; fields with a comma, a quote or a
// line end are quoted.
//
// Both write the file whole or not at all and never over a database (output_file.h), and return
// false with a description naming the file when it cannot be written.
#include "datafile/event_log.h"
#include "query/query_result.h"

#include <QDateTime>
#include <functional>

// With events, a second sheet "Events" holds them (events_sheet.h); the first sheet is the same.
// stop: asked every few thousand rows; true gives the file up (nothing is written, *error
// CancelledMessage), so that a download whose client went away costs no more.
bool WriteWorkbook(const QueryResult& result, const QString& path, QString* error,
                   const QList<LoggedEvent>* events = nullptr, const std::function<bool()>& stop = {});
bool WriteCsv(const QueryResult& result, const QString& path, QString* error,
              const std::function<bool()>& stop = {});
// One text field of such a CSV: neutralised against formulas and quoted as said above.
QString CsvText(QString text);

// A new, empty file for a workbook in `folder`, named after `when` ("Query-20261207-100000.xlsx",
// then "-2", "-3" ... when that name is taken): an earlier export is never overwritten. A null
// string and *error naming the folder when no file can be made there.
QString NewWorkbookPath(const QString& folder, const QDateTime& when, QString* error);
