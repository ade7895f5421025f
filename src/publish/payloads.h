#pragma once
// Topics and payloads of live publishing: UTF-8 JSON with numbers as JSON numbers and times as
// ISO 8601 UTC with milliseconds ("2026-12-07T13:00:00.123Z"). Keys come out in a fixed order.
//
//   PREFIX/STATION/status      "online" / "offline" (retained)
//   PREFIX/STATION/link        "up" while frames arrive, "down" after a silence or a clean stop (retained)
//   PREFIX/STATION/channel/N   {"value": 23.4, "unit": "Lux", "time": "..."} (retained)
//                              an invalid reading: {"value": null, "invalid": true, "unit": ..., "time": ...}
//                              a meter that says its mode adds "quantity": "voltage" and
//                              "flags": ["dc", "hold", ...] (Shared.ChanMode)
//   PREFIX/STATION/row         {"row": 123, "data_file": "Data1.mdb", "date": "2026-12-07",
//                               "time": "14:00:00", "utc": "...", "channels": {"1": {...}, ...}}
//   PREFIX/STATION/event       one event of the event log, as the event log writes it
//   DISCOVERY/sensor/varnik_STATION/chN/config       discovery of channel N (retained); DISCOVERY is
//                                                    "homeassistant" unless set otherwise
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>

struct DataRow;
struct LoggedEvent;

inline const QString DefaultDiscoveryPrefix = QStringLiteral("homeassistant");

struct Topics {
    // station as given (StationId makes it topic-safe here)
    Topics(const QString& prefix, const QString& station, const QString& discoveryPrefix = DefaultDiscoveryPrefix);
    QString stationName; // as given
    QString station;     // StationId(stationName)
    QString status;
    QString link;
    QString row;
    QString event;
    QString Channel(int n) const;
    QString Discovery(int n) const;
    // The filters that match every channel topic and every discovery topic of this station.
    QString AnyChannel() const;
    QString AnyDiscovery() const;
    // The channel of a topic AnyChannel or AnyDiscovery matches; 0 for any other topic.
    int ChannelOf(const QString& topic) const;

  private:
    QString m_base;
    QString m_discoveryBase;
};

// One channel's latest reading as published.
struct Reading {
    double value = 0;
    QString unit;      // trimmed
    QDateTime time;    // arrival of the frame
    int decimals = -1; // as the channel is shown; -1: unknown
    QString quantity;  // the meter's mode; empty (and no flags) for a source that says none
    QStringList flags;
    // False for the last reading of a channel whose source fell silent while others deliver
    // ("current":false in the payload): Home Assistant shows it unavailable.
    bool current = true;
};

// What discovery announces of a channel besides its topics: a change of any of them (the meter
// switched from V to Ohm) announces the channel again.
struct ChannelTraits {
    QString unit;
    int decimals = -1; // -1: unknown
    QString quantity;  // empty: taken from the unit (QuantityOfUnit)
    bool operator==(const ChannelTraits&) const = default;
};

// How Home Assistant is told of a channel: the device class, the unit in the form that class
// takes, and the state class. Home Assistant refuses a discovery whose unit does not fit its
// device class, so a class is given only for units it takes ("VDC" goes as "V", "%RH" as "%");
// every other channel goes without a class and with its unit as recorded.
struct SensorClass {
    QString deviceClass; // empty: none
    QString unit;
    QString stateClass;  // "measurement"; "total" for energy
    bool operator==(const SensorClass&) const = default;
};
// quantity as libsigrok names it ("voltage", "rh", "spl", ...); empty: the unit's (QuantityOfUnit).
SensorClass SensorClassOf(const QString& quantity, const QString& unit);

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
// Home Assistant's sensor discovery: the classes and unit of SensorClassOf, the channel topic's
// fields as the entity's attributes (quantity and flags among them), available while both the
// status topic says "online" and the link topic "up".
QByteArray DiscoveryPayload(const Topics& topics, int n, const ChannelTraits& traits);

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
    // Channel n's held reading is not to go out (its channel is stale now).
    void Drop(int n)
    {
        if (n >= 1 && n < int(m_slots.size()))
            m_slots[size_t(n)].heldMs = -1;
    }

    static constexpr qint64 IntervalMs = 1000;

  private:
    struct Slot {
        qint64 sentMs = -1;
        qint64 heldMs = -1; // arrival of the held reading; -1: none held
    };
    std::array<Slot, 17> m_slots{};
};
