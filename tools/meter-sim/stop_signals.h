#pragma once
// SIGINT, SIGTERM and SIGHUP ask meter-sim to stop: the handler only writes a byte into a pipe, so
// the send loop waits for its next frame and for a stop request in the same poll() and then cleans
// up (link removed, pseudo-terminal closed) in ordinary code. SIGPIPE is ignored.
#include <QString>

namespace metersim {

// Installs the handlers once per process; returns the descriptor that becomes readable on a stop
// request, or -1 with `error` set.
int InstallStopSignals(QString* error);

} // namespace metersim
