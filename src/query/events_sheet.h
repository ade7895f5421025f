#pragma once
// The second sheet "Events" of an exported workbook: the events of the queried date range, oldest
// first, under the header Date, Time, UTC, Kind, Channel, Value, Text. Dates and times are
// date-time cells as on the first sheet, UTC the ISO text, an absent channel or value an empty
// cell. Called by WriteWorkbook after the first sheet is complete.
#include "datafile/event_log.h"

#include <xlsxwriter.h>

void AddEventsSheet(lxw_workbook* workbook, const QList<LoggedEvent>& events, lxw_format* dateFormat,
                    lxw_format* timeFormat);

// The events of the data file at `path` on the dates from..to, oldest first, for the sheet; false
// with *error when its event log cannot be read (the workbook is then written with an empty sheet).
bool EventsForSheet(const QString& path, const QDate& from, const QDate& to, QList<LoggedEvent>* events,
                    QString* error);
