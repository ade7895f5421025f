#include "forward/copy_text.h"

#include <QDateTime>

#include <charconv>
#include <cmath>

void CopyText::AppendEscaped(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out.append("\\\\");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\0':
            break; // a PostgreSQL text cannot hold it
        default:
            out.append(c);
        }
    }
}

void CopyText::AppendNumber(QByteArray& out, long long n)
{
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
    out.append(buffer, end - buffer);
}

void CopyText::AppendDouble(QByteArray& out, double v)
{
    if (std::isnan(v)) {
        out.append("NaN");
    } else if (std::isinf(v)) {
        out.append(v > 0 ? "Infinity" : "-Infinity");
    } else {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
        out.append(buffer, end - buffer);
    }
}

void CopyText::AppendReading(QByteArray& out, const QVariant& value)
{
    bool ok = false;
    const double v = value.isNull() || value.typeId() == QMetaType::QString ? 0.0 : value.toDouble(&ok);
    if (ok)
        AppendDouble(out, v);
    else
        AppendNull(out);
}

void CopyText::AppendLocalTimestamp(QByteArray& out, const QDate& d, const QTime& t)
{
    if (!d.isValid() || !t.isValid() || d.year() < 1) {
        AppendNull(out);
        return;
    }
    out.append(d.toString(Qt::ISODate).toLatin1());
    out.append(' ');
    out.append(t.toString(QStringLiteral("HH:mm:ss")).toLatin1());
}

void CopyText::AppendInstant(QByteArray& out, std::optional<qint64> secsSinceEpoch)
{
    const QDateTime at =
        secsSinceEpoch ? QDateTime::fromSecsSinceEpoch(*secsSinceEpoch, Qt::UTC) : QDateTime();
    if (!at.isValid() || at.date().year() < 1 || at.date().year() > 9999) {
        AppendNull(out);
        return;
    }
    out.append(at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1());
    out.append("+00");
}
