#pragma once
// The "Monitor Data Report": a plain-text file (Windows-1252, CR LF) of a query result, written
// by the query window's "Print Data" and by meter-query --report, byte for byte the same:
//   line 1  30 blanks, "Monitor Data Report"
//   line 2  the long date, 50 blanks, "Page: ", " 1"
//   line 3  "   Date    ", "  Time     ", then "DisplayN", 2 blanks, "   Unit    " per channel
//   line 4  80 hyphens
//   then one line per record: yyyy/mm/dd, a blank, hh:mm:ss, then per channel the reading as
//   ReportNumber padded to 10, a blank and the unit in a 10-character field (cut or padded).
// Channels are the result's "chan N" columns in result order, each with its "unit N".
// A reading longer than 10 characters is written in full (that line is longer). A null date,
// time, reading or unit stops the report at that record and the error names the record; the file
// is written whole or not at all (output_file.h), so an earlier report stays as it was.
// Characters outside the code page are written as "?".
#include "query/query_result.h"

#include <QLocale>

// "####0.0##": at least one digit before and one to three after the point, rounded.
QString ReportNumber(double value);

// Today's date in the system's long date form, for line 2.
QString ReportLongDate(QDate today, const QLocale& locale = QLocale::system());

bool WriteReport(const QueryResult& result, const QString& longDate, const QString& path, QString* error);
