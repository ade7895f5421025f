#include "core/reading_freshness.h"

#include "platform/host_services.h"

namespace {
// The tick counter wraps: an age is the unsigned difference.
quint32 Age(quint32 since)
{
    return Host().tickCount() - since;
}
} // namespace

void ReadingFreshness::FrameArrived()
{
    const quint32 now = Host().tickCount();
    if (!Fresh()) {
        m_heard.fill(false);
        m_runStartTick = now;
        m_runStartTime = Host().now();
    }
    m_any = true;
    m_lastFrameTick = now;
    m_lastFrameTime = Host().now();
}

void ReadingFreshness::Heard(int channel)
{
    if (channel < 1 || channel > Channels)
        return;
    m_heard[channel] = true;
    m_heardTick[channel] = Host().tickCount();
}

bool ReadingFreshness::Fresh() const
{
    return m_any && Age(m_lastFrameTick) <= StaleAfterMs;
}

bool ReadingFreshness::Settled(int channels) const
{
    if (!Fresh())
        return false;
    if (Age(m_runStartTick) >= StaleAfterMs)
        return true;
    for (int n = 1; n <= channels && n <= Channels; ++n)
        if (!m_heard[n])
            return false;
    return true;
}

bool ReadingFreshness::Current(int channel) const
{
    return channel >= 1 && channel <= Channels && Fresh() && m_heard[channel] &&
           Age(m_heardTick[channel]) <= StaleAfterMs;
}
