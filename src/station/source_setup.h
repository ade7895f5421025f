#pragma once
// Sources as both hosts build them from their choices (source_choice.h): meter-record from its
// --source options, the program from its settings store (group "Sources", written by the meter
// source dialog of System Setup). One text syntax, one parser, one way to build and place them.
#include "acquisition/serial_link.h"
#include "station/source_choice.h"

#include <QStringList>

class ReadingSource;
class RecordingStation;

// Parses every text in order; an empty list is the meter alone. False with the first one's error.
bool ParseSourceChoices(const QStringList& texts, QList<SourceChoice>* out, QString* error);

// A new source for the choice: the meter on its RS-232 port with the host's recovery, or a
// libsigrok device.
ReadingSource* MakeSource(const SourceChoice& choice, SerialLink::Recovery recovery);

// Gives source i of the station the channels of laidOut[i] (LayOutSources first). Alone, the
// meter keeps every channel its frames name, as it always has.
void PlaceSources(RecordingStation& station, const QList<SourceChoice>& laidOut);

// How a log line or the start event names a laid-out source: the meter with its device, port and
// baud rate ("on channels 1 to N" beside other sources), a device as "sigrok:demo on channels 1 to 2".
QString SourceText(const SourceChoice& laidOut, bool alone);

// The program's sources in the settings store, as --source texts in order; empty: none stored
// (the instrument alone).
QStringList StoredSourceTexts();
void StoreSourceTexts(const QStringList& texts);
