#include "core/statement_format.h"

#include "core/cp1252.h"

#include <QRegularExpression>
#include <cmath>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDecimalNumber(const QByteArray& text)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)"));
    return pattern.match(QLatin1StringView(text)).hasMatch();
}

} // namespace

void StatementWriter::separate()
{
    if (!m_lineStart)
        m_bytes.append(',');
    m_lineStart = false;
}

bool StatementWriter::addText(const QString& value, QString* error)
{
    QByteArray encoded;
    QChar bad;
    if (value.contains(QLatin1Char('"'))) {
        *error =
            QStringLiteral("the text \"%1\" holds a double quote, which the file cannot store").arg(value);
        return false;
    }
    if (!ToCp1252(value, &encoded, &bad)) {
        *error = QStringLiteral("the text \"%1\" holds the character '%2', which Windows-1252 cannot store")
                     .arg(value, bad);
        return false;
    }
    separate();
    m_bytes.append('"').append(encoded).append('"');
    return true;
}

void StatementWriter::addNumber(qint64 value)
{
    separate();
    m_bytes.append(QByteArray::number(value));
}

void StatementWriter::endStatement()
{
    m_bytes.append("\r\n");
    m_lineStart = true;
}

bool StatementReader::atLineEnd() const
{
    return m_pos < m_bytes.size() && (m_bytes[m_pos] == '\r' || m_bytes[m_pos] == '\n');
}

// CR LF, a lone CR and a lone LF each end one line.
void StatementReader::takeLineEnd()
{
    if (m_bytes[m_pos] == '\r' && m_pos + 1 < m_bytes.size() && m_bytes[m_pos + 1] == '\n')
        ++m_pos;
    ++m_pos;
    ++m_line;
}

void StatementReader::skipBlanks()
{
    while (m_pos < m_bytes.size() && IsBlank(m_bytes[m_pos]))
        ++m_pos;
}

bool StatementReader::atEnd() const
{
    for (qsizetype i = m_pos; i < m_bytes.size(); ++i) {
        const char c = m_bytes[i];
        if (!IsBlank(c) && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

QString StatementReader::lineError(const QString& what) const
{
    return QStringLiteral("line %1: %2").arg(m_fieldLine).arg(what);
}

bool StatementReader::readField(QByteArray* field, QString* error)
{
    skipBlanks();
    // After a line end, empty lines separate nothing; after a comma, a line end closes an empty field.
    while (m_afterLineEnd && atLineEnd()) {
        takeLineEnd();
        skipBlanks();
    }
    m_fieldLine = m_line;
    if (m_pos >= m_bytes.size()) {
        *error = lineError(QStringLiteral("unexpected end of file"));
        return false;
    }

    const qsizetype size = m_bytes.size();
    m_fieldStart = m_pos;
    m_textAfterQuote = false;
    if (m_bytes[m_pos] == '"') {
        const qsizetype start = ++m_pos;
        while (m_pos < size && m_bytes[m_pos] != '"') {
            if (atLineEnd())
                takeLineEnd();
            else
                ++m_pos;
        }
        *field = m_bytes.mid(start, m_pos - start);
        if (m_pos < size)
            ++m_pos;
        while (m_pos < size && m_bytes[m_pos] != ',' && !atLineEnd()) {
            m_textAfterQuote = m_textAfterQuote || !IsBlank(m_bytes[m_pos]);
            ++m_pos;
        }
    } else {
        const qsizetype start = m_pos;
        while (m_pos < size && m_bytes[m_pos] != ',' && !atLineEnd())
            ++m_pos;
        qsizetype end = m_pos;
        while (end > start && IsBlank(m_bytes[end - 1]))
            --end;
        *field = m_bytes.mid(start, end - start);
    }

    m_fieldEnd = m_pos;
    m_afterLineEnd = m_pos >= size || atLineEnd();
    if (m_pos < size) {
        if (m_afterLineEnd)
            takeLineEnd();
        else
            ++m_pos;
    }
    return true;
}

QString StatementReader::rawField() const
{
    return FromCp1252(m_bytes.mid(m_fieldStart, m_fieldEnd - m_fieldStart).trimmed());
}

bool StatementReader::readText(QString* value, QString* error)
{
    QByteArray field;
    if (!readField(&field, error))
        return false;
    *value = FromCp1252(field);
    return true;
}

bool StatementReader::readNumber(qint64 min, qint64 max, qint64* value, QString* error)
{
    QByteArray field;
    if (!readField(&field, error))
        return false;
    const QByteArray text = field.trimmed();
    if (!IsDecimalNumber(text)) {
        *error = lineError(QStringLiteral("\"%1\" is not a number").arg(FromCp1252(field)));
        return false;
    }
    bool converted = false;
    // Halves go to the even neighbour, as everywhere else the program rounds to an integer.
    const double rounded = std::nearbyint(text.toDouble(&converted));
    if (!converted || !(rounded >= static_cast<double>(min) && rounded <= static_cast<double>(max))) {
        *error = lineError(
            QStringLiteral("%1 is out of range (%2 to %3)").arg(QString::fromLatin1(text)).arg(min).arg(max));
        return false;
    }
    *value = static_cast<qint64>(rounded);
    return true;
}
