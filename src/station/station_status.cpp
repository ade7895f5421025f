#include "station/station_status.h"

QString AlarmName(ChannelAlarm alarm)
{
    switch (alarm) {
    case ChannelAlarm::Normal:
        return QStringLiteral("normal");
    case ChannelAlarm::High:
        return QStringLiteral("high");
    case ChannelAlarm::Low:
        return QStringLiteral("low");
    case ChannelAlarm::None:
        break;
    }
    return QStringLiteral("none");
}

ChannelAlarm AlarmOf(double value, const DispSetupRecord& setup)
{
    if (value == InvalidReading || (setup.HighWarning == 0 && setup.LowWarning == 0))
        return ChannelAlarm::None;
    if (value > setup.HighWarning)
        return ChannelAlarm::High;
    if (value < setup.LowWarning)
        return ChannelAlarm::Low;
    return ChannelAlarm::Normal;
}
