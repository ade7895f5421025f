#include "publish/mqtt_session.h"

#include "core/shared_state.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <mosquitto.h>

namespace {

constexpr int HandedWindow = 100; // QoS 1 messages on the wire unacknowledged at most

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString ClientError(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    if (rc == MOSQ_ERR_TLS)
        return QStringLiteral("TLS handshake failed: the broker's certificate is not trusted (not signed by "
                              "the CA file or the system's store, or not made out to the host name), or "
                              "the broker does not speak TLS on this port");
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttSession::MqttSession(const BrokerAddress& broker, const PublishTarget& target, const PublishOptions& options)
    : m_broker(broker), m_target(target), m_options(options),
      m_topics(broker.prefix, target.station, target.discoveryPrefix), m_retry(this), m_keepAlive(this),
      m_ghosts(this)
{
    for (int n = 1; n <= MaxChannel; ++n)
        m_channelTopic[n] = m_topics.Channel(n).toUtf8();
    m_ghosts.setSingleShot(true);
    connect(&m_ghosts, &QTimer::timeout, this, &MqttSession::CleanGhosts);
    InitLibrary();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttSession::Attempt);
    m_keepAlive.setInterval(1000);
    connect(&m_keepAlive, &QTimer::timeout, this, &MqttSession::KeepAlive);
    m_delayMs = std::max(1, m_options.firstRetryMs);
}

MqttSession::~MqttSession()
{
    TearDown();
}

void MqttSession::Begin()
{
    m_status.state = PublishStatus::State::Connecting;
    Post();
    m_ghosts.start(std::max(0, m_options.ghostAfterMs));
    Attempt();
}

void MqttSession::Attempt()
{
    TearDown();
    // A client of its own per connection: nothing of an earlier connection lingers in it, and the
    // queue below is the one place where unacknowledged messages wait.
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq) {
        Lost(QStringLiteral("out of memory for the MQTT client"), false);
        return;
    }
    mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int code) {
        static_cast<MqttSession*>(self)->OnConnack(code);
    });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* self, int mid) {
        static_cast<MqttSession*>(self)->OnPublished(mid);
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* message) {
        static_cast<MqttSession*>(self)->OnMessage(QString::fromUtf8(message->topic), message->retain,
                                                   message->payloadlen == 0);
    });
    mosquitto_max_inflight_messages_set(m_mosq, HandedWindow);
    const QByteArray status = m_topics.status.toUtf8();
    mosquitto_will_set(m_mosq, status.constData(), 7, "offline", 1, true);
    if (!m_broker.user.isEmpty())
        mosquitto_username_pw_set(m_mosq, m_broker.user.toUtf8().constData(),
                                  m_broker.password.isEmpty() ? nullptr : m_broker.password.toUtf8().constData());
    if (m_broker.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (m_target.caFile.isEmpty()) {
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_tls_set(m_mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        } else {
            rc = mosquitto_tls_set(m_mosq, QFileInfo(m_target.caFile).absoluteFilePath().toLocal8Bit().constData(),
                                   nullptr, nullptr, nullptr, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            Lost(QStringLiteral("TLS set-up: %1").arg(ClientError(rc, errno)), true);
            return;
        }
    }
    errno = 0;
    const int rc = mosquitto_connect(m_mosq, m_broker.host.toUtf8().constData(), m_broker.port, m_options.keepAliveS);
    const int savedErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        Lost(ClientError(rc, savedErrno), rc == MOSQ_ERR_TLS);
        return;
    }
    const int fd = mosquitto_socket(m_mosq);
    m_readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &MqttSession::Read);
    m_writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_writable, &QSocketNotifier::activated, this, &MqttSession::Write);
    UpdateWriteNotifier();
    m_keepAlive.start();
}

void MqttSession::OnConnack(int code)
{
    m_connackSeen = true;
    if (code != 0) {
        // Handled after the read that delivered it returns: the client must not go away under it.
        m_status.message = QStringLiteral("the broker refused the connection: %1")
                               .arg(QString::fromUtf8(mosquitto_connack_string(code)));
        return;
    }
    m_connected = true;
    m_delayMs = std::max(1, m_options.firstRetryMs);
    m_announced.fill(std::nullopt);
    SendControl(m_topics.status, QByteArrayLiteral("online"), true, 1);
    SendControl(m_topics.link, m_linkUp ? QByteArrayLiteral("up") : QByteArrayLiteral("down"), true, 1);
    for (int n = 1; n <= MaxChannel; ++n)
        if (m_seen[n])
            Announce(n);
    // What earlier runs left retained comes in on these until the clean-up is done.
    if (!m_cleaned || !m_target.discovery) {
        mosquitto_subscribe(m_mosq, nullptr, m_topics.AnyDiscovery().toUtf8().constData(), 0);
        if (!m_cleaned)
            mosquitto_subscribe(m_mosq, nullptr, m_topics.AnyChannel().toUtf8().constData(), 0);
    }
    for (Pending& p : m_queue)
        p.mid = -1;
    m_handed = 0;
    m_status.state = PublishStatus::State::Connected;
    m_status.message.clear();
    if (m_droppedThisOutage > 0)
        emit MessagesDropped(std::exchange(m_droppedThisOutage, 0));
    Post();
}

void MqttSession::OnPublished(int mid)
{
    if (mid == m_offlineMid)
        m_offlineAcked = true;
    bool acked = false;
    for (qsizetype i = 0; i < m_handed; ++i) {
        if (m_queue[size_t(i)].mid == mid) {
            m_queue[size_t(i)].mid = -2;
            acked = true;
            break;
        }
    }
    if (!acked)
        return;
    while (!m_queue.empty() && m_queue.front().mid == -2) {
        m_queue.pop_front();
        --m_handed;
        ++m_status.published;
    }
    m_status.queued = qint64(m_queue.size());
    Post();
}

void MqttSession::OnMessage(const QString& topic, bool retained, bool empty)
{
    // Only what the broker held before: our own messages come back live, not retained.
    const int n = m_topics.ChannelOf(topic);
    if (!retained || empty || n == 0)
        return;
    const bool config = topic == m_topics.Discovery(n);
    if (config && !m_target.discovery)
        Clear(topic);
    else if (m_cleaned && !m_seen[n])
        Clear(topic);
    else
        (config ? m_oldConfig : m_oldValue)[n] = true;
}

void MqttSession::CleanGhosts()
{
    if (!m_connected) {
        m_ghosts.start(1000); // done once connected
        return;
    }
    m_cleaned = true;
    for (int n = 1; n <= MaxChannel; ++n) {
        if (m_seen[n])
            continue;
        if (m_oldConfig[n])
            Clear(m_topics.Discovery(n));
        if (m_oldValue[n])
            Clear(m_topics.Channel(n));
    }
    mosquitto_unsubscribe(m_mosq, nullptr, m_topics.AnyChannel().toUtf8().constData());
    if (m_target.discovery)
        mosquitto_unsubscribe(m_mosq, nullptr, m_topics.AnyDiscovery().toUtf8().constData());
    if (StillConnected(MOSQ_ERR_SUCCESS))
        UpdateWriteNotifier();
}

void MqttSession::Clear(const QString& topic)
{
    SendControl(topic, {}, true, 1);
}

void MqttSession::Lost(const QString& why, bool refused)
{
    TearDown();
    const auto state = refused ? PublishStatus::State::Refused : PublishStatus::State::Unreachable;
    const bool changed = m_status.state != state || m_status.message != why;
    m_status.state = state;
    m_status.message = why;
    if (changed)
        Post();
    // A refusal is not cured by hammering; a network fault may clear any moment.
    const int wait = refused ? std::max(1, m_options.maxRetryMs) : m_delayMs;
    if (!refused)
        m_delayMs = std::min(m_delayMs * 2, std::max(m_delayMs, m_options.maxRetryMs));
    m_retry.start(wait);
}

void MqttSession::TearDown()
{
    m_keepAlive.stop();
    m_retry.stop();
    delete m_readable;
    m_readable = nullptr;
    delete m_writable;
    m_writable = nullptr;
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    m_connected = false;
    m_connackSeen = false;
    for (Pending& p : m_queue)
        p.mid = -1;
    m_handed = 0;
}

bool MqttSession::StillConnected(int rc)
{
    if (!m_mosq)
        return false;
    if (m_connackSeen && !m_connected) {
        Lost(m_status.message, true);
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
        const int savedErrno = errno;
        QString why = rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST
                          ? QStringLiteral("connection to the broker lost")
                          : ClientError(rc, savedErrno);
        if (rc == MOSQ_ERR_KEEPALIVE)
            why = QStringLiteral("the broker stopped answering");
        Lost(why, rc == MOSQ_ERR_TLS);
        return false;
    }
    return true;
}

void MqttSession::Read()
{
    if (!m_mosq)
        return;
    if (StillConnected(mosquitto_loop_read(m_mosq, 1)))
        Pump();
}

void MqttSession::Write()
{
    if (!m_mosq)
        return;
    if (StillConnected(mosquitto_loop_write(m_mosq, 1)))
        UpdateWriteNotifier();
}

void MqttSession::KeepAlive()
{
    if (m_mosq && StillConnected(mosquitto_loop_misc(m_mosq)))
        UpdateWriteNotifier();
}

void MqttSession::UpdateWriteNotifier()
{
    if (m_writable && m_mosq)
        m_writable->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttSession::SendControl(const QString& topic, const QByteArray& payload, bool retain, int qos, int* mid)
{
    Send(topic.toUtf8(), payload, retain, qos, mid);
}

void MqttSession::Send(const QByteArray& topic, const QByteArray& payload, bool retain, int qos, int* mid)
{
    if (!m_connected)
        return;
    mosquitto_publish(m_mosq, mid, topic.constData(), int(payload.size()), payload.constData(), qos, retain);
}

void MqttSession::Announce(int n)
{
    if (!m_target.discovery)
        return;
    m_announced[n] = m_traits[n];
    SendControl(m_topics.Discovery(n), DiscoveryPayload(m_topics, n, m_traits[n]), true, 1);
}

void MqttSession::SetLink(bool up)
{
    if (up == m_linkUp)
        return;
    m_linkUp = up;
    SendControl(m_topics.link, up ? QByteArrayLiteral("up") : QByteArrayLiteral("down"), true, 1);
    if (m_connected && StillConnected(MOSQ_ERR_SUCCESS))
        UpdateWriteNotifier();
}

void MqttSession::PublishReading(int n, const Reading& reading)
{
    if (n < 1 || n > MaxChannel || !m_linkUp)
        return;
    m_seen[n] = true;
    // A meter that says its quantity (through libsigrok) shows other decimals in every range:
    // Home Assistant gets no display precision for it, rather than an announcement per range.
    m_traits[n] = {reading.unit, reading.quantity.isEmpty() ? reading.decimals : -1, reading.quantity};
    if (!m_connected)
        return;
    if (m_announced[n] != m_traits[n])
        Announce(n);
    Send(m_channelTopic[n], ReadingPayload(reading), true, 0);
    if (StillConnected(MOSQ_ERR_SUCCESS))
        UpdateWriteNotifier();
}

void MqttSession::Enqueue(const QString& topic, const QByteArray& payload)
{
    m_queue.push_back({topic, payload});
    while (qsizetype(m_queue.size()) > std::max(1, m_options.queueBound)) {
        if (m_handed > 0)
            --m_handed;
        m_queue.pop_front();
        ++m_status.dropped;
        ++m_droppedThisOutage;
    }
    m_status.queued = qint64(m_queue.size());
    if (m_connected)
        Pump();
    Post();
}

void MqttSession::Pump()
{
    if (!m_connected)
        return;
    while (m_handed < HandedWindow && m_handed < qsizetype(m_queue.size())) {
        Pending& p = m_queue[size_t(m_handed)];
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, p.topic.toUtf8().constData(), int(p.payload.size()),
                                         p.payload.constData(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            break;
        p.mid = mid;
        ++m_handed;
    }
    if (StillConnected(MOSQ_ERR_SUCCESS))
        UpdateWriteNotifier();
}

qint64 MqttSession::Finish(int waitMs)
{
    m_retry.stop();
    m_ghosts.stop();
    if (m_connected) {
        m_offlineAcked = false;
        m_linkUp = false;
        SendControl(m_topics.link, QByteArrayLiteral("down"), true, 1);
        SendControl(m_topics.status, QByteArrayLiteral("offline"), true, 1, &m_offlineMid);
        // The session's own loop is about to end: wait here, in its thread, for the broker's word
        // and for what is queued.
        const QDeadlineTimer deadline(waitMs);
        while (m_mosq && (!m_offlineAcked || !m_queue.empty()) && !deadline.hasExpired()) {
            if (mosquitto_loop(m_mosq, int(std::clamp<qint64>(deadline.remainingTime(), 1, 100)), 1) !=
                MOSQ_ERR_SUCCESS)
                break;
            Pump();
        }
        if (m_mosq) {
            mosquitto_disconnect(m_mosq);
            mosquitto_loop_write(m_mosq, 1);
        }
    }
    TearDown();
    m_status.state = PublishStatus::State::Stopped;
    m_status.message.clear();
    Post();
    return qint64(m_queue.size());
}

void MqttSession::Post()
{
    m_status.queued = qint64(m_queue.size());
    emit StatusChanged(m_status);
}
