#pragma once
// Fields of PostgreSQL's COPY text format, appended to a batch being built. A field that holds no
// value the column takes goes as NULL (\N), so that one bad cell never holds back a batch.
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTime>
#include <QVariant>
#include <optional>

namespace CopyText {

// Text with backslash, tab, newline and carriage return escaped; NUL characters dropped.
void AppendEscaped(QByteArray& out, const QString& text);
void AppendNumber(QByteArray& out, long long n);
// A double as the shortest text that reads back the same; NaN and the infinities by name.
void AppendDouble(QByteArray& out, double v);
// A cell of a data file: a number, else NULL (an empty cell, or text someone put there).
void AppendReading(QByteArray& out, const QVariant& value);
// A row's local date and time as a timestamp without zone; NULL when either is invalid.
void AppendLocalTimestamp(QByteArray& out, const QDate& date, const QTime& time);
// Seconds since the epoch as a timestamptz in UTC; NULL when none.
void AppendInstant(QByteArray& out, std::optional<qint64> secsSinceEpoch);
inline void AppendNull(QByteArray& out)
{
    out.append("\\N");
}

} // namespace CopyText
