#pragma once
// The one place that knows both statement forms of a data file query. The query windows build
// their statements with #...# date and time literals ("[date] >= #2010/4/1 #", "[time] <= #17:30 #");
// the data file keeps "date" as text YYYY-MM-DD and "time" as text HH:MM:SS. TranslateStatement
// turns each literal into a quoted text of the stored form ('2010-04-01', '17:30:00'), so text
// comparison orders them as dates and times; [bracket] names, keywords and everything outside the
// literals pass unchanged (SQLite reads them as they are).
//
// A literal is a date y/m/d (also y-m-d) or a time h:mm or h:mm:ss, with blanks allowed inside the
// #...#. Anything else between # marks, an unclosed #, or a day or time that does not exist is an
// error; then *error names the literal and false comes back. # inside '...' or [...] is left alone.
#include <QString>

bool TranslateStatement(const QString& statement, QString* translated, QString* error = nullptr);
