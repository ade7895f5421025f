#pragma once
// Numbers typed into a window's boxes.
//
// LeadingNumber: the leading numeric part of a text, as the program has always read typed numbers:
// leading blanks skipped, an optional sign, digits with at most one decimal point, an optional
// exponent ("1e3", "2.5E-2"); whatever follows is ignored. nullopt when the text does not start
// with a number ("abc", "", "-", ".") or the number is beyond a double ("1e999").
// TypedInteger: the leading number rounded halves to even (12.5 -> 12, 13.5 -> 14), text without a
// number being 0 as the entry boxes have always read it; nullopt when the rounded value lies
// outside min..max, so a number too large for its variable is out of range instead of wrapping.
// StrictNumber: the whole text (blanks around it allowed) must be one finite number.
// StrictInt16: StrictNumber rounded halves to even, and within -32768..32767.
#include <QString>
#include <cstdint>
#include <optional>

std::optional<double> LeadingNumber(const QString& text);
std::optional<qint64> TypedInteger(const QString& text, qint64 min, qint64 max);
std::optional<double> StrictNumber(const QString& text);
std::optional<int16_t> StrictInt16(const QString& text);
// The number rounded halves to even as a 16-bit integer; nullopt outside -32768..32767.
std::optional<int16_t> RoundToInt16(double value);
