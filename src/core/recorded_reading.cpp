#include "core/recorded_reading.h"

#include "core/number_format.h"
#include "core/shared_state.h"

#include <cmath>

namespace {
bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}
} // namespace

bool RecordedReadingOf(int n, RecordedReading* out, QString* error)
{
    if (n < 1 || n > MaxChannel)
        return Fail(error, QStringLiteral("There is no channel %1.").arg(n));
    const int decimals = Shared.ChanDecimals[n];
    if (decimals < 0 || decimals >= int(Shared.DecimalFormat.size()))
        return Fail(error, QStringLiteral("Channel %1 has %2 decimals.").arg(n).arg(decimals));
    const QString text = FormatNumber(Shared.ChanValue[n], Shared.DecimalFormat[decimals]);
    bool numeric = false;
    const double value = text.toDouble(&numeric);
    if (!numeric || !std::isfinite(value))
        return Fail(error, QStringLiteral("Channel %1 reads \"%2\", which is not a number.").arg(n).arg(text));
    const DispSetupRecord& setup = Shared.DispSetup[n];
    QString unit;
    if (setup.UnitAutoSense) {
        const int code = Shared.ChanUnit[n];
        if (code < 0 || code > MaxUnitCode)
            return Fail(error, QStringLiteral("Channel %1 has the unknown unit code %2.").arg(n).arg(code));
        unit = Shared.UnitName[code];
    } else {
        unit = setup.ManualUnit;
    }
    *out = {value, unit, decimals};
    return true;
}
