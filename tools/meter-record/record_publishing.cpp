#include "record_publishing.h"

#include "forward/forwarder.h"
#include "publish/broker_url.h"
#include "recorder.h"

namespace meterrecord {

void StartPublishing(const RecordOptions& options, RecordingStation& station)
{
    if (options.mqttUrl.isEmpty())
        return;
    Publisher* publisher = &station.Publishing();
    struct Last {
        PublishStatus::State state = PublishStatus::State::Stopped;
        QString message;
    };
    auto last = std::make_shared<Last>();
    QObject::connect(publisher, &Publisher::StatusChanged, publisher, [last](const PublishStatus& status) {
        // The counts change with every row; a line is due when the connection's state or reason does.
        if (status.state == last->state && status.message == last->message)
            return;
        *last = {status.state, status.message};
        Say(PublishStatusText(status));
    });
    QObject::connect(publisher, &Publisher::MessagesDropped, publisher, [](qint64 count) {
        Say(QStringLiteral("MQTT: %1 rows and events were dropped while the broker could not be reached (the "
                           "oldest beyond the queue of %2)")
                .arg(count)
                .arg(PublishOptions{}.queueBound));
    });
    QString error;
    if (!station.PublishTo({options.mqttUrl, options.mqttCa, options.station, options.discovery,
                            options.discoveryPrefix, options.mqttPassword},
                           &error)) {
        publisher->disconnect(publisher);
        Say(QStringLiteral("MQTT off: %1; recording goes on without publishing").arg(error));
    }
}

QString PublishingText(const RecordOptions& options)
{
    if (options.mqttUrl.isEmpty())
        return {};
    return QStringLiteral(", publishing to %1 as station %2")
        .arg(ShownBrokerUrl(options.mqttUrl),
             StationId(options.station.isEmpty() ? DefaultStation() : options.station));
}

} // namespace meterrecord
