#pragma once
// The four configuration files in the data folder (paths from DataPath()):
//   unit2.dat    unit names, read only: records of two fields, the second a name (cut to 10
//                characters) for unit code 0, 1, ...; records past the 301st are ignored.
//   display.dat  DispSetup(1..8) as 94-byte little-endian records, see DisplayRecordSize; then,
//                written since alarm events have a deadband, the block "VKALARM1" and for each of
//                the eight channels its AlarmDeadband (double) and AlarmDelay (int16). A file
//                without the block (an older one) gives every channel the defaults; whatever
//                follows the records (or the block) is kept as it is. A deadband that is not a
//                finite number is taken as unset, a delay outside 1..3600 as the nearest end.
//   default.txt  the system setup, eight labelled statements.
//   dispchan.dat the display channel choices, 20 numbers.
// The text files use the statement format of statement_format.h.
//
// Start-up calls LoadConfiguration; the main window and the setup dialog call SaveDefaults, the
// display windows SaveDisplayChannels, the angular display's setup page SaveDisplaySetup.
//
// Every function returns false on failure and fills *error with a message that names the file
// (and, for the text files, the line). A loader changes the shared state only when it succeeds.
// A missing unit2.dat, default.txt or dispchan.dat, a numeric field that is not a number, and a
// number outside its variable's range are errors; a missing display.dat is created empty.
// Hand-edited values that fit their variable but not what the windows offer are put right as the
// setup dialog would, and ConfigurationNotes() says so: a scan rate outside 1..3600 is taken as
// 1, a display type outside its list as the first layout, a channel choice (dispchan.dat, the
// chart channel of default.txt) outside 1..16 as channel 1. A data file name holding a double
// quote (which no save could write back) is an error.
// A save writes a temporary file beside the target and renames it over the target, so a failed
// save leaves the old file as it was.
#include <QString>
#include <QStringList>

// The scan rates the program records at, in seconds: the setup dialog offers them, and a
// hand-edited default.txt outside them is taken as the lowest.
constexpr int MinScanRate = 1;
constexpr int MaxScanRate = 3600;

constexpr int DisplayRecordSize = 94;
constexpr int DisplayRecordCount = 8; // display.dat holds channels 1..8
constexpr int AlarmBlockSize = 8 + DisplayRecordCount * 10;
constexpr int MaxAlarmDelay = 3600;

bool LoadUnitNames(QString* error);
bool LoadDisplaySetup(QString* error);
bool LoadDefaults(QString* error);
bool LoadDisplayChannels(QString* error);
// The four loaders in the order unit2.dat, display.dat, default.txt, dispchan.dat; stops at the
// first failure.
bool LoadConfiguration(QString* error);
// One sentence for each value the last LoadDefaults and LoadDisplayChannels put right, and one
// naming the display.dat records whose numbers no setup would hold (used as read); the main window
// shows them in its status bar.
QStringList ConfigurationNotes();

bool SaveDefaults(QString* error);
bool SaveDisplayChannels(QString* error);
// Writes records 1..8 from DispSetup(1..8), their reserved bytes as they were read, and keeps any
// bytes the file holds beyond record 8. Pads each ManualUnit in the shared state to 10 blanks.
bool SaveDisplaySetup(QString* error);
