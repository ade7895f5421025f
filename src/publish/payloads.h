#pragma once
// Topics and payloads of live publishing: UTF-8 JSON with numbers as JSON numbers and times as
// ISO 8601 UTC with milliseconds ("2026-12-07T13:00:00.123Z"). Keys come out in a fixed order.
//
//   PREFIX/STATION/status      "online" / "offline" (retained)
//   PREFIX/STATION/channel/N   {"value": 23.4, "unit": "Lux", "time": "..."} (retained)
//                              an invalid reading: {"value": null, "invalid": true, "unit": ..., "time": ...}
//   PREFIX/STATION/row         {"row": 123, "data_file": "Data1.mdb", "date": "2026-12-07",
//                               "time": "14:00:00", "utc": "...", "channels": {"1": {...}, ...}}
//   PREFIX/STATION/event       one event of the event log, as the event log writes it
//   homeassistant/sensor/varnik_STATION/chN/config   discovery of channel N (retained)
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

struct DataRow;
struct LoggedEvent;

struct Topics {
    Topics(const QString& prefix, const QString& station); // station as given; made topic-safe here
    QString station; // topic-safe
    QString status;
    QString row;
    QString event;
    QString Channel(int n) const;
    QString Discovery(int n) const;

  private:
    QString m_base;
};

// One channel's latest reading as published.
struct Reading {
    double value = 0;
    QString unit;   // trimmed
    QDateTime time; // arrival of the frame
};

// The reading of channel n as the shared state holds it after a frame: rounded to the channel's
// decimals as a recorded row has it, with the unit a row would get (the meter's or the manual one).
Reading CurrentReading(int n, const QDateTime& time);

// "2026-12-07T13:00:00.123Z"
QByteArray UtcText(const QDateTime& time);

QByteArray ReadingPayload(const Reading& reading);
// rowNumber: the row's number in its data file; dataFile: the file's name without folders.
QByteArray RowPayload(const DataRow& row, qint64 rowNumber, const QString& dataFile);
// {"data_file": ..., "date", "time", "utc", "kind", "channel" (or null), "value" (or null), "text"}
QByteArray EventPayload(const LoggedEvent& event, const QString& dataFile);
QByteArray DiscoveryPayload(const Topics& topics, int n, const QString& unit);

// Publishes each channel at most once a second, the first reading after a quiet second at once. A
// reading not followed by another within a second is published late rather than never, so that the
// retained value is the channel's last. Times are milliseconds of a monotonic clock.
class ReadingThrottle {
  public:
    // A new reading of channel n (1..16): true when it goes out now; otherwise it is held.
    bool Offer(int n, qint64 nowMs);
    // The held readings due now (oldest first by channel number); each counts as published.
    QList<int> TakeDue(qint64 nowMs);
    void Reset() { *this = ReadingThrottle(); }

    static constexpr qint64 IntervalMs = 1000;

  private:
    struct Slot {
        qint64 sentMs = -1;
        qint64 heldMs = -1; // arrival of the held reading; -1: none held
    };
    std::array<Slot, 17> m_slots{};
};
