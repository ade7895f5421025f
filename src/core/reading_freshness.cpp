#include "core/reading_freshness.h"

#include "platform/host_services.h"

namespace {
// The tick counter wraps: an age is the unsigned difference.
quint32 Age(quint32 since)
{
    return Host().tickCount() - since;
}
} // namespace

const ReadingFreshness::Source* ReadingFreshness::SourceAt(int source) const
{
    return source >= 0 && source < Sources ? &m_sources[size_t(source)] : nullptr;
}

void ReadingFreshness::FrameArrived(int source)
{
    if (!SourceAt(source))
        return;
    const quint32 now = Host().tickCount();
    Source& s = m_sources[size_t(source)];
    if (!SourceFresh(source)) {
        for (Channel& c : m_channels)
            if (c.source == source)
                c.heard = false;
        s.runStartTick = now;
        s.runStartTime = Host().now();
    }
    s.any = true;
    s.lastFrameTick = now;
    s.lastFrameTime = Host().now();
}

void ReadingFreshness::Heard(int channel, int source)
{
    if (channel < 1 || channel > Channels || !SourceAt(source))
        return;
    Channel& c = m_channels[size_t(channel)];
    c.heard = true;
    c.source = source;
    c.tick = Host().tickCount();
    c.time = Host().now();
}

bool ReadingFreshness::SourceFresh(int source) const
{
    const Source* s = SourceAt(source);
    return s && s->any && Age(s->lastFrameTick) <= StaleAfterMs;
}

bool ReadingFreshness::Fresh() const
{
    for (int s = 0; s < Sources; ++s)
        if (SourceFresh(s))
            return true;
    return false;
}

bool ReadingFreshness::Settled(int channels) const
{
    if (!Fresh())
        return false;
    bool runsOld = true;
    for (int s = 0; s < Sources; ++s)
        if (SourceFresh(s) && Age(m_sources[size_t(s)].runStartTick) < StaleAfterMs)
            runsOld = false;
    if (runsOld)
        return true;
    for (int n = 1; n <= channels && n <= Channels; ++n)
        if (!m_channels[size_t(n)].heard)
            return false;
    return true;
}

bool ReadingFreshness::Current(int channel) const
{
    if (channel < 1 || channel > Channels)
        return false;
    const Channel& c = m_channels[size_t(channel)];
    return c.heard && SourceFresh(c.source) && Age(c.tick) <= StaleAfterMs;
}

bool ReadingFreshness::AnyFrame() const
{
    for (const Source& s : m_sources)
        if (s.any)
            return true;
    return false;
}

bool ReadingFreshness::AnyFrame(int source) const
{
    const Source* s = SourceAt(source);
    return s && s->any;
}

int ReadingFreshness::SourceOf(int channel) const
{
    return channel >= 1 && channel <= Channels ? m_channels[size_t(channel)].source : -1;
}

QDateTime ReadingFreshness::LastFrameTime() const
{
    QDateTime latest;
    for (const Source& s : m_sources)
        if (s.any && (!latest.isValid() || s.lastFrameTime > latest))
            latest = s.lastFrameTime;
    return latest;
}

QDateTime ReadingFreshness::LastFrameTime(int source) const
{
    const Source* s = SourceAt(source);
    return s ? s->lastFrameTime : QDateTime();
}

QDateTime ReadingFreshness::RunStart(int source) const
{
    const Source* s = SourceAt(source);
    return s ? s->runStartTime : QDateTime();
}

QDateTime ReadingFreshness::HeardTime(int channel) const
{
    return channel >= 1 && channel <= Channels ? m_channels[size_t(channel)].time : QDateTime();
}
