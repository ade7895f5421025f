#include "publish/publisher.h"

#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "forward/forwarder.h"
#include "platform/host_services.h"
#include "publish/broker_url.h"
#include "publish/mqtt_session.h"

#include <QFile>
#include <QThread>
#include <atomic>
#include <memory>

namespace {

constexpr int OfflineWaitMs = 2000;
constexpr int StuckWaitMs = 3000;

} // namespace

QString PublishStatusText(const PublishStatus& status, bool brief)
{
    using State = PublishStatus::State;
    QString text;
    switch (status.state) {
    case State::Stopped:
        if (status.undelivered > 0 && !brief)
            return QStringLiteral("MQTT off: %1 rows and events were not delivered to the broker")
                .arg(status.undelivered);
        return QStringLiteral("MQTT off");
    case State::Connecting:
        text = QStringLiteral("MQTT connecting");
        break;
    case State::Connected:
        text = QStringLiteral("MQTT connected");
        break;
    case State::Unreachable:
    case State::Refused:
        text = (status.state == State::Refused ? QStringLiteral("MQTT refused since %1")
                                               : QStringLiteral("MQTT down since %1"))
                   .arg(status.since.toString(brief ? QStringLiteral("HH:mm:ss")
                                                    : QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        break;
    }
    if (status.queued > 0)
        text += QStringLiteral(", %1 queued").arg(status.queued);
    if (brief)
        return text;
    if (status.dropped > 0)
        text += QStringLiteral(", %1 dropped at the queue bound").arg(status.dropped);
    if (!status.message.isEmpty())
        text += QStringLiteral(": ") + status.message;
    return text;
}

Publisher::Publisher(const PublishOptions& options, QObject* parent) : QObject(parent), m_options(options)
{
    qRegisterMetaType<PublishStatus>();
    m_clock.start();
    // A coarse look twice a second: a held reading goes out 1 to 1.5 s after it came, and the
    // thread is not woken for every channel's window.
    m_heldTimer.setInterval(500);
    connect(&m_heldTimer, &QTimer::timeout, this, &Publisher::Tick);
    m_batchTimer.setSingleShot(true);
    connect(&m_batchTimer, &QTimer::timeout, this, &Publisher::FlushBatch);
}

Publisher::~Publisher()
{
    Stop();
}

bool Publisher::Start(const PublishTarget& target, QString* error)
{
    BrokerAddress broker;
    if (!ParseBrokerUrl(target.url, &broker, error) ||
        !CheckTopicPrefix(target.discoveryPrefix, QStringLiteral("discovery prefix"), error))
        return false;
    if (target.password) {
        if (broker.user.isEmpty()) {
            if (error)
                *error = QStringLiteral("a password file needs a user in the broker URL");
            return false;
        }
        broker.password = *target.password;
    }
    if (!target.caFile.isEmpty()) {
        QFile ca(target.caFile);
        if (!ca.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("the CA file \"%1\" cannot be read: %2").arg(target.caFile, ca.errorString());
            return false;
        }
    }
    Stop();
    m_target = target;
    if (m_target.station.isEmpty())
        m_target.station = DefaultStation();
    m_throttle.Reset();
    m_linkUp = false;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("mqtt"));
    m_session = new MqttSession(broker, m_target, m_options);
    m_session->moveToThread(m_thread);
    // Reports of a session stopped meanwhile may still be on their way: only the current one counts.
    const quint64 generation = ++m_generation;
    connect(m_session, &MqttSession::StatusChanged, this, [this, generation](const PublishStatus& status) {
        if (generation == m_generation && m_thread)
            Apply(status);
    });
    connect(m_session, &MqttSession::MessagesDropped, this, [this, generation](qint64 count) {
        if (generation == m_generation)
            emit MessagesDropped(count);
    });
    m_thread->start();
    m_heldTimer.start();
    QMetaObject::invokeMethod(m_session, &MqttSession::Begin);
    return true;
}

void Publisher::Stop()
{
    if (!m_thread)
        return;
    m_heldTimer.stop();
    m_batchTimer.stop();
    m_batch.clear();
    ++m_generation; // what the session reports from here on is no news
    QThread* thread = std::exchange(m_thread, nullptr);
    MqttSession* session = std::exchange(m_session, nullptr);
    // What was still queued when the session finished; unknown (all of it) if it never does.
    auto undelivered = std::make_shared<std::atomic<qint64>>(m_status.queued);
    // The session's objects belong to its thread: they go there, and the thread ends with them.
    QMetaObject::invokeMethod(session, [session, thread, undelivered] {
        *undelivered = session->Finish(OfflineWaitMs);
        delete session;
        thread->quit();
    });
    // A connection attempt to a host that never answers blocks until the system gives up on it;
    // closing the program does not wait that long: the thread then ends by itself and goes.
    if (thread->wait(OfflineWaitMs + StuckWaitMs)) {
        delete thread;
    } else {
        thread->setParent(nullptr);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        if (thread->isFinished())
            thread->deleteLater();
    }
    m_linkUp = false;
    Apply(PublishStatus{PublishStatus::State::Stopped, {}, {}, 0, m_status.dropped, m_status.published,
                        undelivered->load()});
}

QString Publisher::ShownUrl() const
{
    return ShownBrokerUrl(m_target.url);
}

QString Publisher::Station() const
{
    return StationId(m_target.station);
}

qint64 Publisher::Now() const
{
    return m_options.clockMs ? m_options.clockMs() : m_clock.elapsed();
}

void Publisher::FrameHeard()
{
    if (m_linkUp)
        return;
    m_linkUp = true;
    QMetaObject::invokeMethod(m_session, [session = m_session] { session->SetLink(true); });
}

void Publisher::LinkState(bool up)
{
    if (!m_session)
        return;
    if (up) {
        FrameHeard();
        return;
    }
    if (!m_linkUp)
        return;
    // No reading is current: what is held is stale, and nothing goes out until readings return.
    m_linkUp = false;
    m_throttle.Reset();
    m_batch.clear();
    m_batchTimer.stop();
    QMetaObject::invokeMethod(m_session, [session = m_session] { session->SetLink(false); });
}

void Publisher::ChannelHeard(int n)
{
    if (!m_session || n < 1 || n > MaxChannel)
        return;
    FrameHeard();
    FrameReading(n);
    FlushBatchWhenDue();
}

void Publisher::FrameReading(int n)
{
    // Most frames are held and then superseded: a held one costs a time stamp only, and is built
    // from the shared state, which still holds the channel's latest reading, when it goes out.
    const qint64 now = Now();
    if (m_throttle.Offer(n, now)) {
        Send(n, CurrentReading(n, Host().now()));
        return;
    }
    m_held[n] = {now, false, {}};
}

std::optional<Reading> Publisher::LastReading(int n) const
{
    if (!m_session || n < 1 || n > MaxChannel || !m_linkUp)
        return std::nullopt;
    const QDateTime heard = Shared.Freshness.HeardTime(n);
    if (!heard.isValid())
        return std::nullopt;
    return CurrentReading(n, heard);
}

void Publisher::ModeChanged(int n)
{
    if (const std::optional<Reading> last = LastReading(n)) {
        Send(n, *last);
        FlushBatchWhenDue();
    }
}

void Publisher::ChannelStale(int n)
{
    std::optional<Reading> stale = LastReading(n);
    if (!stale)
        return;
    m_throttle.Drop(n);
    m_held[size_t(n)].given = false;
    stale->current = false;
    Send(n, *stale);
    FlushBatch();
}

void Publisher::ReadingArrived(int n, const Reading& reading)
{
    if (!m_session || n < 1 || n > MaxChannel)
        return;
    FrameHeard();
    const qint64 now = Now();
    if (m_throttle.Offer(n, now))
        Send(n, reading);
    else
        m_held[n] = {now, true, reading};
    FlushBatchWhenDue();
}

void Publisher::Send(int n, const Reading& reading)
{
    if (m_options.batchMs <= 0) {
        QMetaObject::invokeMethod(m_session,
                                  [session = m_session, n, reading] { session->PublishReading(n, reading); });
        return;
    }
    if (m_batch.isEmpty()) {
        m_batchSinceMs = Now();
        m_batchTimer.start(2 * m_options.batchMs);
    }
    m_batch.append({n, reading});
}

void Publisher::FlushBatchWhenDue()
{
    if (!m_batch.isEmpty() && Now() - m_batchSinceMs >= m_options.batchMs)
        FlushBatch();
}

void Publisher::FlushBatch()
{
    m_batchTimer.stop();
    if (m_batch.isEmpty() || !m_session)
        return;
    QMetaObject::invokeMethod(m_session, [session = m_session, batch = std::exchange(m_batch, {})] {
        for (const auto& [n, reading] : batch)
            session->PublishReading(n, reading);
    });
}

void Publisher::Tick()
{
    if (!m_session)
        return;
    const qint64 now = Now();
    if (!m_linkUp)
        return;
    for (const int n : m_throttle.TakeDue(now)) {
        const Held& held = m_held[n];
        Send(n, held.given ? held.reading : CurrentReading(n, Host().now().addMSecs(held.atMs - now)));
    }
    FlushBatch(); // these are late already
}

void Publisher::RowRecorded(const DataRow& row, qint64 rowNumber, const QString& dataFile)
{
    if (!m_session)
        return;
    QMetaObject::invokeMethod(m_session, [session = m_session, payload = RowPayload(row, rowNumber, dataFile)] {
        session->Enqueue(session->RowTopic(), payload);
    });
}

void Publisher::EventLogged(const QByteArray& json)
{
    if (!m_session)
        return;
    QMetaObject::invokeMethod(m_session, [session = m_session, json] { session->Enqueue(session->EventTopic(), json); });
}

void Publisher::Apply(const PublishStatus& status)
{
    using State = PublishStatus::State;
    const bool up = status.state == State::Connected || status.state == State::Stopped;
    const bool wasUp = m_status.state == State::Connected || m_status.state == State::Stopped;
    const QDateTime since = up ? QDateTime() : wasUp ? Host().now() : m_status.since;
    m_status = status;
    m_status.since = since;
    emit StatusChanged(m_status);
}
