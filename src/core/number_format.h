#pragma once
// Number-to-text formatting with the program's "###0.00"-style patterns, used by the scan cycle
// for recorded readings and by the displays.
//
// A pattern gives at least one integer digit and exactly as many decimals as it has characters
// after its point; the value is rounded half away from zero on its shortest decimal form, so what
// reads 2.675 becomes "2.68" although the nearest double lies just below 2.675. No thousands
// separator, a leading minus for negative values, never "-0.00". An empty pattern gives the
// shortest text that reads back as the same double (7.25 -> "7.25"). Not-finite values come back
// in general form ("nan", "inf"); callers that store numbers treat them as errors.
#include <QString>
#include <optional>

QString FormatNumber(double value, const QString& pattern);

// The leading number of text a user typed, as the program reads its entry boxes: leading blanks
// skipped, then an optional sign, digits with at most one decimal point and an optional exponent;
// whatever follows is ignored. Text without a number gives 0 ("12.5 s" -> 12.5, "abc" -> 0).
double LeadingNumber(const QString& text);

// LeadingNumber rounded to an integer with halves to even (12.5 -> 12, 13.5 -> 14); nullopt when
// the rounded value lies outside min..max, so a number too large for its variable is out of range
// instead of wrapping round.
std::optional<qint64> TypedInteger(const QString& text, qint64 min, qint64 max);
