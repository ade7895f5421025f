#include "web/status_server.h"

#include "web/history_service.h"
#include "web/request_rules.h"
#include "web/status_formats.h"

#include <QDateTime>
#include <QFile>
#include <condition_variable>
#ifdef __linux__
#include <linux/sockios.h>
#endif
#include <optional>
#include <set>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <thread>
#include <vector>

namespace web {

namespace {

using Clock = std::chrono::steady_clock;

struct Asset {
    QByteArray body;
    const char* type;
};

void AddCommonHeaders(MHD_Response* response)
{
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    // The page may carry its token in its address: it never goes on to another site.
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(
        response, "Content-Security-Policy",
        "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
}

std::optional<QByteArray> Value(MHD_Connection* connection, MHD_ValueKind kind, const char* key)
{
    const char* value = MHD_lookup_connection_value(connection, kind, key);
    return value ? std::optional<QByteArray>(QByteArray(value)) : std::nullopt;
}

int HostHeaders(MHD_Connection* connection)
{
    int count = 0;
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char*) {
            if (QByteArray(key).compare("Host", Qt::CaseInsensitive) == 0)
                ++*static_cast<int*>(cls);
            return MHD_YES;
        },
        &count);
    return count;
}

// Ends a connection from outside the server's thread: the server sees it closed at its next look
// and cleans up. A reset, not a goodbye: nothing more is owed to a client that stalls.
void Drop(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::shutdown(fd, SHUT_RDWR);
}

} // namespace

class StatusServer::Impl {
  public:
    // One accepted connection, from accept to close: what the sweeper needs to end it.
    struct Tracked {
        int fd = -1;
        Clock::time_point headerSince; // accept, or the end of the previous request
        bool headerDone = false;       // the current request's header has come
        bool streaming = false;
        std::atomic<quint64> streamBytes = 0; // handed to the connection by the stream
        quint64 delivered = 0;                // of those, the most the client had taken
        Clock::time_point lastProgress;
        bool dropped = false;
    };

    // One open /api/stream: what is still to be written of the current event.
    struct Stream {
        Impl* server = nullptr;
        MHD_Connection* connection = nullptr;
        Tracked* tracked = nullptr;
        quint64 sentGeneration = 0;
        QByteArray pending;
        qsizetype offset = 0;
        bool first = true;
        Clock::time_point lastWrite = Clock::now();
    };

    Impl(StatusBoard& board, const WebSettings& settings, const ServerLimits& limits)
        : board(board), settings(settings), limits(limits),
          history(HistoryApi(DataPath(QString()), [&board] { return board.Latest().status->dataFile; }),
                  [this](MHD_Connection* c, unsigned status, MHD_Response* r, bool cookie) {
                      return Queue(c, status, r, cookie);
                  })
    {
    }

    bool Start(QString* error);
    void Stop();

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                             const char* version, const char*, size_t*, void**);
    static void Notify(void* cls, MHD_Connection* connection, void** socketContext,
                       MHD_ConnectionNotificationCode code);
    static void Completed(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode);
    MHD_Result Serve(MHD_Connection* connection, const Verdict& verdict, bool head);
    MHD_Result Send(MHD_Connection* connection, unsigned status, const QByteArray& body, const char* type,
                    bool setCookie, bool persistent = false);
    MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response, bool setCookie);
    MHD_Result OpenStream(MHD_Connection* connection, bool head, bool setCookie);
    // An answer without a body, with at most one header that says why.
    MHD_Result Refuse(MHD_Connection* connection, const Verdict& verdict, const QByteArray& path = {});
    ssize_t Fill(Stream& stream, char* buffer, size_t max);
    void Close(Stream* stream);
    QByteArray CurrentJson();
    void WakeStreams();
    void Sweep();

    StatusBoard& board;
    WebSettings settings;
    ServerLimits limits;
    MHD_Daemon* daemon = nullptr;
    quint16 port = 0;
    std::map<Route, Asset> assets;

    // Streams waiting for the next snapshot, suspended; guarded by streamsMutex, as is stopping,
    // so that no stream suspends itself after the waker has looked.
    std::mutex streamsMutex;
    std::vector<Stream*> suspended;
    unsigned openStreams = 0;
    bool stopping = false;
    std::thread waker;

    // Every open connection; the sweeper ends those whose header or stream stalls.
    std::mutex trackedMutex;
    std::condition_variable sweeperStop;
    std::set<Tracked*> tracked;
    std::thread sweeper;

    HistoryService history; // /history and /api/files, rows, stats, events, series

    std::mutex jsonMutex;
    quint64 jsonGeneration = ~quint64(0);
    QByteArray json;
};

bool StatusServer::Impl::Start(QString* error)
{
    for (const auto& [route, file, type] :
         {std::tuple{Route::Page, ":/web/index.html", "text/html; charset=utf-8"},
          std::tuple{Route::Style, ":/web/style.css", "text/css; charset=utf-8"},
          std::tuple{Route::Script, ":/web/app.js", "text/javascript; charset=utf-8"}}) {
        QFile resource(QString::fromLatin1(file));
        if (!resource.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("the page's file %1 is not built into the program").arg(file);
            return false;
        }
        assets[route] = Asset{resource.readAll(), type};
    }

    sockaddr_storage address{};
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (settings.listen.address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(settings.listen.port);
        const Q_IPV6ADDR ip = settings.listen.address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, ip.c, sizeof ip.c);
        flags |= MHD_USE_IPv6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(settings.listen.port);
        in4->sin_addr.s_addr = htonl(settings.listen.address.toIPv4Address());
    }
    daemon = MHD_start_daemon(flags, settings.listen.port, nullptr, nullptr, &Impl::Answer, this,
                              MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT, limits.connections,
                              MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.connectionsPerAddress,
                              MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(limits.connectionMemory),
                              MHD_OPTION_CONNECTION_TIMEOUT, limits.timeoutSeconds,
                              MHD_OPTION_NOTIFY_CONNECTION, &Impl::Notify, this,
                              MHD_OPTION_NOTIFY_COMPLETED, &Impl::Completed, this, MHD_OPTION_END);
    if (daemon == nullptr) {
        const int code = errno;
        *error = QStringLiteral("cannot serve on %1: %2")
                     .arg(settings.listen.Text(), QString::fromLocal8Bit(std::strerror(code)));
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    port = info != nullptr ? info->port : settings.listen.port;
    stopping = false;
    waker = std::thread([this] { WakeStreams(); });
    sweeper = std::thread([this] { Sweep(); });
    return true;
}

void StatusServer::Impl::Stop()
{
    if (daemon == nullptr)
        return;
    {
        std::lock_guard lock(streamsMutex);
        stopping = true;
        for (Stream* stream : suspended)
            MHD_resume_connection(stream->connection);
        suspended.clear();
    }
    board.Wake();
    waker.join();
    history.Stop();
    {
        std::lock_guard lock(trackedMutex);
        sweeperStop.notify_all();
    }
    sweeper.join();
    MHD_stop_daemon(daemon);
    daemon = nullptr;
}

// The waker thread: every new generation (or keep-alive period) resumes the waiting streams,
// which then write what is new. The recording thread only signals the board.
void StatusServer::Impl::WakeStreams()
{
    quint64 seen = board.Generation();
    for (;;) {
        seen = board.WaitForChange(seen, limits.keepAliveMs);
        std::lock_guard lock(streamsMutex);
        if (stopping)
            return;
        for (Stream* stream : suspended)
            MHD_resume_connection(stream->connection);
        suspended.clear();
    }
}

// The sweeper thread. libmicrohttpd's own timeout is an idle timer that every byte resets, so a
// client trickling its header could hold a connection for ever; here the whole header has a
// deadline from accept, and a stream whose client stops taking what is sent is ended.
void StatusServer::Impl::Sweep()
{
    const auto headerDeadline = std::chrono::milliseconds(limits.headerDeadlineMs);
    const auto stallLimit = std::chrono::milliseconds(limits.streamStallMs);
    const auto period = std::chrono::milliseconds(std::clamp(limits.headerDeadlineMs / 4, 20, 250));
    std::unique_lock lock(trackedMutex);
    for (;;) {
        sweeperStop.wait_for(lock, period);
        {
            std::lock_guard streams(streamsMutex);
            if (stopping)
                return;
        }
        const Clock::time_point now = Clock::now();
        for (Tracked* t : tracked) {
            if (t->dropped)
                continue;
            bool drop = !t->headerDone && now - t->headerSince > headerDeadline;
            if (t->streaming) {
                int queued = 0; // sent and not yet taken by the client
#ifdef __linux__
                if (::ioctl(t->fd, SIOCOUTQ, &queued) != 0)
                    queued = 0;
#endif
                const quint64 sent = t->streamBytes;
                const quint64 delivered = sent > quint64(queued) ? sent - quint64(queued) : 0;
                if (queued == 0 || delivered > t->delivered)
                    t->lastProgress = now;
                t->delivered = std::max(t->delivered, delivered);
                drop = drop || quint64(queued) > limits.streamQueueBytes || now - t->lastProgress > stallLimit;
            }
            if (drop) {
                t->dropped = true;
                Drop(t->fd);
            }
        }
    }
}

void StatusServer::Impl::Notify(void* cls, MHD_Connection* connection, void** socketContext,
                                MHD_ConnectionNotificationCode code)
{
    Impl& self = *static_cast<Impl*>(cls);
    std::lock_guard lock(self.trackedMutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* t = new Tracked;
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        t->fd = info != nullptr ? info->connect_fd : -1;
        t->headerSince = t->lastProgress = Clock::now();
        self.tracked.insert(t);
        *socketContext = t;
    } else if (auto* t = static_cast<Tracked*>(*socketContext)) {
        // Called before the socket is closed: the sweeper never ends a reused descriptor.
        self.tracked.erase(t);
        delete t;
        *socketContext = nullptr;
    }
}

void StatusServer::Impl::Completed(void* cls, MHD_Connection* connection, void** request_cls,
                                   MHD_RequestTerminationCode)
{
    Impl& self = *static_cast<Impl*>(cls);
    self.history.Forget(*request_cls);
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (info == nullptr || info->socket_context == nullptr)
        return;
    // A connection kept alive has the same deadline for its next request's header.
    std::lock_guard lock(self.trackedMutex);
    auto* t = static_cast<Tracked*>(info->socket_context);
    t->headerDone = false;
    t->streaming = false;
    t->headerSince = Clock::now();
}

MHD_Result StatusServer::Impl::Answer(void* cls, MHD_Connection* connection, const char* url,
                                      const char* method, const char* version, const char*,
                                      size_t* upload_data_size, void** request_cls)
{
    Impl& self = *static_cast<Impl*>(cls);
    // The first call comes when the header is complete. libmicrohttpd closes a connection whose
    // answer is queued in that first call, so the answer waits for the second: keep-alive.
    if (*request_cls == nullptr) {
        static char headerSeen;
        *request_cls = &headerSeen;
        if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            info != nullptr && info->socket_context != nullptr) {
            std::lock_guard lock(self.trackedMutex);
            static_cast<Tracked*>(info->socket_context)->headerDone = true;
        }
        return MHD_YES;
    }
    // Nothing here takes a body: it is read and dropped, and the request is answered (405 for a
    // POST, say) once it is all in. An answer queued while a body is still coming is never sent.
    if (*upload_data_size != 0) {
        *upload_data_size = 0;
        return MHD_YES;
    }
    if (self.history.Owns(*request_cls))
        return self.history.Finish(connection, *request_cls);
    RequestFacts request;
    request.method = method;
    request.version = version;
    request.path = url;
    request.host = Value(connection, MHD_HEADER_KIND, "Host");
    request.hostHeaders = HostHeaders(connection);
    request.authorization = Value(connection, MHD_HEADER_KIND, "Authorization");
    request.cookie = Value(connection, MHD_COOKIE_KIND, PageCookieName);
    request.queryToken = Value(connection, MHD_GET_ARGUMENT_KIND, "token");
    const Verdict verdict = JudgeRequest(request, AccessRules{self.settings.token, self.settings.listen.IsLoopback()},
                                         QDateTime::currentSecsSinceEpoch());
    if (verdict.status != 200 && verdict.status != 404)
        return self.Refuse(connection, verdict, request.path);
    if (verdict.route == Route::NotFound && HistoryApi::Handles(request.path))
        return self.history.Begin(connection, request.path, request.method == "HEAD",
                                  request.queryToken && !self.settings.token.isEmpty(), request_cls);
    return self.Serve(connection, verdict, request.method == "HEAD");
}

MHD_Result StatusServer::Impl::Serve(MHD_Connection* connection, const Verdict& verdict, bool head)
{
    if (const auto asset = assets.find(verdict.route); asset != assets.end())
        return Send(connection, MHD_HTTP_OK, asset->second.body, asset->second.type, verdict.setCookie, true);
    switch (verdict.route) {
    case Route::Status:
        return Send(connection, MHD_HTTP_OK, CurrentJson(), "application/json", verdict.setCookie);
    case Route::Metrics:
        return Send(connection, MHD_HTTP_OK,
                    MetricsText(*board.Latest().status, CurrentProcessFigures(), QDateTime::currentDateTimeUtc()),
                    "text/plain; version=0.0.4; charset=utf-8", verdict.setCookie);
    case Route::Stream:
        return OpenStream(connection, head, verdict.setCookie);
    default:
        return Send(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain; charset=utf-8", false);
    }
}

MHD_Result StatusServer::Impl::Refuse(MHD_Connection* connection, const Verdict& verdict, const QByteArray& path)
{
    // A person who opened a protected page without its token reads what to do; nothing about the
    // token itself.
    static const char askForToken[] =
        "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Token needed</title></head><body>"
        "<h1>This recorder's page needs its access token</h1>"
        "<p>Add <code>?token=</code> and the token to the address, for example <code>/?token=&hellip;</code> "
        "or <code>/history?token=&hellip;</code>. Whoever runs the recorder has it.</p></body></html>\n";
    const bool page = verdict.status == 401 && (path == "/" || path == "/index.html" || path == "/history");
    MHD_Response* response = page ? MHD_create_response_from_buffer(sizeof askForToken - 1, const_cast<char*>(askForToken),
                                                                     MHD_RESPMEM_PERSISTENT)
                                  : MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (page)
        MHD_add_response_header(response, "Content-Type", "text/html; charset=utf-8");
    if (verdict.header != nullptr)
        MHD_add_response_header(response, verdict.header, verdict.headerValue);
    return Queue(connection, verdict.status, response, false);
}

MHD_Result StatusServer::Impl::Queue(MHD_Connection* connection, unsigned status, MHD_Response* response,
                                     bool setCookie)
{
    AddCommonHeaders(response);
    if (setCookie) {
        const QByteArray value =
            PageCookieValue(settings.token, QDateTime::currentSecsSinceEpoch() + PageCookieSeconds);
        MHD_add_response_header(response, "Set-Cookie",
                                QByteArray(PageCookieName + QByteArray("=") + value + "; Max-Age=" +
                                           QByteArray::number(PageCookieSeconds) +
                                           "; Path=/; HttpOnly; SameSite=Strict")
                                    .constData());
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result StatusServer::Impl::Send(MHD_Connection* connection, unsigned status, const QByteArray& body,
                                    const char* type, bool setCookie, bool persistent)
{
    MHD_Response* response =
        MHD_create_response_from_buffer(size_t(body.size()), const_cast<char*>(body.constData()),
                                        persistent ? MHD_RESPMEM_PERSISTENT : MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, "Content-Type", type);
    return Queue(connection, status, response, setCookie);
}

QByteArray StatusServer::Impl::CurrentJson()
{
    const StatusBoard::Snapshot latest = board.Latest();
    std::lock_guard lock(jsonMutex);
    if (latest.generation != jsonGeneration) {
        json = StatusJson(*latest.status);
        jsonGeneration = latest.generation;
    }
    return json;
}

MHD_Result StatusServer::Impl::OpenStream(MHD_Connection* connection, bool head, bool setCookie)
{
    MHD_Response* response = nullptr;
    if (head) {
        response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    } else {
        {
            // Streams never end by themselves: they may hold only part of the connections, so
            // that the page, the JSON and the metrics always find room.
            std::lock_guard lock(streamsMutex);
            if (openStreams >= std::min(limits.streams, std::max(1u, limits.connections / 2))) {
                Verdict busy;
                busy.status = MHD_HTTP_TOO_MANY_REQUESTS;
                busy.header = "Retry-After";
                busy.headerValue = "5";
                return Refuse(connection, busy);
            }
            ++openStreams;
        }
        auto* stream = new Stream;
        stream->server = this;
        stream->connection = connection;
        if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            info != nullptr && info->socket_context != nullptr) {
            std::lock_guard lock(trackedMutex);
            stream->tracked = static_cast<Tracked*>(info->socket_context);
            stream->tracked->streaming = true;
            stream->tracked->lastProgress = Clock::now();
        }
        response = MHD_create_response_from_callback(
            MHD_SIZE_UNKNOWN, 4096,
            [](void* cls, uint64_t, char* buffer, size_t max) {
                auto* s = static_cast<Stream*>(cls);
                return s->server->Fill(*s, buffer, max);
            },
            stream,
            [](void* cls) {
                auto* s = static_cast<Stream*>(cls);
                s->server->Close(s);
            });
    }
    MHD_add_response_header(response, "Content-Type", "text/event-stream; charset=utf-8");
    return Queue(connection, MHD_HTTP_OK, response, setCookie);
}

ssize_t StatusServer::Impl::Fill(Stream& stream, char* buffer, size_t max)
{
    if (stream.offset == stream.pending.size()) {
        stream.pending.clear();
        stream.offset = 0;
        std::lock_guard lock(streamsMutex);
        if (stopping)
            return MHD_CONTENT_READER_END_OF_STREAM;
        const quint64 generation = board.Generation();
        if (generation != stream.sentGeneration || stream.first) {
            stream.sentGeneration = generation;
        } else if (Clock::now() - stream.lastWrite >= std::chrono::milliseconds(limits.keepAliveMs / 2)) {
            stream.pending = ": keep-alive\n\n";
        } else {
            suspended.push_back(&stream);
            MHD_suspend_connection(stream.connection);
            return 0;
        }
    }
    if (stream.pending.isEmpty()) {
        if (stream.first)
            stream.pending = "retry: 2000\n";
        stream.first = false;
        stream.pending += "data: " + CurrentJson() + "\n\n";
    }
    const size_t count = std::min<size_t>(max, size_t(stream.pending.size() - stream.offset));
    std::memcpy(buffer, stream.pending.constData() + stream.offset, count);
    stream.offset += qsizetype(count);
    stream.lastWrite = Clock::now();
    if (stream.tracked != nullptr)
        stream.tracked->streamBytes += count;
    return ssize_t(count);
}

void StatusServer::Impl::Close(Stream* stream)
{
    {
        std::lock_guard lock(streamsMutex);
        std::erase(suspended, stream);
        --openStreams;
    }
    delete stream;
}

StatusServer::StatusServer(StatusBoard& board, const WebSettings& settings, const ServerLimits& limits)
    : m_impl(std::make_unique<Impl>(board, settings, limits))
{
}

StatusServer::~StatusServer()
{
    Stop();
}

bool StatusServer::Start(QString* error)
{
    return m_impl->Start(error);
}

void StatusServer::Stop()
{
    m_impl->Stop();
}

quint16 StatusServer::Port() const
{
    return m_impl->port;
}

QString StatusServer::Url() const
{
    ListenAddress shown = m_impl->settings.listen;
    shown.port = m_impl->port;
    return QStringLiteral("http://%1/").arg(shown.Text());
}

} // namespace web
