#include "acquisition/alarm_state.h"

#include <algorithm>
#include <cmath>

double EffectiveDeadband(const DispSetupRecord& setup)
{
    if (setup.AlarmDeadband >= 0)
        return setup.AlarmDeadband;
    const double span = std::fabs(setup.MaxValue - setup.MinValue);
    return std::isfinite(span) ? span / 100 : 0;
}

bool AlarmTracker::Feed(double value, const DispSetupRecord& setup)
{
    if (setup.HighWarning == 0 && setup.LowWarning == 0) {
        Reset();
        return false;
    }
    if (value == InvalidReading || std::isnan(value))
        return false;
    const double band = EffectiveDeadband(setup);
    AlarmLevel target = m_state;
    if (value > setup.HighWarning)
        target = AlarmLevel::High;
    else if (value < setup.LowWarning)
        target = AlarmLevel::Low;
    else if ((m_state == AlarmLevel::High && value <= setup.HighWarning - band) ||
             (m_state == AlarmLevel::Low && value >= setup.LowWarning + band))
        target = AlarmLevel::Normal;
    if (target == m_state) {
        m_held = 0;
        return false;
    }
    m_held = target == m_candidate ? m_held + 1 : 1;
    m_candidate = target;
    if (m_held < std::max<int>(1, setup.AlarmDelay))
        return false;
    m_state = target;
    m_held = 0;
    return true;
}
