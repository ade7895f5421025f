#include "core/typed_number.h"

#include <cmath>
#include <limits>

namespace {
// Length of the number at the start of text (after `from`), 0 when there is none.
qsizetype numberLength(const QString& text, qsizetype from)
{
    qsizetype i = from;
    const auto digitsAt = [&text](qsizetype at) {
        qsizetype n = 0;
        while (at + n < text.size() && text[at + n].isDigit() && text[at + n].unicode() < 128)
            ++n;
        return n;
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype whole = digitsAt(i);
    i += whole;
    qsizetype fraction = 0;
    if (i < text.size() && text[i] == u'.') {
        fraction = digitsAt(i + 1);
        if (whole + fraction > 0)
            i += 1 + fraction;
    }
    if (whole + fraction == 0)
        return 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        const qsizetype exponent = digitsAt(j);
        if (exponent > 0)
            i = j + exponent;
    }
    return i - from;
}

qsizetype firstNonBlank(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    return i;
}
} // namespace

std::optional<double> LeadingNumber(const QString& text)
{
    const qsizetype from = firstNonBlank(text);
    const qsizetype length = numberLength(text, from);
    if (length == 0)
        return std::nullopt;
    bool ok = false;
    const double value = text.mid(from, length).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> StrictNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || numberLength(trimmed, 0) != trimmed.size())
        return std::nullopt;
    return LeadingNumber(trimmed);
}

std::optional<int16_t> RoundToInt16(double value)
{
    const double rounded = std::nearbyint(value); // the default rounding mode: halves to even
    if (!(rounded >= std::numeric_limits<int16_t>::min() && rounded <= std::numeric_limits<int16_t>::max()))
        return std::nullopt;
    return int16_t(rounded);
}

std::optional<int16_t> StrictInt16(const QString& text)
{
    const std::optional<double> value = StrictNumber(text);
    return value ? RoundToInt16(*value) : std::nullopt;
}
