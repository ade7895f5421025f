#include "web/history_service.h"

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace web {

struct HistoryService::Job {
    QByteArray path;
    HistoryArguments arguments;
    bool head = false;
    bool setCookie = false;
    bool download = false;
    bool done = false;
    HistoryReply reply;
    int socket = -1;
};

namespace {

// True once the client has closed its end of the connection (or it failed): what it asked for
// is no longer wanted. Looked at no more often than every 100 ms.
class ClientGone {
  public:
    ClientGone(int socket, const bool* stopping) : m_socket(socket), m_stopping(stopping) {}
    bool operator()()
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_looked < std::chrono::milliseconds(100))
            return m_gone;
        m_looked = now;
        if (__atomic_load_n(m_stopping, __ATOMIC_RELAXED))
            return m_gone = true;
        if (m_socket < 0)
            return false;
#ifdef POLLRDHUP
        pollfd p{m_socket, POLLRDHUP, 0};
        m_gone = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
        return m_gone;
    }
    // What the last look found, without looking again.
    bool Known() const { return m_gone; }

  private:
    int m_socket;
    const bool* m_stopping;
    std::chrono::steady_clock::time_point m_looked{};
    bool m_gone = false;
};

// With their sizes: a decoded %00 stays in the value, to be refused, rather than cutting it short.
MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value,
                           size_t valueSize)
{
    static_cast<HistoryArguments*>(cls)->insert(QByteArray(key, qsizetype(keySize)),
                                                value ? QByteArray(value, qsizetype(valueSize)) : QByteArray());
    return MHD_YES;
}

constexpr char BusyText[] = "busy: too many history requests at once, try again shortly\n";

MHD_Response* Busy()
{
    MHD_Response* response =
        MHD_create_response_from_buffer(sizeof BusyText - 1, const_cast<char*>(BusyText), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, "Content-Type", "text/plain; charset=utf-8");
    MHD_add_response_header(response, "Retry-After", "5");
    return response;
}

} // namespace

HistoryService::HistoryService(HistoryApi api, QueueFn queue) : m_api(std::move(api)), m_queue(std::move(queue)) {}

HistoryService::~HistoryService()
{
    Stop();
}

MHD_Result HistoryService::Begin(MHD_Connection* connection, const QByteArray& path, bool head, bool setCookie,
                                 void** requestContext)
{
    HistoryArguments arguments;
    MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &CollectArgument, &arguments);
    if (HistoryApi::IsAsset(path))
        return Queue(connection, m_api.Answer(path, arguments), head, setCookie);
    auto* job = new Job{path, arguments, head, setCookie, HistoryApi::IsDownload(path), false, {}, -1};
    if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
        job->socket = info->connect_fd;
    {
        std::lock_guard lock(m_mutex);
        unsigned& waiting = job->download ? m_waitingDownloads : m_waitingQueries;
        if (m_stopping || waiting >= (job->download ? MaxWaitingDownloads : MaxWaitingQueries)) {
            delete job;
            return m_queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE, Busy(), false);
        }
        ++waiting;
        ++m_running;
        m_jobs.insert(job);
    }
    *requestContext = job;
    MHD_suspend_connection(connection);
    std::thread([this, job, connection] {
        ClientGone gone(job->socket, &m_stopping);
        // Its turn: a slot of its kind, while the client still wants the answer.
        bool admitted = false;
        {
            std::unique_lock lock(m_mutex);
            unsigned& count = job->download ? m_downloads : m_queries;
            const unsigned most = job->download ? MaxDownloads : MaxHistoryQueries;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(MaxQueueMs);
            while (!m_stopping && count >= most && std::chrono::steady_clock::now() < deadline) {
                m_slotFree.wait_for(lock, std::chrono::milliseconds(100));
                lock.unlock();
                const bool left = gone();
                lock.lock();
                if (left)
                    break;
            }
            admitted = !m_stopping && count < most && !gone.Known();
            if (admitted)
                ++count;
            --(job->download ? m_waitingDownloads : m_waitingQueries);
        }
        HistoryReply reply;
        if (admitted) {
            reply = m_api.Answer(job->path, job->arguments, std::ref(gone));
#ifdef __GLIBC__
            // A whole file's result is freed now: give the pages back, so that the resident size
            // returns to its level before a burst of large requests instead of staying at its peak.
            malloc_trim(0);
#endif
        } else {
            reply.status = MHD_HTTP_SERVICE_UNAVAILABLE;
            reply.body = BusyText;
            reply.retryAfter = true;
        }
        std::lock_guard lock(m_mutex);
        job->reply = std::move(reply);
        job->done = true;
        if (admitted)
            --(job->download ? m_downloads : m_queries);
        m_slotFree.notify_all();
        MHD_resume_connection(connection);
        --m_running;
        m_idle.notify_all();
    }).detach();
    return MHD_YES;
}

bool HistoryService::Owns(void* requestContext)
{
    std::lock_guard lock(m_mutex);
    return m_jobs.count(static_cast<Job*>(requestContext)) > 0;
}

MHD_Result HistoryService::Finish(MHD_Connection* connection, void* requestContext)
{
    auto* job = static_cast<Job*>(requestContext);
    HistoryReply reply;
    {
        std::lock_guard lock(m_mutex);
        if (!job->done)
            return MHD_YES;
        reply = std::exchange(job->reply, HistoryReply{});
    }
    return Queue(connection, reply, job->head, job->setCookie);
}

void HistoryService::Forget(void* requestContext)
{
    std::lock_guard lock(m_mutex);
    auto* job = static_cast<Job*>(requestContext);
    if (m_jobs.erase(job) == 0)
        return;
    if (job->reply.fd >= 0)
        ::close(job->reply.fd);
    delete job;
}

void HistoryService::Stop()
{
    std::unique_lock lock(m_mutex);
    __atomic_store_n(&m_stopping, true, __ATOMIC_RELAXED);
    m_slotFree.notify_all();
    m_idle.wait(lock, [this] { return m_running == 0; });
}

MHD_Result HistoryService::Queue(MHD_Connection* connection, const HistoryReply& reply, bool head, bool setCookie)
{
    MHD_Response* response = nullptr;
    if (reply.fd >= 0 && !head) {
        response = MHD_create_response_from_fd64(uint64_t(reply.size), reply.fd); // closes it
    } else {
        if (reply.fd >= 0)
            ::close(reply.fd);
        response = MHD_create_response_from_buffer(head ? 0 : size_t(reply.body.size()),
                                                   const_cast<char*>(reply.body.constData()), MHD_RESPMEM_MUST_COPY);
    }
    MHD_add_response_header(response, "Content-Type", reply.type.constData());
    if (reply.retryAfter)
        MHD_add_response_header(response, "Retry-After", "5");
    if (!reply.fileName.isEmpty())
        MHD_add_response_header(
            response, "Content-Disposition",
            ("attachment; filename=\"" + reply.fileName.toUtf8().replace('"', '_').replace('\\', '_') + '"').constData());
    return m_queue(connection, reply.status, response, setCookie && reply.status == 200);
}

} // namespace web
