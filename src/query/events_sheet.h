#pragma once
// The second sheet "Events" of an exported workbook: the events of the queried date range, oldest
// first, under the header Date, Time, UTC, Kind, Channel, Value, Text. Dates and times are
// date-time cells as on the first sheet, UTC the ISO text, an absent channel or value an empty
// cell. A text longer than a cell holds (32767 characters) is cut and says how many characters
// were left out. Called by WriteWorkbook after the first sheet is complete.
#include "datafile/event_log.h"

#include <xlsxwriter.h>

void AddEventsSheet(lxw_workbook* workbook, const QList<LoggedEvent>& events, lxw_format* dateFormat,
                    lxw_format* timeFormat);

// The events of the data file at `path` on the dates from..to, oldest first, for the sheet; false
// with *error when its event log cannot be read (the workbook is then written with an empty sheet).
bool EventsForSheet(const QString& path, const QDate& from, const QDate& to, QList<LoggedEvent>* events,
                    QString* error);

// The CSV of meter-query --events: the header "date,time,utc,kind,channel,value,text" and one line
// per event in the order given; values in plain decimals, text fields as the rows' CSV has them
// (CsvText: a leading =, +, - or @ neutralised, quoted where needed).
QString EventsCsv(const QList<LoggedEvent>& events);
