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

QString UnitWithoutCoupling(const QString& unit)
{
    for (const QLatin1String coupling : {QLatin1String("AC+DC"), QLatin1String("AC"), QLatin1String("DC")})
        if (unit.endsWith(coupling)) {
            const QString base = unit.chopped(coupling.size());
            if (base.endsWith(QLatin1Char('V')) || base.endsWith(QLatin1Char('A')))
                return base;
        }
    return unit;
}

QString QuantityOfUnit(const QString& given)
{
    static const std::pair<const char*, const char*> quantities[] = {
        {"V", "voltage"},        {"mV", "voltage"},      {"kV", "voltage"},        {"µV", "voltage"},
        {"A", "current"},        {"mA", "current"},      {"µA", "current"},        {"Ohm", "resistance"},
        {"kOhm", "resistance"},  {"MOhm", "resistance"}, {"Ω", "resistance"},      {"Hz", "frequency"},
        {"kHz", "frequency"},    {"MHz", "frequency"},   {"°C", "temperature"},    {"°F", "temperature"},
        {"K", "temperature"},    {"%RH", "rh"},          {"F", "capacitance"},     {"mF", "capacitance"},
        {"µF", "capacitance"},   {"nF", "capacitance"},  {"pF", "capacitance"},    {"W", "power"},
        {"kW", "power"},         {"mW", "power"},        {"VA", "apparent_power"}, {"kVA", "apparent_power"},
        {"Wh", "energy"},        {"kWh", "energy"},      {"dBA", "spl"},           {"dBC", "spl"},
        {"Pa", "pressure"},      {"hPa", "pressure"},    {"kPa", "pressure"},      {"bar", "pressure"},
        {"mbar", "pressure"},    {"mmHg", "pressure"},   {"psi", "pressure"},      {"S", "conductance"},
        {"mS", "conductance"},   {"µS", "conductance"},  {"g", "mass"},            {"kg", "mass"},
        {"lb", "mass"},          {"oz", "mass"},
    };
    const QString unit = UnitWithoutCoupling(given.trimmed());
    for (const auto& [name, quantity] : quantities)
        if (unit == QString::fromUtf8(name))
            return QString::fromLatin1(quantity);
    return {};
}
