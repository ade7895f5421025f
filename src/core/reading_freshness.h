#pragma once
// Which readings are current. A reading is current while frames keep arriving; whatever is older
// than StaleAfterMs is never recorded as a measurement.
//
// Fed by the frame decoder (every frame it is given counts for the link; Heard for each channel it
// decoded a reading of), read by the scan cycle before each row, and by whatever shows or sends
// readings (status page, MQTT). Ages come from Host().tickCount(), the times it reports from
// Host().now(). One instance lives in the shared state (Shared.Freshness), on the thread that
// receives frames and records rows; other threads get copies of its times.
//
// - Fresh: a frame arrived within StaleAfterMs. Stale otherwise, and before the first frame.
// - A run of frames begins with the first frame after start or after a stale spell (RunStart).
// - Settled(channels): rows may be recorded: every channel 1..channels was heard in this run, or
//   StaleAfterMs have passed since the run began (a meter that never sends a channel).
// - Current(n): channel n was heard in this run, within StaleAfterMs. A row records a channel that
//   is not current as InvalidReading with an empty unit.
#include <QDateTime>
#include <QtGlobal>
#include <array>

class ReadingFreshness {
  public:
    static constexpr quint32 StaleAfterMs = 3000;
    static constexpr int Channels = 16;

    // A frame arrived (whatever its readings).
    void FrameArrived();
    // Channel n (1..Channels; others are ignored) got a reading from the frame just arrived.
    void Heard(int channel);

    bool Fresh() const;
    bool Settled(int channels) const;
    bool Current(int channel) const;
    bool AnyFrame() const { return m_any; }

    // When the last frame and the first frame of the current run arrived; null before any frame.
    QDateTime LastFrameTime() const { return m_lastFrameTime; }
    QDateTime RunStart() const { return m_runStartTime; }
    // When the last row was recorded (the scan cycle says so); null before the first.
    QDateTime LastRowTime() const { return m_lastRowTime; }
    void RowRecorded(const QDateTime& when) { m_lastRowTime = when; }

  private:
    bool m_any = false;
    quint32 m_lastFrameTick = 0;
    quint32 m_runStartTick = 0;
    QDateTime m_lastFrameTime;
    QDateTime m_runStartTime;
    QDateTime m_lastRowTime;
    std::array<bool, Channels + 1> m_heard{}; // in this run
    std::array<quint32, Channels + 1> m_heardTick{};
};
