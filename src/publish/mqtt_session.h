#pragma once
// The publisher's network side: one libmosquitto client driven by the Qt event loop of the
// publisher's thread (socket notifiers, a keep-alive timer, a retry timer). Every member runs in
// that thread; the Publisher reaches it through queued calls only.
#include "publish/broker_url.h"
#include "publish/payloads.h"
#include "publish/publisher.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <optional>

struct mosquitto;
class QSocketNotifier;

class MqttSession : public QObject {
    Q_OBJECT
  public:
    MqttSession(const BrokerAddress& broker, const PublishTarget& target, const PublishOptions& options);
    ~MqttSession() override;

    void Begin();
    // Sent when connected, else dropped: a reading from an outage is stale.
    void PublishReading(int n, const Reading& reading);
    // Queued (QoS 1) until the broker acknowledges it; the oldest go beyond the bound.
    void Enqueue(const QString& topic, const QByteArray& payload);
    // The meter's link: "up" or "down" on the link topic (retained), now and on every connection.
    void SetLink(bool up);
    // "down" on the link topic and "offline" (retained), up to waitMs for them and the queue to be
    // acknowledged, then a clean disconnect. The rows and events that were not delivered.
    qint64 Finish(int waitMs);
    QString RowTopic() const { return m_topics.row; }
    QString EventTopic() const { return m_topics.event; }

  signals:
    void StatusChanged(const PublishStatus& status);
    void MessagesDropped(qint64 count);

  private:
    struct Pending {
        QString topic;
        QByteArray payload;
        int mid = -1; // handed to the client in this connection; -2 once acknowledged
    };

    void Attempt();
    void OnConnack(int code);
    void OnPublished(int mid);
    void OnMessage(const QString& topic, bool retained, bool empty);
    void CleanGhosts();
    void Clear(const QString& topic);
    void Lost(const QString& why, bool refused);
    void TearDown();
    void Pump();
    void Read();
    void Write();
    void KeepAlive();
    // After every client call: a closed socket means the connection is gone.
    bool StillConnected(int rc);
    void UpdateWriteNotifier();
    void Announce(int n);
    void SendControl(const QString& topic, const QByteArray& payload, bool retain, int qos, int* mid = nullptr);
    void Send(const QByteArray& topic, const QByteArray& payload, bool retain, int qos, int* mid = nullptr);
    void Post();

    BrokerAddress m_broker;
    PublishTarget m_target;
    PublishOptions m_options;
    Topics m_topics;
    mosquitto* m_mosq = nullptr;
    bool m_connected = false;
    bool m_connackSeen = false;
    QSocketNotifier* m_readable = nullptr;
    QSocketNotifier* m_writable = nullptr;
    QTimer m_retry;
    QTimer m_keepAlive;
    int m_delayMs = 0;
    std::deque<Pending> m_queue;
    qsizetype m_handed = 0;
    qint64 m_droppedThisOutage = 0;
    std::array<ChannelTraits, 17> m_traits{};  // last unit, decimals and quantity seen per channel
    std::array<bool, 17> m_seen{};             // channel has sent in this run
    std::array<std::optional<ChannelTraits>, 17> m_announced{}; // announced in this connection
    std::array<QByteArray, 17> m_channelTopic{}; // UTF-8, made once
    bool m_linkUp = false;
    // Clean-up of what earlier runs left retained: channels whose discovery or reading the broker
    // holds (seen while subscribed to the station's topics until the clean-up is done).
    std::array<bool, 17> m_oldConfig{};
    std::array<bool, 17> m_oldValue{};
    bool m_cleaned = false;
    QTimer m_ghosts;
    PublishStatus m_status;
    int m_offlineMid = -1;
    bool m_offlineAcked = false;
};
