#pragma once
// What a recording station shows of itself, as one snapshot of plain values that can cross
// threads as it is: the live displays, meter-record's status page, /api/status and /metrics, the
// service manager's status line and MQTT all read it. RecordingStation::Status builds it.
#include "core/shared_state.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// "none": no reading yet, an invalid reading, or a channel without warning limits.
enum class ChannelAlarm { None, Normal, High, Low };
QString AlarmName(ChannelAlarm alarm);
// The live displays' rule: above HighWarning is high, below LowWarning low, a reading on a limit
// is normal. A setup whose two limits are both 0 sets none (a channel that no record configures).
ChannelAlarm AlarmOf(double value, const DispSetupRecord& setup);

struct ChannelStatus {
    int channel = 0;
    // The value as the row records it (rounding, unit, decimals); empty: no reading yet, or the
    // meter's invalid-reading marker.
    std::optional<double> value;
    int decimals = 0;
    QString unit;
    ChannelAlarm alarm = ChannelAlarm::None;
    QDateTime time;       // arrival of the channel's last reading (UTC); null: none yet
    bool current = false; // the reading is current (the freshness rule) at `updated`
    // The meter's mode (Shared.ChanMode): quantity ("voltage") and flags ("dc", "hold", "rel",
    // ...); empty for a source that says none (the instrument).
    QString quantity;
    QStringList flags;
    bool operator==(const ChannelStatus&) const = default;
};

struct ForwardState {
    QString state; // "connecting", "sending", "up to date", "unreachable", "data file error", "stopped"
    QString text;  // one line for people
    qint64 backlogRows = 0; // local rows the central database does not hold yet
    bool operator==(const ForwardState&) const = default;
};

// The MQTT publisher's state, for a station that publishes.
struct MqttState {
    bool connected = false;
    QString text;
    QString url;       // the broker URL, its password starred out
    qint64 queued = 0; // rows and events waiting for the broker
    bool operator==(const MqttState&) const = default;
};

struct EventLine {
    QDateTime time;
    QString text;
    bool operator==(const EventLine&) const = default;
};

struct SourceStatus {
    QString name;
    int firstChannel = 1;
    int channels = 0;
    bool linkUp = false; // it delivered within the freshness limit
    QDateTime lastFrame; // UTC; null: none in this run
    bool operator==(const SourceStatus&) const = default;
};

struct StationStatus {
    QString station;
    QString dataFile; // the data file's name, without its folder
    qint64 rows = 0;  // rows the data file holds
    qint64 rowLimit = 0;
    bool linkUp = false; // some source's readings are current
    QDateTime linkSince; // the last change of linkUp (UTC); going down, the last frame's time
    QDateTime lastFrame; // arrival of the last valid frame (UTC); null: none in this run
    QDateTime lastRow;   // the last row recorded in this run (UTC); null: none
    QDateTime updated;   // when this snapshot was built (UTC)
    quint64 framesReceived = 0;
    quint64 framesRejected = 0;
    quint64 rowsRecorded = 0;               // in this run
    quint64 rowsFailed = 0;                 // due rows that could not be written, in this run
    quint64 rowsFailing = 0;                // of those, the ones since the last row written: rows fail now
    QString recordingOff;                   // why no row can be recorded (no usable file, damaged, full)
    std::optional<ForwardState> forward;    // empty: not forwarding
    std::optional<MqttState> mqtt;          // empty: not publishing
    std::optional<QList<EventLine>> events; // the latest events, oldest first; empty: no event log
    QList<SourceStatus> sources;
    QList<ChannelStatus> channels;          // the data file's channels, 1..N
    bool operator==(const StationStatus&) const = default;
};
