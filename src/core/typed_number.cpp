#include "core/typed_number.h"

#include <charconv>
#include <cmath>
#include <string>
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
struct Leading {
    qsizetype length = 0; // 0: the text does not start with a number
    double value = 0;     // +-HUGE_VAL beyond a double, 0 below its smallest magnitude
};

Leading leadingNumber(const QString& text)
{
    const qsizetype from = firstNonBlank(text);
    const qsizetype length = numberLength(text, from);
    if (length == 0)
        return {};
    // from_chars, not strtod or toDouble: it ignores the C locale's decimal comma and tells an
    // overflow from an underflow.
    const std::string number = text.mid(from, length).toStdString();
    const char* begin = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0;
    if (std::from_chars(begin, number.data() + number.size(), value).ec == std::errc::result_out_of_range) {
        const bool tiny = number.find("e-") != std::string::npos || number.find("E-") != std::string::npos;
        value = tiny ? 0.0 : number[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    }
    return {length, value};
}
} // namespace

std::optional<double> LeadingNumber(const QString& text)
{
    const Leading number = leadingNumber(text);
    if (number.length == 0 || !std::isfinite(number.value))
        return std::nullopt;
    return number.value;
}

std::optional<qint64> TypedInteger(const QString& text, qint64 min, qint64 max)
{
    const double rounded = std::nearbyint(leadingNumber(text).value);
    // Only a double within -2^63 .. 2^63 (exclusive above) converts; the bounds are then compared
    // as integers, since a 64-bit bound may have no double of its own (2^63 - 1 rounds up to 2^63).
    constexpr double TwoTo63 = 9223372036854775808.0;
    if (!(rounded >= -TwoTo63 && rounded < TwoTo63))
        return std::nullopt;
    const auto value = static_cast<qint64>(rounded);
    if (value < min || value > max)
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
