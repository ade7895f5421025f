#pragma once
// Which readings are current: the one rule every surface follows (rows, live displays, MQTT, the
// status page and /metrics). A reading is current for StaleAfterMs after the frame (or packet) that
// carried it, while its source keeps delivering; whatever is older is never recorded, published or
// shown as a measurement.
//
// A station has one or more sources of readings (source 0 is the first; at most Sources). Each
// source reports every frame it takes (FrameArrived) and each channel the frame brought a reading
// of (Heard). Fed only through the recording station and the meter's frame rule (frame_decoder.h),
// read by the scan cycle before each row and by whatever shows or sends readings. Ages come from
// Host().tickCount(), the times it reports from Host().now(). One instance lives in the shared
// state (Shared.Freshness), on the thread that receives frames and records rows; other threads get
// copies of its times.
//
// - SourceFresh(s): source s delivered within StaleAfterMs and has not said since that its link is
//   down (SourceDown). Fresh(): some source is.
// - A run of a source begins with its first frame after start or after a stale spell (RunStart).
// - Settled(channels): rows may be recorded: every channel 1..channels was heard in its source's
//   run, or StaleAfterMs have passed since the run of some fresh source began (a meter that never
//   sends a channel; a source that returns while another has been delivering holds up no row).
// - Current(n): channel n was heard in its source's run, within StaleAfterMs, and that source is
//   fresh. A row records a channel that is not current as InvalidReading with an empty unit.
#include <QDateTime>
#include <QtGlobal>
#include <array>
#include <limits>

class ReadingFreshness {
  public:
    static constexpr quint32 StaleAfterMs = 3000;
    static constexpr int Channels = 16;
    static constexpr int Sources = 8;

    // A frame of source s arrived (whatever its readings); sources outside 0..Sources-1 are ignored.
    void FrameArrived(int source = 0);
    // Source s said its link is down (its port is gone): its readings stop being current now, not
    // StaleAfterMs after its last frame; its next frame begins a new run.
    void SourceDown(int source);
    // Source s's readings so far are not to be taken as current (they waited while nothing ran): its
    // channels count as not heard, and a new run begins now, without a gap in its link.
    void NewRun(int source);
    // Source s is gone (the host replaced its sources): it and the channels it gave readings are
    // as before any frame, for whatever source takes its number next.
    void Forget(int source);
    // Channel n (1..Channels; others are ignored) got a reading from source s's frame just arrived
    // (FrameArrived comes first: the reading has that frame's times).
    void Heard(int channel, int source = 0);

    bool Fresh() const;
    bool SourceFresh(int source) const;
    bool Settled(int channels) const;
    bool Current(int channel) const;
    bool AnyFrame() const;
    bool AnyFrame(int source) const;
    // The source that last gave channel n a reading; -1 for none.
    int SourceOf(int channel) const;

    // When the last frame (of any source, or of source s) and the first frame of s's current run
    // arrived; null before any.
    QDateTime LastFrameTime() const;
    QDateTime LastFrameTime(int source) const;
    QDateTime RunStart(int source = 0) const;
    // Arrival of channel n's last reading; null before any.
    QDateTime HeardTime(int channel) const;
    // When the last row was recorded (the scan cycle says so); null before the first.
    QDateTime LastRowTime() const { return m_lastRowTime; }
    void RowRecorded(const QDateTime& when) { m_lastRowTime = when; }

  private:
    static constexpr qint64 NoTime = std::numeric_limits<qint64>::min();
    static QDateTime TimeOf(qint64 ms);
    // Times are kept as milliseconds since the epoch; a QDateTime is made only when asked for.
    struct Source {
        bool any = false;
        bool down = false; // the source said its link is down
        quint32 lastFrameTick = 0;
        quint32 runStartTick = 0;
        qint64 lastFrameMs = NoTime;
        qint64 runStartMs = NoTime;
    };
    struct Channel {
        bool heard = false; // in its source's current run
        int source = -1;
        quint32 tick = 0;
        qint64 timeMs = NoTime;
    };
    const Source* SourceAt(int source) const;
    static constexpr quint32 ClockEveryMs = 1000;
    quint32 m_clockTick = 0;
    qint64 m_clockMs = NoTime; // Host().now() at m_clockTick
    std::array<Source, Sources> m_sources{};
    std::array<Channel, Channels + 1> m_channels{};
    QDateTime m_lastRowTime;
};
