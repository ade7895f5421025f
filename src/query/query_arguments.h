#pragma once
// The query's arguments as meter-query and the recorder's history API take them as text:
// a channel list "1,3,12" and a time window "08:00-17:30".
#include "query/query_statement.h"

#include <QList>
#include <QString>

// "1,3,12" -> {1, 3, 12}, ascending, each once; empty (and *bad the part) on any part that is not
// a channel 1..16.
QList<int> ReadChannelList(const QString& list, QString* bad);

// "hh:mm-hh:mm" (blanks allowed around the parts) into spec's time condition; false when the text
// has another form (the times themselves are checked by BuildStatement).
bool ReadTimeWindow(const QString& text, QuerySpec* spec);
