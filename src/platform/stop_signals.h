#pragma once
// SIGINT, SIGTERM and SIGHUP ask a program to stop: the handler only writes a byte into a pipe,
// whose read end the program watches (poll() in meter-sim, a socket notifier in the event loop of
// meter-record and of the desktop program) and then ends in ordinary code, as after its own exit
// command: files closed, the event log's stop written, temporary files removed. SIGPIPE is ignored.
#include <QString>

// Installs the handlers once per process; returns the descriptor that becomes readable on a stop
// request, or -1 with `error` set.
int InstallStopSignals(QString* error);
