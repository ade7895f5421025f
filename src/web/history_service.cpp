#include "web/history_service.h"

#include <thread>
#include <unistd.h>

namespace web {

struct HistoryService::Job {
    QByteArray path;
    HistoryArguments arguments;
    bool head = false;
    bool setCookie = false;
    bool download = false;
    bool done = false;
    HistoryReply reply;
};

namespace {

// With their sizes: a decoded %00 stays in the value, to be refused, rather than cutting it short.
MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value,
                           size_t valueSize)
{
    static_cast<HistoryArguments*>(cls)->insert(QByteArray(key, qsizetype(keySize)),
                                                value ? QByteArray(value, qsizetype(valueSize)) : QByteArray());
    return MHD_YES;
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
    auto* job = new Job{path, arguments, head, setCookie, HistoryApi::IsDownload(path), false, {}};
    {
        std::lock_guard lock(m_mutex);
        unsigned& count = job->download ? m_downloads : m_queries;
        if (m_stopping || count >= (job->download ? MaxDownloads : MaxHistoryQueries)) {
            delete job;
            static const char busy[] = "busy: too many history requests at once, try again shortly\n";
            MHD_Response* response = MHD_create_response_from_buffer(sizeof busy - 1, const_cast<char*>(busy),
                                                                     MHD_RESPMEM_PERSISTENT);
            MHD_add_response_header(response, "Content-Type", "text/plain; charset=utf-8");
            MHD_add_response_header(response, "Retry-After", "5");
            return m_queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE, response, false);
        }
        ++count;
        ++m_running;
        m_jobs.insert(job);
    }
    *requestContext = job;
    MHD_suspend_connection(connection);
    std::thread([this, job, connection] {
        HistoryReply reply = m_api.Answer(job->path, job->arguments);
        std::lock_guard lock(m_mutex);
        job->reply = std::move(reply);
        job->done = true;
        --(job->download ? m_downloads : m_queries);
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
    m_stopping = true;
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
    if (!reply.fileName.isEmpty())
        MHD_add_response_header(
            response, "Content-Disposition",
            ("attachment; filename=\"" + reply.fileName.toUtf8().replace('"', '_').replace('\\', '_') + '"').constData());
    return m_queue(connection, reply.status, response, setCookie && reply.status == 200);
}

} // namespace web
