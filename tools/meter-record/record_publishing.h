#pragma once
// meter-record's live publishing (--mqtt): starts the publisher for the run and turns its changes
// of connection state into lines (one per change, and one when rows or events were dropped at the
// queue bound during an outage).
#include "publish/publisher.h"
#include "record_options.h"

namespace meterrecord {

// The publisher for options.mqttUrl, started; nullptr when no URL is given or it cannot start
// (after a line saying why; recording goes on without it).
Publisher* StartPublishing(const RecordOptions& options, QObject* parent);

// What the start line says of publishing; empty without --mqtt.
QString PublishingText(const RecordOptions& options);

} // namespace meterrecord
