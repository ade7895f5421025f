#pragma once
// The scan cycle of a recording station (station/recording_station.h): the engine half of the main
// window's scan timer (Timer1_Timer), its "Save Data" procedure (savedata, here SaveRow) and the
// state that check_pause paints. The station owns one beside its data binding, ticks it every
// 200 ms and sets FieldCount whenever it binds a data file.
//
// A tick records one row of channels 1..FieldCount/2 every ScanRate seconds (second boundaries of
// the clock crossed) while readings are current (Shared.Freshness) and recording is not paused, up
// to MaxRecords rows. When a source has sent no frame for ReadingFreshness::StaleAfterMs the tick
// logs link-lost for it at the time of its last frame; while no source is current nothing is
// recorded, until frames return (link-restored at the time of the first new one) and the file's
// channels have been heard; a channel not heard lately is recorded as InvalidReading with an
// empty unit. RecordCount counts rows written. Any
// error in a tick (no data file, a missing column, a unit code outside 0..300, decimals outside
// 0..16) ends it silently without writing; SaveRow reports the same errors to its caller.
#include "acquisition/recording_events.h"
#include "datafile/data_file.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

class ScanCycle {
  public:
    explicit ScanCycle(DataFile& Data1);

    // Runs first in every tick: the serial link watchdog.
    std::function<void()> CheckLink;

    // What a tick did: Recorded wrote LastRow(); Full refused a due row because RecordCount
    // reached MaxRecords; Failed could not build or write it (the reason in LastError).
    enum class Tick { Idle, Recorded, Full, Failed };
    Tick Timer1_Timer();
    // Records one row at once with every channel of the file, whatever the pause state or the
    // scan interval. True also when the file is full (RecordCount at MaxRecords), which writes
    // nothing, as the tick does; false and *error when the row cannot be built or written, or the
    // readings are not current (GapText).
    bool SaveRow(QString* error = nullptr);
    // The cycle did not run from `from` to `to` (the process was stopped, the disk hung): when it
    // was recording before, the rows that fell due in between and that the next row does not stand
    // for are logged as missed ("the recorder was not running"), with their span.
    void NotRunning(const QDateTime& from, const QDateTime& to);
    // Why nothing can be recorded now for want of frames; empty while readings are current.
    QString GapText() const;
    // Rows the last Failed tick was due for and could not write (more than one when it came late).
    int MissedRows() const { return m_missedRows; }

    // The station's sources were replaced: their gaps are over, the new ones start afresh.
    void ForgetSources();

    QDateTime LastScanTime; // null until the first tick that sees data
    int16_t FieldCount = 0;
    // The program pauses recording when nobody watches (no live display open): true then. Empty
    // (the unattended recorder): recording never pauses for want of a display.
    std::function<bool()> Unwatched;
    // How many sources feed readings (Shared.Freshness sources 0..Sources-1); Events.SourceName
    // says what the event log calls each.
    int Sources = 1;
    // The event log of the file being recorded: ticks start it, rows and missed rows go to it, and
    // no row is recorded while it says the link is in a gap.
    RecordingEvents Events;

    const DataRow& LastRow() const { return m_lastRow; }
    const QString& LastError() const { return m_lastError; }

  private:
    bool WriteRow(const QDateTime& now, int due, QString* error);
    bool ReadingsFresh();

    DataFile& m_data;
    DataRow m_lastRow;
    QString m_lastError;
    int m_missedRows = 0;
    bool m_recording = false; // the last tick found readings current, not paused, a file with room
    // Per source: the gap in force began with a stale spell, not with the link's word.
    std::array<bool, ReadingFreshness::Sources> m_staleGap{};
};

// What the RUN/PAUSE buttons of the open displays show. QRgb is QtGui's 0xAARRGGBB colour type,
// spelled out here because the engine links no QtGui.
typedef unsigned int QRgb;
struct PauseLook {
    QString caption;
    QRgb background;
};
// "PAUSE" on red while Shared.Paused, else "RUN" on light green.
PauseLook CurrentPauseLook();
// "PAUSE" on red: recording is held whatever Shared.Paused says (the scan timer is suspended).
PauseLook PausedLook();
// "OFF" on grey: no data file can take rows (full, damaged), whatever the pause state.
PauseLook RecordingOffLook();

// True when RecordCount has reached MaxRecords: the data file is full and neither the tick nor
// SaveRow records another row until a new data file is created.
bool DataFileFull();
// What the program says of a full data file (status bar, "Save Data"); fileName is the bound
// file's, not Shared.DataFileName, which follows what is typed in "Create New Data File".
QString DataFileFullText(const QString& fileName);
