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

QString FormatNumber(double value, const QString& pattern);
