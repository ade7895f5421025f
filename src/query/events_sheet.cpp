#include "query/events_sheet.h"

#include "query/query_result.h"
#include "query/spreadsheet_export.h"

#include <algorithm>

namespace {

constexpr double DaySeconds = 24 * 60 * 60;
const qint64 SerialDayZero = QDate(1899, 12, 30).toJulianDay();

void Text(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, QString text)
{
    // The library refuses a longer text and writes nothing: it is cut, and says so.
    constexpr qsizetype CellLimit = 32767; // characters a cell holds
    const QList<uint> characters = text.toUcs4();
    if (characters.size() > CellLimit) {
        const qsizetype keep = CellLimit - 80;
        text = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()), keep) +
               QStringLiteral(" [cut here: %1 more characters in the data file]").arg(characters.size() - keep);
    }
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

QString EventsCsv(const QList<LoggedEvent>& events)
{
    QString csv = QStringLiteral("date,time,utc,kind,channel,value,text\n");
    for (const LoggedEvent& e : events) {
        const QStringList fields{e.date.toString(Qt::ISODate),
                                 e.time.toString(QStringLiteral("HH:mm:ss")),
                                 e.utc.isValid() ? e.UtcText() : QString(),
                                 CsvText(e.kind),
                                 e.channel ? QString::number(*e.channel) : QString(),
                                 e.value ? PlainNumber(*e.value) : QString(),
                                 CsvText(e.text)};
        csv += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return csv;
}
