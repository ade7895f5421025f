#pragma once
// What meter-record shows of itself: its station's status snapshot, published on the board (the
// web server's threads read it there) when it has changed, at most every PublishEveryMs, and the
// service manager's status line after every scan tick. Everything here runs on the recording thread.
#include "recorder.h"
#include "service_notify.h"
#include "web/recorder_status.h"

namespace meterrecord {

class RecorderWatch {
  public:
    static constexpr qint64 PublishEveryMs = 500;
    // A snapshot goes out at least this often, changed or not, so that a page can tell a quiet
    // recorder from a stopped one.
    static constexpr qint64 HeartbeatMs = 2000;

    // Follows the recorder's ticks; lives as long as it. board: where snapshots go; null without a
    // web server.
    RecorderWatch(Recorder& recorder, web::StatusBoard* board);

    void Publish();
    ServiceNotifier& Service() { return m_service; }
    // The service manager's status line now.
    QString StatusLine() const;

  private:
    void TickDone();
    void Publish(web::RecorderStatus status);

    Recorder& m_recorder;
    web::StatusBoard* m_board;
    ServiceNotifier m_service;
    web::RecorderStatus m_published;
    qint64 m_publishedMs = 0;
    qint64 m_heartbeatMs = 0; // the last snapshot that went out
};

} // namespace meterrecord
