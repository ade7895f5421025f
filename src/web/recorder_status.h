#pragma once
// What a recorder shows of itself to the outside: its page, /api/status, /metrics and the service
// manager's status line. The recording thread builds one RecorderStatus after every scan tick and
// publishes it on a StatusBoard; the web server's threads read the latest one. Plain values only,
// so a snapshot can cross threads as it is.
#include "core/shared_state.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace web {

// Silence after which the link shows down (rows stop after the same silence).
inline constexpr qint64 LinkSilenceMs = 3000;
// A reading older than this is not shown or exported as current: the page greys it and the
// metrics leave it out.
inline constexpr qint64 ReadingFreshMs = 5000;

// "none": no reading yet, an invalid reading, or a channel without warning limits.
enum class Alarm { None, Normal, High, Low };
QString AlarmName(Alarm alarm);
// The live displays' rule: above HighWarning is high, below LowWarning low, a reading on a limit
// is normal. A setup whose two limits are both 0 sets none (a channel that no record configures).
Alarm AlarmOf(double value, const DispSetupRecord& setup);

struct ChannelStatus {
    int channel = 0;
    std::optional<double> value; // empty: no frame yet, or the meter's invalid-reading marker
    int decimals = 0;
    QString unit;
    Alarm alarm = Alarm::None;
    QDateTime time; // arrival of the channel's last frame (UTC); null: none yet
    bool operator==(const ChannelStatus&) const = default;
};

struct ForwardState {
    QString state; // "connecting", "sending", "up to date", "unreachable", "data file error", "stopped"
    QString text;  // one line for people
    qint64 backlogRows = 0; // local rows the central database does not hold yet
    bool operator==(const ForwardState&) const = default;
};

// The MQTT publisher's state, for a recorder that publishes.
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

struct RecorderStatus {
    QString station;
    QString dataFile; // the data file's name, without its folder
    qint64 rows = 0;  // rows the data file holds
    qint64 rowLimit = 0;
    bool linkUp = false; // frames are arriving: the last one came less than LinkSilenceMs ago
    QDateTime linkSince; // the last change of linkUp (UTC); going down, the last frame's time
    QDateTime lastFrame; // arrival of the last valid frame (UTC); null: none in this run
    QDateTime lastRow;   // the last row recorded in this run (UTC); null: none
    QDateTime updated;   // when this snapshot was built (UTC)
    quint64 framesReceived = 0;
    quint64 framesRejected = 0;
    quint64 rowsRecorded = 0;               // in this run
    quint64 rowsFailed = 0;                 // due rows that could not be written, in this run
    std::optional<ForwardState> forward;    // empty: not forwarding
    std::optional<MqttState> mqtt;          // empty: not publishing
    std::optional<QList<EventLine>> events; // the latest events, oldest first; empty: no event log
    QList<ChannelStatus> channels;          // the data file's channels, 1..N
    bool operator==(const RecorderStatus&) const = default;
};

// "recording Data1.mdb, 1,234 rows, link up", for the service manager.
QString StatusLine(const RecorderStatus& status);

// The latest snapshot, shared between the recording thread and the readers. Publish only swaps a
// pointer under a mutex that readers hold as briefly, so the recording thread never waits on a
// reader; each Publish counts one generation.
class StatusBoard {
  public:
    struct Snapshot {
        std::shared_ptr<const RecorderStatus> status; // never null
        quint64 generation = 0;
    };

    StatusBoard();
    void Publish(RecorderStatus status);
    Snapshot Latest() const;
    quint64 Generation() const;
    // Blocks until a generation after `seen` is published, `timeoutMs` has passed or Wake() is
    // called; returns the generation then current.
    quint64 WaitForChange(quint64 seen, int timeoutMs);
    void Wake();

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Snapshot m_latest;
    bool m_woken = false;
};

} // namespace web
