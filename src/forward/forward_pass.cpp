#include "forward/forward_pass.h"

#include <QFileInfo>
#include <algorithm>

namespace {

// Rows read from the data file under one open: short, so that the recorder never waits long
// for its write lock.
constexpr int ChunkRows = 512;

} // namespace

ForwardPass RunPass(ServerSession& server, FileContext& context, const ForwardOptions& options,
                    const std::function<void(qint64, qint64)>& progress, const std::function<bool()>& stop)
{
    ForwardPass pass;
    auto waiting = [&] {
        qint64 count = 0;
        QString ignored;
        if (context.rows.CountAbove(std::max<qint64>(context.serverRowId, 0), &count, &ignored))
            pass.waitingRows = count;
    };
    auto end = [&](ForwardPass::Outcome outcome, const QString& message) {
        pass.outcome = (stop && stop()) ? ForwardPass::Outcome::Stopped : outcome;
        pass.message = message;
        pass.serverRowId = std::max<qint64>(context.serverRowId, 0);
        if (outcome == ForwardPass::Outcome::Unreachable)
            server.Close();
        if (outcome != ForwardPass::Outcome::Complete && outcome != ForwardPass::Outcome::Stopped)
            waiting();
        return pass;
    };

    QString error;
    if (!context.rows.Open(&error))
        return end(ForwardPass::Outcome::DataFileError, error);
    const QString fileName = QFileInfo(context.target.dataFile).fileName();
    // A connection kept from an earlier pass may have been closed by the server meanwhile: one
    // fresh attempt before the outage counts.
    const bool reused = server.IsOpen();
    for (int attempt = reused ? 0 : 1; attempt < 2; ++attempt) {
        if (!server.IsOpen() && !server.Connect(context.target.url, options.connectTimeoutMs, stop, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        qint64 rowId = 0;
        QByteArray serverTime;
        std::optional<qint64> serverUtc;
        if (server.EnsureTable(&error) &&
            server.HighestRow(context.target.station, fileName, &rowId, &serverTime, &serverUtc, &error)) {
            // The server's rows must be this file's: a new file under an old name (or a second PC
            // under the same station name) would otherwise have its first rows skipped and the
            // rest mixed with the other file's.
            QByteArray localTime;
            bool exists = false;
            if (rowId > 0 && !context.rows.RecordedAt(rowId, &localTime, &exists, &error))
                return end(ForwardPass::Outcome::DataFileError, error);
            const bool another = rowId > 0 && (!exists || localTime != serverTime);
            context.serverRowId = another ? -1 : rowId; // none of the server's rows is this file's
            context.rows.Follow(serverUtc);
            if (another)
                return end(
                    ForwardPass::Outcome::DataFileError,
                    QStringLiteral("The central database holds rows of another %1 for station %2 (its row "
                                   "%3 was recorded at %4; here %5). Give this file another name, or this "
                                   "station another name.")
                        .arg(fileName, context.target.station)
                        .arg(rowId)
                        .arg(QString::fromLatin1(serverTime.isEmpty() ? "an unknown time" : serverTime),
                             exists ? QString::fromLatin1(localTime.isEmpty() ? "at an unknown time"
                                                                              : "at " + localTime)
                                    : QStringLiteral("the file has no such row")));
            break;
        }
        server.Close();
        if (attempt == 1)
            return end(ForwardPass::Outcome::Unreachable, error);
    }

    qint64 total = 0;
    if (!context.rows.CountAbove(context.serverRowId, &total, &error))
        return end(ForwardPass::Outcome::DataFileError, error);
    if (progress)
        progress(0, total);
    QByteArray lines;
    QByteArray chunk;
    const int batchRows = std::max(1, options.batchRows);
    for (;;) {
        if (stop && stop())
            return end(ForwardPass::Outcome::Stopped, QString());
        // The first piece is read before the transaction starts, so that a pass with nothing to
        // send costs the server nothing.
        qint64 last = context.serverRowId;
        int rows = 0;
        int got = 0;
        lines.clear();
        chunk.clear();
        int asked = std::min(ChunkRows, batchRows);
        if (!context.rows.ReadChunk(last, asked, &chunk, &last, &got, &error))
            return end(ForwardPass::Outcome::DataFileError, error);
        if (got == 0)
            break;
        if (!server.BeginBatch(Readings, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        for (;;) {
            if (!server.PutBatch(chunk, &error))
                return end(ForwardPass::Outcome::Unreachable, error);
            lines.append(chunk);
            rows += got;
            if (got < asked || rows >= batchRows) // the file has no more, or the batch is full
                break;
            asked = std::min(ChunkRows, batchRows - rows);
            chunk.clear();
            if (!context.rows.ReadChunk(last, asked, &chunk, &last, &got, &error)) {
                server.AbandonBatch();
                return end(ForwardPass::Outcome::DataFileError, error);
            }
            if (got == 0)
                break;
        }
        if (!server.FinishBatch(Readings, lines, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        context.serverRowId = last;
        pass.sentRows += rows;
        total = std::max(total, pass.sentRows);
        if (progress)
            progress(pass.sentRows, total);
    }

    // The events after the rows, the same way: those above the highest id the server holds.
    qint64 eventId = 0;
    if (!server.HighestEvent(context.target.station, fileName, &eventId, &error))
        return end(ForwardPass::Outcome::Unreachable, error);
    for (;;) {
        if (stop && stop())
            return end(ForwardPass::Outcome::Stopped, QString());
        lines.clear();
        qint64 last = eventId;
        int got = 0;
        // An event log that cannot be read holds back no row: the rows are all there.
        if (!context.events.ReadAbove(eventId, batchRows, &lines, &last, &got, &error))
            return end(ForwardPass::Outcome::Complete, error);
        if (got == 0)
            break;
        if (!server.BeginBatch(Events, &error) || !server.PutBatch(lines, &error) ||
            !server.FinishBatch(Events, lines, &error))
            return end(ForwardPass::Outcome::Unreachable, error);
        eventId = last;
        pass.sentEvents += got;
    }
    return end(ForwardPass::Outcome::Complete, QString());
}
