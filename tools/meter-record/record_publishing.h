#pragma once
// meter-record's live publishing (--mqtt): starts the publisher for the run and turns its changes
// of connection state into lines (one per change, and one when rows or events were dropped at the
// queue bound during an outage).
#include "record_options.h"
#include "station/recording_station.h"

namespace meterrecord {

// Starts the station's publisher for options.mqttUrl; nothing without a URL, and a line saying why
// when it cannot start (recording goes on without it).
void StartPublishing(const RecordOptions& options, RecordingStation& station);

// What the start line says of publishing; empty without --mqtt.
QString PublishingText(const RecordOptions& options);

} // namespace meterrecord
