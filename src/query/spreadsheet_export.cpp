#include "query/spreadsheet_export.h"

#include "core/shared_state.h"
#include "query/events_sheet.h"
#include "query/output_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <vector>
#include <xlsxwriter.h>

namespace {

constexpr double DaySeconds = 24 * 60 * 60;
constexpr int StopEvery = 2048; // rows between two looks at stop()
const qint64 SerialDayZero = QDate(1899, 12, 30).toJulianDay();

QString Shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Cells left empty in a workbook or CSV: a reading of the invalid-reading marker, and the unit
// beside it, so that a spreadsheet's chart, sum or mean of the column stays right.
class MarkerCells {
  public:
    explicit MarkerCells(const QueryResult& result) : m_result(result)
    {
        for (int column = 0; column < result.columnCount(); ++column) {
            const int channel = result.channel(column);
            const bool isUnit = channel > 0 && result.kind(column) == QueryResult::Kind::Text;
            m_reading.push_back(isUnit ? result.columnOf(QStringLiteral("chan %1").arg(channel)) : column);
        }
    }
    bool Empty(int row, int column) const
    {
        const int reading = m_reading[size_t(column)];
        return reading >= 0 && m_result.channel(reading) > 0 &&
               m_result.kind(reading) == QueryResult::Kind::Reading && !m_result.isNull(row, reading) &&
               m_result.reading(row, reading) == InvalidReading;
    }

  private:
    const QueryResult& m_result;
    std::vector<int> m_reading; // the reading column that decides a cell, -1 for none
};


} // namespace

QString CsvText(QString text)
{
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text[0]))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        text = QLatin1Char('"') + text.replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
    return text;
}

bool WriteWorkbook(const QueryResult& result, const QString& path, QString* error,
                   const QList<LoggedEvent>* events, const std::function<bool()>& stop)
{
    if (result.rowCount() + 1 > int(LXW_ROW_MAX) || result.columnCount() > int(LXW_COL_MAX)) {
        *error = QStringLiteral("%1 records do not fit on one worksheet.").arg(result.rowCount());
        return false;
    }
    // The library writes to a path of its own choice only: it writes into a scratch folder, and the
    // finished workbook is then copied into place whole.
    const QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/varnik-book-XXXXXX"));
    const QString built = scratch.filePath(QStringLiteral("book.xlsx"));
    const QByteArray file = QFile::encodeName(built);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = scratch.isValid() ? workbook_new_opt(file.constData(), &options) : nullptr;
    if (!workbook) {
        *error = QStringLiteral("The workbook \"%1\" cannot be made.").arg(Shown(path));
        return false;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Sheet1");
    lxw_format* dateFormat = workbook_add_format(workbook);
    format_set_num_format(dateFormat, "yyyy-mm-dd");
    lxw_format* timeFormat = workbook_add_format(workbook);
    format_set_num_format(timeFormat, "hh:mm:ss");
    worksheet_set_column(sheet, 0, 5, 12, nullptr);

    std::vector<QByteArray> texts;
    texts.reserve(size_t(result.texts().size()));
    for (const QString& text : result.texts())
        texts.push_back(text.toUtf8());
    for (int column = 0; column < result.columnCount(); ++column)
        worksheet_write_string(sheet, 0, lxw_col_t(column), result.fieldNames()[column].toUtf8().constData(),
                               nullptr);
    const MarkerCells markers(result);
    for (int row = 0; row < result.rowCount(); ++row) {
        if (stop && row % StopEvery == 0 && stop()) {
            lxw_workbook_free(workbook);
            *error = CancelledMessage;
            return false;
        }
        const auto r = lxw_row_t(row + 1);
        for (int column = 0; column < result.columnCount(); ++column) {
            if (result.isNull(row, column) || markers.Empty(row, column))
                continue;
            const auto c = lxw_col_t(column);
            switch (result.kind(column)) {
            case QueryResult::Kind::Date:
                worksheet_write_number(
                    sheet, r, c, double(result.date(row, column).toJulianDay() - SerialDayZero), dateFormat);
                break;
            case QueryResult::Kind::Time:
                worksheet_write_number(sheet, r, c, result.seconds(row, column) / DaySeconds, timeFormat);
                break;
            case QueryResult::Kind::Reading:
                worksheet_write_number(sheet, r, c, result.reading(row, column), nullptr);
                break;
            case QueryResult::Kind::Text:
                worksheet_write_string(sheet, r, c, texts[size_t(result.textIndex(row, column))].constData(),
                                       nullptr);
                break;
            }
        }
    }
    if (events)
        AddEventsSheet(workbook, *events, dateFormat, timeFormat);
    const lxw_error closed = workbook_close(workbook);
    if (closed != LXW_NO_ERROR) {
        *error = QStringLiteral("The workbook \"%1\" cannot be written: %2")
                     .arg(Shown(path), QString::fromUtf8(lxw_strerror(closed)));
        return false;
    }
    return SaveOutput(
        path, QStringLiteral("workbook"),
        [&](QIODevice& out, QString* failure) {
            QFile in(built);
            if (!in.open(QIODevice::ReadOnly)) {
                *failure = QStringLiteral("The workbook \"%1\" cannot be written: %2")
                               .arg(Shown(path), in.errorString());
                return false;
            }
            while (!in.atEnd())
                out.write(in.read(1 << 20));
            return in.error() == QFileDevice::NoError;
        },
        error);
}

bool WriteCsv(const QueryResult& result, const QString& path, QString* error, const std::function<bool()>& stop)
{
    return SaveOutput(
        path, QStringLiteral("file"),
        [&](QIODevice& file, QString* failure) {
            QStringList header;
            for (const QString& name : result.fieldNames())
                header << CsvText(name);
            QString text = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
            const QString isoDate = QStringLiteral("yyyy-MM-dd");
            const MarkerCells markers(result);
            for (int row = 0; row < result.rowCount(); ++row) {
                if (stop && row % StopEvery == 0 && stop()) {
                    *failure = CancelledMessage;
                    return false;
                }
                for (int column = 0; column < result.columnCount(); ++column) {
                    if (column > 0)
                        text += QLatin1Char(',');
                    if (markers.Empty(row, column))
                        continue;
                    const bool isText = result.kind(column) == QueryResult::Kind::Text;
                    const QString value = result.display(row, column, isoDate);
                    text += isText ? CsvText(value) : value;
                }
                text += QStringLiteral("\r\n");
                if (text.size() > (1 << 20)) {
                    file.write(text.toUtf8());
                    text.clear();
                }
            }
            file.write(text.toUtf8());
            return true;
        },
        error);
}

QString NewWorkbookPath(const QString& folder, const QDateTime& when, QString* error)
{
    const QString stem = QDir(folder).filePath(when.toString(QStringLiteral("'Query-'yyyyMMdd-HHmmss")));
    QString reason;
    for (int n = 1; n <= 100; ++n) {
        const QString path = stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + QStringLiteral(".xlsx");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return path;
        reason = file.errorString();
        if (!file.exists())
            break;
    }
    *error = QStringLiteral("No workbook can be made in \"%1\": %2").arg(Shown(folder), reason);
    return {};
}
