#include "datafile/sql_dialect.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace {

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// The stored form of one literal's content, or a null string when it is neither date nor time.
QString StoredForm(const QString& literal)
{
    static const QRegularExpression date(QStringLiteral("^(\\d{1,4})[/-](\\d{1,2})[/-](\\d{1,2})$"));
    static const QRegularExpression time(QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?$"));
    const QString text = literal.trimmed();
    if (const auto m = date.match(text); m.hasMatch()) {
        const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        return day.isValid() ? day.toString(Qt::ISODate) : QString();
    }
    if (const auto m = time.match(text); m.hasMatch()) {
        const QTime clock(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        return clock.isValid() ? clock.toString(QStringLiteral("HH:mm:ss")) : QString();
    }
    return {};
}

} // namespace

bool TranslateStatement(const QString& statement, QString* translated, QString* error)
{
    QString out;
    out.reserve(statement.size() + 16);
    for (qsizetype i = 0; i < statement.size(); ++i) {
        const QChar c = statement[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : QLatin1Char('\'');
            qsizetype end = statement.indexOf(close, i + 1);
            if (end < 0)
                end = statement.size() - 1;
            out += QStringView(statement).mid(i, end - i + 1);
            i = end;
            continue;
        }
        if (c != QLatin1Char('#')) {
            out += c;
            continue;
        }
        const qsizetype end = statement.indexOf(QLatin1Char('#'), i + 1);
        if (end < 0)
            return Fail(
                error,
                QStringLiteral("Syntax error in date in query expression '%1'.").arg(statement.mid(i)));
        const QString literal = statement.mid(i, end - i + 1);
        const QString stored = StoredForm(literal.mid(1, literal.size() - 2));
        if (stored.isNull())
            return Fail(error, QStringLiteral("Syntax error in date in query expression '%1'.").arg(literal));
        out += QLatin1Char('\'') + stored + QLatin1Char('\'');
        i = end;
    }
    *translated = out;
    return true;
}
