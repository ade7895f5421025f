#pragma once
// The two machine-readable forms of a RecorderStatus: the JSON of /api/status (and of every event
// on /api/stream) and the Prometheus text exposition of /metrics. Both are pure functions of the
// snapshot, so the server builds them once per published generation.
#include "web/recorder_status.h"

#include <QByteArray>
#include <optional>

namespace web {

// {"station", "data_file", "rows", "row_limit", "link": "up"|"down", "since", "last_frame_utc",
//  "last_row_utc", "updated_utc", "frames_received",
//  "frames_rejected", "rows_recorded", "rows_failed", "forward": null|{state, text, backlog_rows},
//  "mqtt": null|{url, connected, queued, text}, "channels": [{channel, value, decimals, unit, quantity,
//  flags, alarm, time, current}] (quantity "" and flags [] where the meter says no mode),
//  "events": [{time, text}] (only with an event log)}. Times are ISO 8601 UTC; an invalid reading
// has the value null.
QByteArray StatusJson(const RecorderStatus& status);

// What the process says of itself; empty where the system cannot tell.
struct ProcessFigures {
    std::optional<double> startTimeSeconds; // since the epoch
    std::optional<double> cpuSeconds;       // user + system
    std::optional<double> residentBytes;
};
// Read from the running process (Linux /proc; elsewhere mostly empty).
ProcessFigures CurrentProcessFigures();

// Text exposition format 0.0.4, every family with its HELP and TYPE lines. Forward and MQTT
// families appear only when those are on; an invalid or missing reading, or one older than
// ReadingFreshMs at `now`, has no sample, and the link is down when the last frame is older than
// LinkSilenceMs at `now` (a recorder that stopped publishing is not taken for a live one).
QByteArray MetricsText(const RecorderStatus& status, const ProcessFigures& process, const QDateTime& now);

} // namespace web
