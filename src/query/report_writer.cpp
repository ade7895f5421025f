#include "query/report_writer.h"

#include "core/cp1252.h"
#include "core/number_format.h"

#include <QDir>
#include <QFile>

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

struct ReportChannel {
    int number;
    int chan;
    int unit;
};

} // namespace

QString ReportNumber(double value)
{
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

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("The report \"%1\" cannot be written: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    const QString eol = QStringLiteral("\r\n");
    QString head = QStringLiteral("   Date      Time     ");
    for (const ReportChannel& c : channels)
        head += QStringLiteral("Display%1     Unit    ").arg(c.number);
    QString text = QString(30, QLatin1Char(' ')) + QStringLiteral("Monitor Data Report") + eol + longDate +
                   QString(50, QLatin1Char(' ')) + QStringLiteral("Page:  1") + eol + head + eol +
                   QString(80, QLatin1Char('-')) + eol;

    QString failure;
    QString line;
    for (int row = 0; row < result.rowCount() && failure.isEmpty(); ++row) {
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
            failure = QStringLiteral("Record %1 has no %2 value: the report stops before it.").arg(row + 1).arg(empty);
            break;
        }
        line = result.date(row, date).toString(QStringLiteral("yyyy/MM/dd ")) +
               result.time(row, time).toString(QStringLiteral("HH:mm:ss"));
        for (const ReportChannel& c : channels) {
            line += ReportNumber(result.reading(row, c.chan)).leftJustified(FieldWidth) + QLatin1Char(' ') +
                    result.text(row, c.unit).leftJustified(FieldWidth, QLatin1Char(' '), true);
        }
        text += line + eol;
        if (text.size() > (1 << 20)) {
            file.write(Encode(text));
            text.clear();
        }
    }
    file.write(Encode(text));
    if (failure.isEmpty() && (!file.flush() || file.error() != QFileDevice::NoError))
        failure = QStringLiteral("The report \"%1\" cannot be written: %2")
                      .arg(QDir::toNativeSeparators(path), file.errorString());
    file.close();
    if (!failure.isEmpty())
        *error = failure;
    return failure.isEmpty();
}
