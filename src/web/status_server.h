#pragma once
// The recorder's read-only web server (libmicrohttpd, its own threads): the page and its files,
// /api/status, /api/stream (Server-Sent Events, one event per published snapshot and a comment
// every keepAliveMs when nothing changes) and /metrics. It reads a StatusBoard and never calls
// back into the recorder, so a slow or hostile client can only cost this server's threads.
//
// Who may read what: web/request_rules.h. At most `connections` clients at once and
// `connectionsPerAddress` from one address, `streams` of them at most for streams (429 beyond); a
// request whose header does not fit connectionMemory bytes is refused (431); a request header
// not complete headerDeadlineMs after accept (or after the previous request on the connection)
// ends the connection, however slowly it trickles; a stream whose client takes nothing for
// streamStallMs, or leaves more than streamQueueBytes unread, is ended; a client silent for
// timeoutSeconds is dropped. Nothing is logged: no request line, header or token leaves the server.
#include "web/listen_options.h"
#include "web/recorder_status.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace web {

struct ServerLimits {
    unsigned connections = 512;
    unsigned connectionsPerAddress = 256;
    unsigned streams = 64;
    unsigned connectionMemory = 32 * 1024;
    unsigned timeoutSeconds = 10;
    int headerDeadlineMs = 5000;
    int streamStallMs = 25000;
    quint64 streamQueueBytes = 256 * 1024;
    int keepAliveMs = 15000;
};

class StatusServer {
  public:
    StatusServer(StatusBoard& board, const WebSettings& settings, const ServerLimits& limits = {});
    ~StatusServer(); // Stop()
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Binds and starts serving; false and *error (the system's reason) when the address cannot be
    // bound. Port 0 takes a free port: Port() tells which.
    bool Start(QString* error);
    // Ends every stream and the server's threads; returns when they are gone.
    void Stop();
    quint16 Port() const;
    // The address to open: "http://127.0.0.1:8080/".
    QString Url() const;

    class Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace web
