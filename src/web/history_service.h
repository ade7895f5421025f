#pragma once
// The history API inside the status server: a request for a data file is answered on a thread of
// its own while its connection waits (suspended), so the page, the stream and the metrics never
// wait for a query. At most two downloads (/api/rows) and four other history requests run at
// once; a request beyond that waits its turn (up to MaxQueueMs, given up at once when its client
// goes away) with at most MaxWaitingDownloads / MaxWaitingQueries others, so that a few people
// opening the page at once (three requests each) are all answered; beyond that, or after that
// wait, the answer is 503 with Retry-After. Stop() waits for the running and waiting ones.
#include "web/history_api.h"

#include <condition_variable>
#include <functional>
#include <microhttpd.h>
#include <mutex>
#include <set>

namespace web {

inline constexpr unsigned MaxDownloads = 2;
inline constexpr unsigned MaxHistoryQueries = 4;
inline constexpr unsigned MaxWaitingDownloads = 4;
inline constexpr unsigned MaxWaitingQueries = 24;
inline constexpr int MaxQueueMs = 15000;

class HistoryService {
  public:
    // queue: hands a response to the connection with the server's common headers (and the page
    // cookie when asked for), as the server answers everything else.
    using QueueFn = std::function<MHD_Result(MHD_Connection*, unsigned status, MHD_Response*, bool setCookie)>;
    HistoryService(HistoryApi api, QueueFn queue);
    ~HistoryService(); // Stop()

    // Starts answering a request for a path HistoryApi::Handles; *requestContext then marks the
    // request as this service's until Forget.
    MHD_Result Begin(MHD_Connection* connection, const QByteArray& path, bool head, bool setCookie,
                     void** requestContext);
    // True for a request context that Begin made: the connection came back with its answer.
    bool Owns(void* requestContext);
    MHD_Result Finish(MHD_Connection* connection, void* requestContext);
    // The request has ended (answered or the client gone).
    void Forget(void* requestContext);
    void Stop();

  private:
    struct Job;
    MHD_Result Queue(MHD_Connection* connection, const HistoryReply& reply, bool head, bool setCookie);

    HistoryApi m_api;
    QueueFn m_queue;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::condition_variable m_slotFree;
    unsigned m_waitingDownloads = 0;
    unsigned m_waitingQueries = 0;
    std::set<Job*> m_jobs;
    unsigned m_running = 0;
    unsigned m_downloads = 0;
    unsigned m_queries = 0;
    bool m_stopping = false;
};

} // namespace web
