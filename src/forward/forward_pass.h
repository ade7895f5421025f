#pragma once
// One pass over one data file: what the server holds of it is asked, then the rows above that are
// sent in batches, then the events. The pass planner of both ForwardOnce (meter-forward) and the
// Forwarder's thread, which keeps a FileContext per file across passes and one session.
#include "forward/forwarder.h"
#include "forward/local_events.h"
#include "forward/local_rows.h"
#include "forward/server_session.h"

#include <QFileInfo>
#include <functional>

// What a pass knows of one file across passes: the reader of the file, and the highest row id the
// server was last seen to hold for it (-1: not yet known).
struct FileContext {
    explicit FileContext(const ForwardTarget& t)
        : target(t), rows(t.dataFile, t.station),
          events(t.dataFile, t.station, QFileInfo(t.dataFile).fileName())
    {
    }
    ForwardTarget target;
    LocalRows rows;
    LocalEvents events;
    qint64 serverRowId = -1;
};

// Connects when the session is closed, makes the tables when missing, refuses a file whose rows on
// the server are another file's (DataFileError), then sends. progress(done, total) follows each
// committed batch of rows; stop, when given, is polled and ends the pass (its batch rolls back).
// An Unreachable outcome leaves the session closed.
ForwardPass RunPass(ServerSession& server, FileContext& context, const ForwardOptions& options,
                    const std::function<void(qint64, qint64)>& progress, const std::function<bool()>& stop);
