#pragma once
// What a recorder shows of itself to the outside: its page, /api/status, /metrics and the service
// manager's status line. The recorder publishes its station's status snapshot (station_status.h)
// on a StatusBoard; the web server's threads read the latest one.
#include "station/station_status.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace web {

// A reading is current for this long after the frame that carried it, and the link shows down
// after the same silence: the recording station's one rule, applied again at the moment a page
// or a scrape reads a snapshot (a recorder that stopped publishing is not taken for a live one).
inline constexpr qint64 LinkSilenceMs = ReadingFreshness::StaleAfterMs;
inline constexpr qint64 ReadingFreshMs = ReadingFreshness::StaleAfterMs;

using Alarm = ChannelAlarm;
using ::AlarmName;
using ::AlarmOf;
using ChannelStatus = ::ChannelStatus;
using ForwardState = ::ForwardState;
using MqttState = ::MqttState;
using EventLine = ::EventLine;
using RecorderStatus = ::StationStatus;

// "recording Data1.mdb, 1,234 rows, link up", for the service manager; while rows fail,
// "rows failing (N not recorded)" follows the row count.
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
