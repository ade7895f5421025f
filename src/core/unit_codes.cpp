#include "core/unit_codes.h"

#include "core/shared_state.h"

int16_t UnitCodeFor(const QString& given)
{
    const QString text = given.left(10);
    if (text.isEmpty())
        return 0;
    for (int code = 1; code <= MaxUnitCode; ++code)
        if (Shared.UnitName[code] == text)
            return int16_t(code);
    for (int code = MaxUnitCode; code >= std::max<int>(Shared.UnitCount, 1); --code)
        if (Shared.UnitName[code].isEmpty()) {
            Shared.UnitName[code] = text;
            return int16_t(code);
        }
    return 0;
}
