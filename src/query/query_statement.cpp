#include "query/query_statement.h"

#include <QRegularExpression>
#include <QTime>

const QString NoChannelMessage = QStringLiteral("Please select any channel.");

namespace {

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

QString DateLiteral(QDate date)
{
    return QStringLiteral("%1/%2/%3").arg(date.year()).arg(date.month()).arg(date.day());
}

bool ReadTime(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})\\s*$"));
    const auto m = form.match(text);
    return m.hasMatch() && QTime(m.captured(1).toInt(), m.captured(2).toInt()).isValid();
}

} // namespace

QString FieldList(const QList<int>& channels)
{
    QString fields = QStringLiteral("[date],[time],");
    for (int c : channels)
        fields += QStringLiteral("[chan %1],[unit %1],").arg(c);
    fields.chop(1);
    return fields;
}

QString ShortDateFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

QString ShortDateText(QDate date, const QLocale& locale)
{
    return locale.toString(date, ShortDateFormat(locale));
}

QDate ReadDate(const QString& text, const QLocale& locale)
{
    const QString typed = text.trimmed();
    QDate date = locale.toDate(typed, ShortDateFormat(locale));
    if (!date.isValid()) {
        date = locale.toDate(typed, QLocale::ShortFormat);
        // A two-digit year reads as 19yy; recorded data is of this century.
        if (date.isValid() && date.year() < 2000 &&
            !locale.dateFormat(QLocale::ShortFormat).contains(QLatin1String("yyyy")))
            date = date.addYears(100);
    }
    if (!date.isValid())
        date = QDate::fromString(typed, Qt::ISODate);
    if (!date.isValid())
        date = QDate::fromString(typed, QStringLiteral("yyyy/M/d"));
    return date;
}

bool BuildStatement(const QuerySpec& spec, QString* statement, QString* error, const QLocale& locale)
{
    if (spec.channels.isEmpty())
        return Fail(error, NoChannelMessage);
    const QDate start = ReadDate(spec.startDate, locale);
    const QDate end = ReadDate(spec.endDate, locale);
    for (const auto& [date, text] : {std::pair{start, spec.startDate}, std::pair{end, spec.endDate}}) {
        if (!date.isValid())
            return Fail(error, QStringLiteral("\"%1\" is not a date: type it as %2 or as yyyy-mm-dd.")
                                   .arg(text, ShortDateFormat(locale).toLower()));
    }
    QString condition =
        QStringLiteral("[date] >= #%1 # And [date] <= #%2 #").arg(DateLiteral(start), DateLiteral(end));
    if (spec.timeCondition) {
        for (const QString& time : {spec.startTime, spec.endTime}) {
            if (!ReadTime(time))
                return Fail(error,
                            QStringLiteral("\"%1\" is not a time: type hh:mm, hh 0-23, mm 0-59.").arg(time));
        }
        condition += QStringLiteral(" AND [time] >= #%1 # And [time] <= #%2 #")
                         .arg(spec.startTime.trimmed(), spec.endTime.trimmed());
    }
    *statement =
        QStringLiteral("Select %1 From [DataRecord] Where %2").arg(FieldList(spec.channels), condition);
    return true;
}
