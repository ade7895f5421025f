#include "acquisition/scan_cycle.h"

#include "core/recorded_reading.h"
#include "core/shared_state.h"
#include "platform/host_services.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr QRgb OpaqueRgb(int red, int green, int blue)
{
    return 0xff000000u | (QRgb(red) << 16) | (QRgb(green) << 8) | QRgb(blue);
}

qint64 WholeSeconds(const QDateTime& t)
{
    const qint64 ms = t.toMSecsSinceEpoch();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// The reading and unit of channels 1..channels as they are recorded (recorded_reading.h); a
// channel not current holds the invalid-reading marker with an empty unit.
bool BuildRow(int channels, const QDateTime& now, DataRow* row, QString* error)
{
    if (channels > MaxChannel)
        return Fail(error, QStringLiteral("The data file has %1 channels; the meter has at most %2.")
                               .arg(channels)
                               .arg(MaxChannel));
    row->date = now.date();
    row->time = now.time();
    for (int n = 1; n <= channels; ++n) {
        // A reading not heard lately was never measured now: the invalid-reading marker holds its place.
        if (!Shared.Freshness.Current(n)) {
            row->chan.append(InvalidReading);
            row->unit.append(QString());
            continue;
        }
        RecordedReading reading;
        if (!RecordedReadingOf(n, &reading, error))
            return false;
        row->chan.append(reading.value);
        row->unit.append(reading.unit);
    }
    return true;
}

} // namespace

ScanCycle::ScanCycle(DataFile& Data1) : Events(Data1), m_data(Data1)
{
}

bool ScanCycle::WriteRow(const QDateTime& now, int due, QString* error)
{
    DataRow row;
    QString failure;
    if (!BuildRow(FieldCount / 2, now, &row, &failure) || !m_data.AppendRow(row, &failure)) {
        m_missedRows = due;
        Events.RowMissed(now, failure, due);
        return Fail(error, failure);
    }
    m_missedRows = 0;
    ++Shared.RecordCount;
    Shared.Freshness.RowRecorded(now);
    m_lastRow = std::move(row);
    Events.RowRecorded(now, m_lastRow);
    if (DataFileFull())
        Events.Full();
    return true;
}

ScanCycle::Tick ScanCycle::Timer1_Timer()
{
    if (CheckLink)
        CheckLink();
    if (m_data.IsBound() && !DataFileFull())
        Events.Start();
    if (Unwatched && Shared.DataReceived && !Shared.Paused && Unwatched())
        Shared.Paused = true, Events.PauseState(true, QStringLiteral("no live display open"));
    Events.PauseState(Shared.Paused);
    m_recording = false;
    if (!ReadingsFresh()) {
        m_missedRows = 0; // no row is due without current readings
        return Tick::Idle;
    }
    m_recording = !Shared.Paused && m_data.IsBound() && !DataFileFull();

    const QDateTime now = Host().now();
    if (LastScanTime.isNull())
        LastScanTime = now;
    const qint64 elapsed = WholeSeconds(now) - WholeSeconds(LastScanTime);
    // A clock set back would otherwise hold every row until it caught up again.
    if (elapsed < 0) {
        LastScanTime = now;
        return Tick::Idle;
    }
    if (elapsed < Shared.ScanRate)
        return Tick::Idle;
    LastScanTime = now;
    if (Shared.Paused || !m_data.IsBound())
        return Tick::Idle;
    if (DataFileFull())
        return Tick::Full;
    // While rows fail, a tick that comes late (the last one waited on a locked file) was due for
    // every scan interval it spans, and each of those rows is missed.
    const int due = m_missedRows > 0 ? int(std::clamp<qint64>(elapsed / std::max<int>(Shared.ScanRate, 1), 1,
                                                             std::numeric_limits<int>::max()))
                                     : 1;
    return WriteRow(now, due, &m_lastError) ? Tick::Recorded : Tick::Failed;
}

void ScanCycle::ForgetSources()
{
    m_staleGap.fill(false);
    Events.ForgetSources();
}

bool ScanCycle::ReadingsFresh()
{
    ReadingFreshness& fresh = Shared.Freshness;
    Events.Sources = std::clamp(Sources, 1, ReadingFreshness::Sources);
    for (int s = 0; s < Events.Sources; ++s) {
        bool& staleGap = m_staleGap[size_t(s)];
        if (!fresh.SourceFresh(s)) {
            // The last good frame is where the source's readings stopped being current.
            if (fresh.AnyFrame(s) && !Events.InGap(s)) {
                staleGap = true;
                Events.LinkLost(QStringLiteral("no frames from %1 for more than %2 s")
                                    .arg(Events.NameOf(s))
                                    .arg(ReadingFreshness::StaleAfterMs / 1000),
                                fresh.LastFrameTime(s), s);
            }
            continue;
        }
        // A gap the link itself reported (a port lost) ends with the link's word; a stale spell
        // ends with the first frame of the new run.
        if (staleGap && Events.InGap(s))
            Events.LinkRestored(fresh.RunStart(s), s);
        staleGap = false;
    }
    if (!fresh.Fresh()) {
        return false;
    }
    // After start or a gap, rows wait until the file's channels have been heard (for a while).
    return Shared.DataReceived && !Events.InGap() && fresh.Settled(FieldCount / 2);
}

void ScanCycle::NotRunning(const QDateTime& from, const QDateTime& to)
{
    // Rows that failed are counted by the failing ticks themselves.
    if (!m_recording || LastScanTime.isNull() || m_missedRows > 0)
        return;
    const qint64 rate = std::max<qint64>(Shared.ScanRate, 1);
    const qint64 last = WholeSeconds(LastScanTime);
    const qint64 before = (WholeSeconds(from) - last) / rate; // due instants up to `from`
    const qint64 upTo = (WholeSeconds(to) - last) / rate;     // ... and up to `to`
    // The next tick records one row for the latest of them.
    const qint64 missed = upTo - before - 1;
    if (before < 0 || missed <= 0)
        return;
    const auto at = [&](qint64 k) {
        return LastScanTime.addMSecs((last + k * rate) * 1000 - LastScanTime.toMSecsSinceEpoch());
    };
    const QString why = QStringLiteral("the recorder was not running");
    Events.RowMissed(at(before + 1), why, 1);
    if (missed > 1)
        Events.RowMissed(at(upTo - 1), why, int(std::min<qint64>(missed - 1, std::numeric_limits<int>::max())));
}

QString ScanCycle::GapText() const
{
    const ReadingFreshness& fresh = Shared.Freshness;
    if (fresh.Fresh() && !Events.InGap())
        return QString();
    if (!fresh.AnyFrame())
        return QStringLiteral("Nothing recorded: no frames have come from the meter yet.");
    return QStringLiteral("Nothing recorded: no frames have come from the meter since %1; rows are recorded "
                          "again when frames return.")
        .arg(fresh.LastFrameTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

bool ScanCycle::SaveRow(QString* error)
{
    // Without a data file recording is off, and the counter must not claim rows.
    if (!m_data.IsBound())
        return Fail(error, QStringLiteral(
                               "No data file is open: create or choose one with \"Create New Data File\"."));
    if (const QString gap = GapText(); !gap.isEmpty())
        return Fail(error, gap);
    if (DataFileFull())
        return true;
    return WriteRow(Host().now(), 1, error);
}

PauseLook PausedLook()
{
    return {QStringLiteral("PAUSE"), OpaqueRgb(255, 0, 0)};
}

PauseLook CurrentPauseLook()
{
    if (Shared.Paused)
        return PausedLook();
    return {QStringLiteral("RUN"), OpaqueRgb(128, 255, 128)};
}

PauseLook RecordingOffLook()
{
    return {QStringLiteral("OFF"), OpaqueRgb(192, 192, 192)};
}

bool DataFileFull()
{
    return Shared.RecordCount >= Shared.MaxRecords;
}

QString DataFileFullText(const QString& fileName)
{
    return QStringLiteral("The data file %1 is full: it holds the most rows allowed (%2). Nothing more is "
                          "recorded until a new data file is created.")
        .arg(fileName)
        .arg(Shared.MaxRecords);
}
