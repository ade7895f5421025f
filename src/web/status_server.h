#pragma once
// The recorder's read-only web server (libmicrohttpd, its own threads): the page and its files,
// /api/status, /api/stream (Server-Sent Events, one event per published snapshot and a comment
// every keepAliveMs when nothing changes) and /metrics. It reads a StatusBoard and never calls
// back into the recorder, so a slow or hostile client can only cost this server's threads.
//
// Rules: only GET and HEAD (405 otherwise); with a token every request needs
// "Authorization: Bearer TOKEN" or "?token=TOKEN" (401 otherwise), or the cookie that an answer to
// "?token=TOKEN" sets, so that a page opened with its token loads its files and stream; at most `connections`
// clients at once, half of them at most for streams (429 beyond); a request whose header does not fit
// connectionMemory bytes is refused (431); a client silent for timeoutSeconds is dropped. Nothing is logged:
// no request line, header or token leaves the server.
#include "web/listen_options.h"
#include "web/recorder_status.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace web {

struct ServerLimits {
    unsigned connections = 64;
    unsigned connectionMemory = 32 * 1024;
    unsigned timeoutSeconds = 10;
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
