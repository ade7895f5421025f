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
    // The clock is read at most once a second (reading it costs ten times the rest of a frame);
    // a frame's time is the last reading plus the ticks since.
    if (m_clockMs == NoTime || now - m_clockTick >= ClockEveryMs) {
        m_clockTick = now;
        m_clockMs = Host().now().toMSecsSinceEpoch();
    }
    const qint64 time = m_clockMs + qint64(now - m_clockTick);
    Source& s = m_sources[size_t(source)];
    if (!s.any || s.down || now - s.lastFrameTick > StaleAfterMs) { // a new run
        for (Channel& c : m_channels)
            if (c.source == source)
                c.heard = false;
        s.runStartTick = now;
        s.runStartMs = time;
    }
    s.any = true;
    s.down = false;
    s.lastFrameTick = now;
    s.lastFrameMs = time;
}

void ReadingFreshness::Heard(int channel, int source)
{
    if (channel < 1 || channel > Channels || !SourceAt(source))
        return;
    // A reading comes with the frame its source just reported: it has that frame's times.
    const Source& s = m_sources[size_t(source)];
    Channel& c = m_channels[size_t(channel)];
    c.heard = true;
    c.source = source;
    c.tick = s.lastFrameTick;
    c.timeMs = s.lastFrameMs;
}

void ReadingFreshness::NewRun(int source)
{
    if (!SourceAt(source))
        return;
    for (Channel& c : m_channels)
        if (c.source == source)
            c.heard = false;
    Source& s = m_sources[size_t(source)];
    s.runStartTick = Host().tickCount();
    s.runStartMs = Host().now().toMSecsSinceEpoch();
}

void ReadingFreshness::Forget(int source)
{
    if (!SourceAt(source))
        return;
    m_sources[size_t(source)] = Source{};
    for (Channel& c : m_channels)
        if (c.source == source)
            c = Channel{};
}

void ReadingFreshness::SourceDown(int source)
{
    if (SourceAt(source))
        m_sources[size_t(source)].down = true;
}

bool ReadingFreshness::SourceFresh(int source) const
{
    const Source* s = SourceAt(source);
    return s && s->any && !s->down && Age(s->lastFrameTick) <= StaleAfterMs;
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
    // Rows wait for the channels only while every fresh source's run is young (the station has just
    // begun delivering); a source that returns beside one already delivering holds up no row.
    for (int s = 0; s < Sources; ++s)
        if (SourceFresh(s) && Age(m_sources[size_t(s)].runStartTick) >= StaleAfterMs)
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

QDateTime ReadingFreshness::TimeOf(qint64 ms)
{
    return ms == NoTime ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ms);
}

QDateTime ReadingFreshness::LastFrameTime() const
{
    qint64 latest = NoTime;
    for (const Source& s : m_sources)
        if (s.any && (latest == NoTime || s.lastFrameMs > latest))
            latest = s.lastFrameMs;
    return TimeOf(latest);
}

QDateTime ReadingFreshness::LastFrameTime(int source) const
{
    const Source* s = SourceAt(source);
    return s ? TimeOf(s->lastFrameMs) : QDateTime();
}

QDateTime ReadingFreshness::RunStart(int source) const
{
    const Source* s = SourceAt(source);
    return s ? TimeOf(s->runStartMs) : QDateTime();
}

QDateTime ReadingFreshness::HeardTime(int channel) const
{
    return channel >= 1 && channel <= Channels ? TimeOf(m_channels[size_t(channel)].timeMs) : QDateTime();
}
