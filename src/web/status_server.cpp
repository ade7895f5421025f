#include "web/status_server.h"

#include "web/status_formats.h"

#include <QFile>
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

constexpr char TokenCookie[] = "meter_record_token";

struct Asset {
    QByteArray body;
    const char* type;
};

// Equal length and content, in a time that does not depend on where they differ.
bool SameSecret(const char* given, const QByteArray& secret)
{
    if (given == nullptr)
        return false;
    const size_t length = std::strlen(given);
    unsigned char diff = length == size_t(secret.size()) ? 0 : 1;
    for (size_t i = 0; i < length; ++i)
        diff |=
            static_cast<unsigned char>(given[i] ^ secret[qsizetype(i % std::max<size_t>(secret.size(), 1))]);
    return diff == 0;
}

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

} // namespace

class StatusServer::Impl {
  public:
    // One open /api/stream: what is still to be written of the current event.
    struct Stream {
        Impl* server = nullptr;
        MHD_Connection* connection = nullptr;
        quint64 sentGeneration = 0;
        QByteArray pending;
        qsizetype offset = 0;
        bool first = true;
        Clock::time_point lastWrite = Clock::now();
    };

    Impl(StatusBoard& board, const WebSettings& settings, const ServerLimits& limits)
        : board(board), settings(settings), limits(limits)
    {
    }

    bool Start(QString* error);
    void Stop();

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                             const char*, const char*, size_t*, void**);
    // setCookie: the answer hands the token to the browser as a cookie.
    MHD_Result Route(MHD_Connection* connection, const std::string& url, bool head, bool setCookie);
    MHD_Result Send(MHD_Connection* connection, unsigned status, const QByteArray& body, const char* type,
                    bool setCookie, bool persistent = false);
    MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response, bool setCookie);
    MHD_Result OpenStream(MHD_Connection* connection, bool head, bool setCookie);
    // An answer without a body, with one header that says why.
    MHD_Result Refuse(MHD_Connection* connection, unsigned status, const char* header, const char* value);
    ssize_t Fill(Stream& stream, char* buffer, size_t max);
    void Close(Stream* stream);
    // True for a request that presents the token; *byQuery when it came as ?token=, which a
    // browser's page cannot repeat for the files it loads.
    bool Authorized(MHD_Connection* connection, bool* byQuery) const;
    QByteArray CurrentJson();
    void WakeStreams();

    StatusBoard& board;
    WebSettings settings;
    ServerLimits limits;
    MHD_Daemon* daemon = nullptr;
    quint16 port = 0;
    std::map<std::string, Asset> assets;

    // Streams waiting for the next snapshot, suspended; guarded by streamsMutex, as is stopping,
    // so that no stream suspends itself after the waker has looked.
    std::mutex streamsMutex;
    std::vector<Stream*> suspended;
    unsigned openStreams = 0;
    bool stopping = false;
    std::thread waker;

    std::mutex jsonMutex;
    quint64 jsonGeneration = ~quint64(0);
    QByteArray json;
};

bool StatusServer::Impl::Start(QString* error)
{
    for (const auto& [path, file, type] :
         {std::tuple{"/", ":/web/index.html", "text/html; charset=utf-8"},
          std::tuple{"/style.css", ":/web/style.css", "text/css; charset=utf-8"},
          std::tuple{"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"}}) {
        QFile resource(QString::fromLatin1(file));
        if (!resource.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("the page's file %1 is not built into the program").arg(file);
            return false;
        }
        assets[path] = Asset{resource.readAll(), type};
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
                              MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(limits.connectionMemory),
                              MHD_OPTION_CONNECTION_TIMEOUT, limits.timeoutSeconds, MHD_OPTION_END);
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

bool StatusServer::Impl::Authorized(MHD_Connection* connection, bool* byQuery) const
{
    *byQuery = false;
    if (settings.token.isEmpty())
        return true;
    if (SameSecret(MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, TokenCookie), settings.token))
        return true;
    if (const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization")) {
        static constexpr char Bearer[] = "Bearer ";
        if (strncasecmp(header, Bearer, sizeof Bearer - 1) == 0 &&
            SameSecret(header + sizeof Bearer - 1, settings.token))
            return true;
    }
    *byQuery =
        SameSecret(MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token"), settings.token);
    return *byQuery;
}

MHD_Result StatusServer::Impl::Answer(void* cls, MHD_Connection* connection, const char* url,
                                      const char* method, const char*, const char*, size_t*, void**)
{
    Impl& self = *static_cast<Impl*>(cls);
    const bool head = std::strcmp(method, "HEAD") == 0;
    if (!head && std::strcmp(method, "GET") != 0)
        return self.Refuse(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Allow", "GET, HEAD");
    bool byQuery = false;
    if (!self.Authorized(connection, &byQuery))
        return self.Refuse(connection, MHD_HTTP_UNAUTHORIZED, "WWW-Authenticate",
                           "Bearer realm=\"meter-record\"");
    // The page opened as /?token=SECRET loads its script, style and stream with a cookie that
    // holds the secret; only this server sees it (same site, not readable by scripts).
    return self.Route(connection, url, head, byQuery);
}

MHD_Result StatusServer::Impl::Route(MHD_Connection* connection, const std::string& url, bool head,
                                     bool setCookie)
{
    if (const auto asset = assets.find(url); asset != assets.end())
        return Send(connection, MHD_HTTP_OK, asset->second.body, asset->second.type, setCookie, true);
    if (url == "/api/status")
        return Send(connection, MHD_HTTP_OK, CurrentJson(), "application/json", setCookie);
    if (url == "/metrics")
        return Send(connection, MHD_HTTP_OK, MetricsText(*board.Latest().status, CurrentProcessFigures()),
                    "text/plain; version=0.0.4; charset=utf-8", setCookie);
    if (url == "/api/stream")
        return OpenStream(connection, head, setCookie);
    return Send(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain; charset=utf-8", false);
}

MHD_Result StatusServer::Impl::Refuse(MHD_Connection* connection, unsigned status, const char* header,
                                      const char* value)
{
    MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, header, value);
    return Queue(connection, status, response, false);
}

MHD_Result StatusServer::Impl::Queue(MHD_Connection* connection, unsigned status, MHD_Response* response,
                                     bool setCookie)
{
    AddCommonHeaders(response);
    if (setCookie)
        MHD_add_response_header(
            response, "Set-Cookie",
            QByteArray(TokenCookie + QByteArray("=") + settings.token + "; Path=/; HttpOnly; SameSite=Strict")
                .constData());
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
            // Streams never end by themselves: they may hold half the connections, so that the
            // page, the JSON and the metrics always find room.
            std::lock_guard lock(streamsMutex);
            if (openStreams >= std::max(1u, limits.connections / 2))
                return Refuse(connection, MHD_HTTP_TOO_MANY_REQUESTS, "Retry-After", "5");
            ++openStreams;
        }
        auto* stream = new Stream;
        stream->server = this;
        stream->connection = connection;
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
