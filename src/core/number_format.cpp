#include "core/number_format.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace {

// Decimals a pattern asks for: the characters after its point ("###0.00" -> 2, "###0" -> 0).
int PatternDecimals(const QString& pattern)
{
    const qsizetype point = pattern.indexOf(QLatin1Char('.'));
    return point < 0 ? 0 : int(pattern.size() - point - 1);
}

} // namespace

QString FormatNumber(double value, const QString& pattern)
{
    if (pattern.isEmpty() || !std::isfinite(value))
        return QString::number(value, 'g', QLocale::FloatingPointShortest);

    const int decimals = PatternDecimals(pattern);

    // The shortest scientific form is the decimal number the value stands for: rounding its digits
    // rounds what a reader sees, not the binary approximation below or above it.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const auto e = text.find('e');
    std::string digits = text.substr(0, 1) + (e > 2 ? text.substr(2, e - 2) : std::string());
    int exponent = std::stoi(text.substr(e + 1)); // value = d.ddd * 10^exponent

    // Keep the digits down to the last decimal; the first dropped digit decides the rounding.
    const int keep = exponent + 1 + decimals;
    if (keep < 0) {
        digits.clear();
    } else {
        const bool roundUp = keep < int(digits.size()) && digits[size_t(keep)] >= '5';
        digits.resize(size_t(keep), '0');
        if (roundUp) {
            int i = keep - 1;
            for (; i >= 0 && digits[size_t(i)] == '9'; --i)
                digits[size_t(i)] = '0';
            if (i >= 0) {
                ++digits[size_t(i)];
            } else {
                digits.insert(digits.begin(), '1');
                ++exponent;
            }
        }
    }

    // digits now holds every digit from the leading one down to the last decimal.
    const int integerDigits = exponent + 1;
    std::string integerPart;
    std::string fraction;
    if (integerDigits > 0) {
        integerPart = digits.substr(0, size_t(integerDigits));
        fraction = digits.substr(size_t(integerDigits));
    } else {
        fraction = std::string(size_t(std::min(-integerDigits, decimals)), '0') + digits;
    }
    fraction.resize(size_t(decimals), '0');

    const bool zero = integerPart.find_first_not_of('0') == std::string::npos &&
                      fraction.find_first_not_of('0') == std::string::npos;
    QString out;
    if (value < 0 && !zero)
        out += QLatin1Char('-');
    if (integerPart.empty())
        out += QLatin1Char('0');
    out += QLatin1String(integerPart.data(), qsizetype(integerPart.size()));
    if (decimals > 0)
        out += QLatin1Char('.') + QLatin1String(fraction.data(), qsizetype(fraction.size()));
    return out;
}
