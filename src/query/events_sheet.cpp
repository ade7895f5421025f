#include "query/events_sheet.h"

#include <algorithm>

namespace {

constexpr double DaySeconds = 24 * 60 * 60;
const qint64 SerialDayZero = QDate(1899, 12, 30).toJulianDay();

void Text(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, const QString& text)
{
    worksheet_write_string(sheet, row, column, text.toUtf8().constData(), nullptr);
}

} // namespace

void AddEventsSheet(lxw_workbook* workbook, const QList<LoggedEvent>& events, lxw_format* dateFormat,
                    lxw_format* timeFormat)
{
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Events");
    worksheet_set_column(sheet, 0, 1, 12, nullptr);
    worksheet_set_column(sheet, 2, 2, 26, nullptr);
    worksheet_set_column(sheet, 3, 3, 14, nullptr);
    worksheet_set_column(sheet, 6, 6, 60, nullptr);
    const QStringList header{"Date", "Time", "UTC", "Kind", "Channel", "Value", "Text"};
    for (int c = 0; c < header.size(); ++c)
        Text(sheet, 0, lxw_col_t(c), header[c]);
    lxw_row_t row = 1;
    for (const LoggedEvent& e : events) {
        if (row > LXW_ROW_MAX - 1)
            break;
        if (e.date.isValid())
            worksheet_write_number(sheet, row, 0, double(e.date.toJulianDay() - SerialDayZero), dateFormat);
        if (e.time.isValid())
            worksheet_write_number(sheet, row, 1, e.time.msecsSinceStartOfDay() / 1000.0 / DaySeconds,
                                   timeFormat);
        if (e.utc.isValid())
            Text(sheet, row, 2, e.UtcText());
        Text(sheet, row, 3, e.kind);
        if (e.channel)
            worksheet_write_number(sheet, row, 4, *e.channel, nullptr);
        if (e.value)
            worksheet_write_number(sheet, row, 5, *e.value, nullptr);
        if (!e.text.isEmpty())
            Text(sheet, row, 6, e.text);
        ++row;
    }
}

bool EventsForSheet(const QString& path, const QDate& from, const QDate& to, QList<LoggedEvent>* events,
                    QString* error)
{
    if (!ReadEvents(path, {from, to, {}}, events, error))
        return false;
    std::reverse(events->begin(), events->end());
    return true;
}
