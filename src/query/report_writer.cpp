#include "query/report_writer.h"

#include "core/cp1252.h"
#include "core/number_format.h"
#include "query/output_file.h"

#include <QIODevice>

#include <charconv>
#include <cmath>
#include <string_view>

namespace {

constexpr int FieldWidth = 10;

QByteArray Encode(const QString& line)
{
    QByteArray bytes;
    if (ToCp1252(line, &bytes))
        return bytes;
    bytes.clear();
    for (const QChar c : line) {
        QByteArray one;
        bytes += ToCp1252(QString(c), &one) ? one : QByteArray("?");
    }
    return bytes;
}

QLatin1StringView Blanks(qsizetype count)
{
    static const char blanks[] = "           ";
    return QLatin1StringView(blanks, std::clamp<qsizetype>(count, 0, FieldWidth + 1));
}

struct ReportChannel {
    int number;
    int chan;
    int unit;
};

} // namespace

QString ReportNumber(double value)
{
    // Fast path: a reading recorded with up to three decimals is already its shortest exact form.
    char buffer[64];
    const auto done = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (done.ec == std::errc() && value != 0 && std::isfinite(value)) {
        const std::string_view shortest(buffer, size_t(done.ptr - buffer));
        const size_t point = shortest.find('.');
        if (point == std::string_view::npos)
            return QString::fromLatin1(shortest.data(), qsizetype(shortest.size())) + QStringLiteral(".0");
        if (shortest.size() - point - 1 <= 3)
            return QString::fromLatin1(shortest.data(), qsizetype(shortest.size()));
    }
    QString text = FormatNumber(value, QStringLiteral("###0.000"));
    qsizetype keep = text.size();
    while (keep > 0 && text[keep - 1] == QLatin1Char('0') && text[keep - 2] != QLatin1Char('.'))
        --keep;
    text.truncate(keep);
    return text;
}

QString ReportLongDate(QDate today, const QLocale& locale)
{
    return locale.toString(today, QLocale::LongFormat);
}

bool WriteReport(const QueryResult& result, const QString& longDate, const QString& path, QString* error)
{
    const int date = result.columnOf(QStringLiteral("date"));
    const int time = result.columnOf(QStringLiteral("time"));
    QList<ReportChannel> channels;
    for (int column = 0; column < result.columnCount(); ++column) {
        if (result.kind(column) != QueryResult::Kind::Reading)
            continue;
        const int number = result.channel(column);
        channels.append({number, column, result.columnOf(QStringLiteral("unit %1").arg(number))});
    }
    if (date < 0 || time < 0) {
        *error = QStringLiteral("The query result has no date or time field to report.");
        return false;
    }

    const QString eol = QStringLiteral("\r\n");
    QString head = QStringLiteral("   Date      Time     ");
    for (const ReportChannel& c : channels)
        head += QStringLiteral("Display%1     Unit    ").arg(c.number);
    QString text = QString(30, QLatin1Char(' ')) + QStringLiteral("Monitor Data Report") + eol + longDate +
                   QString(50, QLatin1Char(' ')) + QStringLiteral("Page:  1") + eol + head + eol +
                   QString(80, QLatin1Char('-')) + eol;

    return SaveOutput(
        path, QStringLiteral("report"),
        [&](QIODevice& file, QString* failure) {
            QDate lastDay;
            QString dayText;
            for (int row = 0; row < result.rowCount(); ++row) {
                QString empty;
                if (result.isNull(row, date) || result.isNull(row, time))
                    empty = result.isNull(row, date) ? QStringLiteral("date") : QStringLiteral("time");
                for (const ReportChannel& c : channels) {
                    if (empty.isEmpty() && result.isNull(row, c.chan))
                        empty = result.fieldNames()[c.chan];
                    if (empty.isEmpty() && (c.unit < 0 || result.isNull(row, c.unit)))
                        empty = QStringLiteral("unit %1").arg(c.number);
                }
                if (!empty.isEmpty()) {
                    *failure = QStringLiteral("Record %1 has no %2 value: the report is not written.")
                                   .arg(row + 1)
                                   .arg(empty);
                    return false;
                }
                const QDate day = result.date(row, date);
                if (day != lastDay) {
                    lastDay = day;
                    dayText = day.toString(QStringLiteral("yyyy/MM/dd "));
                }
                const int seconds = result.seconds(row, time);
                text += dayText;
                const char clock[8] = {char('0' + seconds / 36000),   char('0' + seconds / 3600 % 10), ':',
                                       char('0' + seconds / 600 % 6), char('0' + seconds / 60 % 10),   ':',
                                       char('0' + seconds % 60 / 10), char('0' + seconds % 10)};
                text += QLatin1StringView(clock, 8);
                for (const ReportChannel& c : channels) {
                    const QString reading = ReportNumber(result.reading(row, c.chan));
                    text += reading;
                    text += Blanks(FieldWidth - reading.size());
                    text += QLatin1Char(' ');
                    const QString& unit = result.text(row, c.unit);
                    text += QStringView(unit).left(FieldWidth);
                    text += Blanks(FieldWidth - unit.size());
                }
                text += eol;
                if (text.size() > (1 << 20)) {
                    file.write(Encode(text));
                    text.clear();
                }
            }
            file.write(Encode(text));
            return true;
        },
        error);
}
