#pragma once
// The instant of a recorded row: its local date and time (the station's wall clock, as the data file
// keeps them) read in the station's time zone. Rows are fed in the order they were recorded, so
// the hour that repeats when clocks go back is told apart by order: a wall-clock time that occurs
// twice is its first occurrence unless an earlier row already lies past it. A time that never
// occurs (skipped when clocks go forward) is read with the offset in force before the change.
//
// Used by the forwarder for the central column recorded_utc; one per data file and pass.
#include <QDate>
#include <QHash>
#include <QList>
#include <QTime>
#include <QTimeZone>
#include <optional>

class RecordedUtc {
  public:
    explicit RecordedUtc(const QTimeZone& zone = QTimeZone::systemTimeZone()) : m_zone(zone) {}

    // The instant of the row before the next one fed, when known (the last row the server holds).
    void Follow(std::optional<qint64> secsSinceEpoch) { m_last = secsSinceEpoch; }

    // Seconds since the epoch of a row recorded at this local date and time; nullopt for an
    // invalid date or time (the row goes without one, and does not count as the row before).
    std::optional<qint64> Next(const QDate& date, const QTime& time);

  private:
    // UTC offsets (seconds) at which the local time `local` (seconds since the epoch as if UTC)
    // occurs, earliest instant first; empty when it never occurs.
    const QList<int>& Offsets(qint64 local);

    QTimeZone m_zone;
    std::optional<qint64> m_last;
    QHash<qint64, QList<int>> m_cache; // by quarter hour of local time
};
