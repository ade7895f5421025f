#pragma once
// Live publishing of readings, recorded rows and events to an MQTT broker (payloads.h has the
// topics). The broker is a window onto the recording, never a part of it: the network work runs
// in a thread of the publisher's own, and nothing here waits for the broker.
//
// Readings go out at most once a second per channel and only while connected: a reading from an
// outage is stale and is dropped. Readings due within BatchMs of each other cross to the network
// thread together, which wakes it less often at the price of that much delay. Rows and events are queued while the broker cannot be reached,
// up to QueueBound messages (then the oldest go, and the count is reported once), and are sent in
// order after reconnecting, at least once each (QoS 1). The status topic says "online" on every
// connection and "offline" on a clean stop, and the broker says "offline" for us when the
// connection dies (last will). The link topic says "up" while readings arrive and "down" when the
// recording station finds no reading current (LinkState) and on a clean stop; no reading goes out
// while it is down. Discovery for home automation goes out on every connection and whenever a channel starts
// sending or changes its unit or decimals. Channels an earlier run announced under the same station
// that this run has not heard within GhostAfterMs of its start lose their retained discovery and
// reading (empty retained messages); without discovery, every discovery of the station is removed.
//
// Used by meter-record (--mqtt URL --mqtt-ca FILE --mqtt-password-file FILE --station NAME
// --mqtt-discovery-prefix P --no-discovery) and by the program (settings group "MQTT", keys "URL",
// "Station", "Discovery", "DiscoveryPrefix", "CAFile"). Create it in the thread that records; its
// calls, Status() and signals belong to that thread.
#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

#include "publish/payloads.h"

class MqttSession;
class QThread;
struct DataRow;

struct PublishTarget {
    PublishTarget(QString url = {}, QString caFile = {}, QString station = {}, bool discovery = true,
                  QString discoveryPrefix = DefaultDiscoveryPrefix, std::optional<QString> password = {})
        : url(std::move(url)), caFile(std::move(caFile)), station(std::move(station)), discovery(discovery),
          discoveryPrefix(std::move(discoveryPrefix)), password(std::move(password))
    {
    }
    QString url;      // mqtt://[user[:password]@]host[:port][/prefix] or mqtts://...
    QString caFile;   // TLS: the certificate authorities to trust; empty = the system's store
    QString station;  // empty = DefaultStation()
    bool discovery = true;
    QString discoveryPrefix;
    std::optional<QString> password; // given apart from the URL (a password file); the URL's otherwise
};

struct PublishStatus {
    enum class State {
        Stopped,
        Connecting,  // the first attempt is under way
        Connected,
        Unreachable, // no connection (broker down, network gone, TLS failed): retrying, 1 s to 30 s
        Refused,     // the broker refused the login, or TLS refused its certificate: retrying every 30 s
    };
    State state = State::Stopped;
    QDateTime since;      // start of the current outage (host clock); null while connected
    QString message;      // why not connected, one line
    qint64 queued = 0;    // rows and events waiting for the broker
    qint64 dropped = 0;   // rows and events dropped at the queue bound since the start
    qint64 published = 0; // rows and events the broker acknowledged since the start
    qint64 undelivered = 0; // rows and events still queued when publishing was last stopped
};
Q_DECLARE_METATYPE(PublishStatus)

// One line for a log or a tooltip; the brief form is for a status bar panel ("MQTT connected",
// "MQTT down since 10:32:05, 21 queued").
QString PublishStatusText(const PublishStatus& status, bool brief = false);

struct PublishOptions {
    int firstRetryMs = 1000; // doubles after each failed attempt up to maxRetryMs
    int maxRetryMs = 30000;  // also the wait after a refused login or certificate
    int keepAliveS = 30;
    int queueBound = 10000;
    int ghostAfterMs = 60000;  // channels of an earlier run not heard by then are removed
    int batchMs = 20;          // 0: every reading crosses to the network thread at once
    std::function<qint64()> clockMs; // a monotonic clock in ms for the link and the throttle; empty: the real one
};

class Publisher : public QObject {
    Q_OBJECT
  public:
    explicit Publisher(const PublishOptions& options = {}, QObject* parent = nullptr);
    ~Publisher() override; // a clean stop: "offline" goes out when the broker is reachable
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts (or restarts with another target). False with *error, and nothing started, for an
    // unusable URL or an unreadable CA file; an unreachable broker is no error here.
    bool Start(const PublishTarget& target, QString* error = nullptr);
    // Says "offline", waits up to about 2 s for it to reach the broker, and disconnects. A connection
    // attempt that hangs (a host that never answers) is waited for 3 s more, then left to end alone.
    void Stop();
    bool IsRunning() const { return m_thread != nullptr; }
    PublishStatus Status() const { return m_status; }
    QString ShownUrl() const; // the URL without its password
    QString Station() const;  // as it appears in the topics

    // Channel n got a reading (in the shared state): published as a row records it, when due. Cheap.
    void ChannelHeard(int n);
    // Channel n's mode changed without a reading (HOLD pressed): its last reading goes out again
    // at once, with the time it came and the mode now in Shared.ChanMode.
    void ModeChanged(int n);
    // Channel n's readings are no longer current while the link is up (its own source fell
    // silent): its last reading goes out again, marked "current":false.
    void ChannelStale(int n);
    // Channel n's reading, given whole; for callers with readings of their own.
    void ReadingArrived(int n, const Reading& reading);
    // The station's word on the link: up while some reading is current, down (on the link topic,
    // and nothing held goes out) once none is. A reading arriving counts as up.
    void LinkState(bool up);
    // After a row was written to the data file.
    void RowRecorded(const DataRow& row, qint64 rowNumber, const QString& dataFile);
    // For the event log: one event as a JSON object (UTF-8), published on the event topic.
    void EventLogged(const QByteArray& json);
    // Twice a second by its own timer: sends held readings that are due. Tests with a clock of their
    // own call it.
    void Tick();
    bool LinkUp() const { return m_linkUp; }

  signals:
    // On every change of state and of the queued, dropped and published counts.
    void StatusChanged(const PublishStatus& status);
    // Once after an outage in which rows or events were dropped at the queue bound: how many.
    void MessagesDropped(qint64 count);

  private:
    void FrameReading(int n);
    // Channel n's last reading again, with the time it came; none while the link is down or
    // before any reading.
    std::optional<Reading> LastReading(int n) const;
    void Send(int n, const Reading& reading);
    void FlushBatch();
    void FlushBatchWhenDue();
    void FrameHeard();
    qint64 Now() const;
    void Apply(const PublishStatus& status);

    PublishOptions m_options;
    PublishTarget m_target;
    PublishStatus m_status;
    QThread* m_thread = nullptr;
    quint64 m_generation = 0;
    MqttSession* m_session = nullptr; // lives in m_thread
    ReadingThrottle m_throttle;
    struct Held {
        qint64 atMs = 0;    // arrival, on m_clock
        bool given = false; // reading below; else the shared state's
        Reading reading;
    };
    std::array<Held, 17> m_held{};
    QElapsedTimer m_clock;
    QTimer m_heldTimer;
    QList<std::pair<int, Reading>> m_batch;
    qint64 m_batchSinceMs = 0;
    QTimer m_batchTimer; // for a batch that no frame closes
    bool m_linkUp = false;
};
