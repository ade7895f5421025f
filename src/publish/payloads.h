#pragma once
// Topics and payloads of live publishing: UTF-8 JSON with numbers as JSON numbers and times as
// ISO 8601 UTC with milliseconds ("2026-12-07T13:00:00.123Z"). Keys come out in a fixed order.
//
//   PREFIX/STATION/status      "online" / "offline" (retained)
//   PREFIX/STATION/link        "up" while frames arrive, "down" after a silence or a clean stop (retained)
//   PREFIX/STATION/channel/N   {"value": 23.4, "unit": "Lux", "time": "..."} (retained)
//                              an invalid reading: {"value": null, "invalid": true, "unit": ..., "time": ...}
//   PREFIX/STATION/row         {"row": 123, "data_file": "Data1.mdb", "date": "2026-12-07",
//                               "time": "14:00:00", "utc": "...", "channels": {"1": {...}, ...}}
//   PREFIX/STATION/event       one event of the event log, as the event log writes it
//   DISCOVERY/sensor/varnik_STATION/chN/config       discovery of channel N (retained); DISCOVERY is
//                                                    "homeassistant" unless set otherwise
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
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
};

// What discovery announces of a channel besides its topics.
struct ChannelTraits {
    QString unit;
    int decimals = -1; // -1: unknown
    bool operator==(const ChannelTraits&) const = default;
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
// Home Assistant's sensor discovery: state class "measurement", the device class the unit names
// (see DeviceClassOf), available while both the status topic says "online" and the link topic "up".
QByteArray DiscoveryPayload(const Topics& topics, int n, const ChannelTraits& traits);
// "temperature" for °C and °F, "voltage" for V and mV, "current" for A and mA, "frequency" for Hz,
// "humidity" for %RH; empty for any other unit.
QString DeviceClassOf(const QString& unit);

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
