#pragma once
// The statement text of a data file query, built as the query windows always have:
//   Select [date],[time],[chan 1],[unit 1] From [DataRecord] Where [date] >= #2010/4/1 #
//   And [date] <= #2010/4/2 # AND [time] >= #08:00 # And [time] <= #17:30 #
// Shared by the query windows and meter-query, so both send the same text for the same choice.
// Dates are read in the system's short date form (its year always taken in full), as ISO dates
// (2010-04-01) and as 2010/4/1; times as hh:mm with hh 0-23 and mm 0-59.
#include <QDate>
#include <QList>
#include <QLocale>
#include <QString>

struct QuerySpec {
    QList<int> channels; // checked channels, ascending
    QString startDate;
    QString endDate;
    bool timeCondition = false;
    QString startTime; // "hh:mm", as typed
    QString endTime;
};

// "[date],[time],[chan 2],[unit 2],[chan 5],[unit 5]".
QString FieldList(const QList<int>& channels);

// The system's short date format with a two-digit year widened to four ("M/d/yy" -> "M/d/yyyy"),
// so that a date shown and read back keeps its century.
QString ShortDateFormat(const QLocale& locale = QLocale::system());
QString ShortDateText(QDate date, const QLocale& locale = QLocale::system());

// A date typed in the short date form (widened or as the system writes it), as an ISO date or as
// year/month/day (2010/4/1); an invalid QDate when the text is none of them.
QDate ReadDate(const QString& text, const QLocale& locale = QLocale::system());

// The whole statement, or false with a message that names the text that cannot be read
// (a date, or a time when the time condition is on). No channel at all is an error too; its text
// is NoChannelMessage.
bool BuildStatement(const QuerySpec& spec, QString* statement, QString* error,
                    const QLocale& locale = QLocale::system());

extern const QString NoChannelMessage; // "Please select any channel."
