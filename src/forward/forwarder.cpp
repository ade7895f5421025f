#include "forward/forwarder.h"

#include "forward/forward_pass.h"
#include "platform/host_services.h"

#include <QSysInfo>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

ForwardTarget Completed(ForwardTarget target)
{
    if (target.station.trimmed().isEmpty())
        target.station = DefaultStation();
    return target;
}

} // namespace

QString DefaultStation()
{
    return QSysInfo::machineHostName();
}

ForwardPass ForwardOnce(const ForwardTarget& target, const ForwardOptions& options,
                        const std::function<void(qint64, qint64)>& progress,
                        const std::function<bool()>& stop)
{
    QString error;
    if (!CheckForwardUrl(target.url, &error))
        return {ForwardPass::Outcome::Unreachable, 0, 0, 0, 0, error};
    ServerSession server(nullptr);
    FileContext file(Completed(target));
    return RunPass(server, file, options, progress, stop);
}

// ---- the thread -----------------------------------------------------------------------------------

class Forwarder::Worker {
  public:
    Worker(Forwarder* owner, const ForwardTarget& target, const QStringList& earlier,
           const ForwardOptions& options)
        : m_owner(owner), m_generation(owner->m_generation), m_options(options), m_server(&m_interrupter),
          m_context(target)
    {
        for (const QString& file : earlier) {
            ForwardTarget before = target;
            before.dataFile = file;
            m_earlier.push_back(std::make_unique<FileContext>(before));
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~Worker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_interrupter.Interrupt();
        m_wake.notify_all();
        m_thread.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void RowRecorded()
    {
        {
            std::lock_guard lock(m_mutex);
            m_rowPending = true;
        }
        m_wake.notify_all();
    }

  private:
    bool Stopping()
    {
        std::lock_guard lock(m_mutex);
        return m_stop;
    }

    // Sleeps until the delay is over or the thread is stopped; new rows cut it short when asked.
    void Wait(int ms, bool wakeOnRow)
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(ms),
                        [&] { return m_stop || (wakeOnRow && m_rowPending); });
    }

    // The rows of an earlier file are all on the server, or the file is gone.
    void PostFinished(const QString& file)
    {
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_owner, generation = m_generation, file] {
                if (owner->m_generation == generation)
                    owner->m_earlier.removeAll(file);
            },
            Qt::QueuedConnection);
    }

    // Earlier files first, in order; their rows went before the current file's. A pass over the
    // current file runs only when they are done.
    ForwardPass RunPasses(const std::function<void(qint64, qint64)>& progress)
    {
        const auto stop = [this] { return Stopping(); };
        while (!m_earlier.empty()) {
            FileContext& earlier = *m_earlier.front();
            ForwardPass pass = RunPass(m_server, earlier, m_options, progress, stop);
            // An earlier file that cannot be read (gone, or not the server's) is left to meter-forward
            // rather than holding back the current one.
            if (pass.outcome != ForwardPass::Outcome::Complete &&
                pass.outcome != ForwardPass::Outcome::DataFileError) {
                qint64 current = 0;
                QString ignored;
                if (m_context.rows.CountAbove(std::max<qint64>(m_context.serverRowId, 0), &current, &ignored))
                    pass.waitingRows += current;
                return pass;
            }
            PostFinished(earlier.target.dataFile);
            m_earlier.pop_front();
        }
        return RunPass(m_server, m_context, m_options, progress, stop);
    }

    void Post(ForwardStatus status)
    {
        status.sentRows = m_sent;
        // A status still queued when its worker has been replaced speaks of the old target.
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_owner, generation = m_generation, status] {
                if (owner->m_generation == generation)
                    owner->publish(status);
            },
            Qt::QueuedConnection);
    }

    void Run()
    {
        using State = ForwardStatus::State;
        int delay = std::max(1, m_options.firstRetryMs);
        State shown = State::Connecting;
        while (!Stopping()) {
            {
                std::lock_guard lock(m_mutex);
                m_rowPending = false;
            }
            qint64 sentBefore = m_sent;
            auto progress = [&](qint64 done, qint64 total) {
                if (done == 0)
                    sentBefore = m_sent;
                m_sent = sentBefore + done;
                // Catching up is worth a state of its own; the one new row of a recorder that is
                // up to date is not.
                if (total > done && (shown != State::UpToDate || total > m_options.batchRows)) {
                    shown = State::Sending;
                    Post({State::Sending, {}, total - done, 0, {}});
                }
            };
            const ForwardPass pass = RunPasses(progress);
            switch (pass.outcome) {
            case ForwardPass::Outcome::Stopped:
                return;
            case ForwardPass::Outcome::Complete:
                shown = State::UpToDate;
                Post({State::UpToDate, {}, 0, 0, pass.message});
                delay = std::max(1, m_options.firstRetryMs);
                Wait(m_options.pollMs, true);
                break;
            case ForwardPass::Outcome::Unreachable:
            case ForwardPass::Outcome::DataFileError:
                shown = pass.outcome == ForwardPass::Outcome::Unreachable ? State::Unreachable
                                                                          : State::DataFileError;
                Post({shown, {}, pass.waitingRows, 0, pass.message});
                Wait(delay, false);
                delay = std::min(delay * 2, std::max(delay, m_options.maxRetryMs));
                break;
            }
        }
    }

    Forwarder* m_owner;
    quint64 m_generation;
    ForwardOptions m_options;
    Interrupter m_interrupter;
    ServerSession m_server;
    std::deque<std::unique_ptr<FileContext>> m_earlier;
    FileContext m_context;
    qint64 m_sent = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_rowPending = false;
    std::thread m_thread;
};

Forwarder::Forwarder(const ForwardOptions& options, QObject* parent) : QObject(parent), m_options(options)
{
    qRegisterMetaType<ForwardStatus>();
}

Forwarder::~Forwarder()
{
    m_worker.reset();
}

bool Forwarder::Start(const ForwardTarget& target, QString* error)
{
    if (target.dataFile.isEmpty()) {
        if (error)
            *error = QStringLiteral("No data file to forward.");
        return false;
    }
    if (!CheckForwardUrl(target.url, error))
        return false;
    const ForwardTarget next = Completed(target);
    // Another file to the same place (a new data file, a rotation): what the server still lacks of
    // the earlier file goes first. Another server or station starts afresh.
    if (!m_worker || next.url != m_target.url || next.station != m_target.station)
        m_earlier.clear();
    else if (next.dataFile != m_target.dataFile && !m_earlier.contains(m_target.dataFile))
        m_earlier.append(m_target.dataFile);
    m_earlier.removeAll(next.dataFile);
    m_worker.reset();
    ++m_generation;
    m_target = next;
    ForwardStatus connecting;
    connecting.state = ForwardStatus::State::Connecting;
    publish(connecting);
    m_worker = std::make_unique<Worker>(this, m_target, m_earlier, m_options);
    return true;
}

void Forwarder::Stop()
{
    if (!m_worker)
        return;
    m_worker.reset();
    ++m_generation;
    m_earlier.clear();
    publish(ForwardStatus());
}

bool Forwarder::IsRunning() const
{
    return m_worker != nullptr;
}

ForwardTarget Forwarder::Target() const
{
    return m_target;
}

void Forwarder::RowRecorded()
{
    if (!m_worker)
        return;
    m_worker->RowRecorded();
    using State = ForwardStatus::State;
    if (m_status.state != State::UpToDate && m_status.state != State::Sending) {
        ForwardStatus counted = m_status;
        ++counted.waitingRows;
        publish(counted);
    }
}

ForwardStatus Forwarder::Status() const
{
    return m_status;
}

void Forwarder::publish(const ForwardStatus& status)
{
    ForwardStatus next = status;
    if (next.state == ForwardStatus::State::Unreachable)
        next.unreachableSince =
            m_status.unreachableSince.isValid() ? m_status.unreachableSince : Host().now();
    else if (next.state == ForwardStatus::State::Connecting ||
             next.state == ForwardStatus::State::DataFileError)
        next.unreachableSince = m_status.unreachableSince;
    if (next.state == m_status.state && next.unreachableSince == m_status.unreachableSince &&
        next.waitingRows == m_status.waitingRows && next.sentRows == m_status.sentRows &&
        next.message == m_status.message)
        return;
    m_status = next;
    emit StatusChanged(m_status);
}
