#pragma once
// What meter-record shows of itself: it builds a web::RecorderStatus from the recorder, its link,
// its frame counts and the shared readings and, with a web server, publishes it on the board (the
// server's threads read it there) when it has changed, at most every PublishEveryMs; after every
// scan tick it reports to the service manager. Everything here runs on the recording thread.
#include "recorder.h"
#include "service_notify.h"
#include "web/recorder_status.h"

#include <array>

namespace meterrecord {

class RecorderWatch {
  public:
    static constexpr qint64 PublishEveryMs = 500;
    // A snapshot goes out at least this often, changed or not, so that a page can tell a quiet
    // recorder from a stopped one.
    static constexpr qint64 HeartbeatMs = 2000;
    static constexpr int ShownEvents = 20; // the latest events of the event log on the page

    // Hooks itself into the recorder's receiver, link events and ticks; lives as long as it.
    // board: where snapshots go; null without a web server.
    RecorderWatch(Recorder& recorder, const RecordOptions& options, web::StatusBoard* board);

    // withChannels false leaves the channel list empty (enough for the status line).
    web::RecorderStatus Build(bool withChannels = true) const;
    void Publish();
    ServiceNotifier& Service() { return m_service; }

  private:
    bool FrameArrived(FrameBufferArray& frame, const std::function<bool(FrameBufferArray&)>& decode);
    void LinkChanged(SerialLink::Event event);
    void TickDone(ScanCycle::Tick tick);
    void EventLogged(const LoggedEvent& event);
    // The link as shown: up while the port delivers frames and the last one is recent.
    void FollowLink(qint64 nowMs);

    Recorder& m_recorder;
    web::StatusBoard* m_board;
    ServiceNotifier m_service;
    QString m_station;
    quint64 m_rowsRecorded = 0;
    quint64 m_rowsFailed = 0;
    bool m_linkUp = false;    // the serial link says frames flow
    bool m_shownUp = false;   // ... and the last one is younger than web::LinkSilenceMs
    QDateTime m_linkSince;
    qint64 m_lastFrameMs = 0; // 0 = none yet
    qint64 m_lastRowMs = 0;
    std::array<qint64, MaxChannel + 1> m_frameMs{}; // arrival of each channel's last frame; 0 = none
    web::RecorderStatus m_published;
    qint64 m_publishedMs = 0;
    qint64 m_heartbeatMs = 0; // the last snapshot that went out
    QList<web::EventLine> m_events; // the latest events written, oldest first
};

} // namespace meterrecord
