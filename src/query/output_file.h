#pragma once
// Output files of a query (report, workbook, CSV) are written whole or not at all: the content goes
// to a temporary file in the target's folder, which takes the target's place only when all of it
// was written. A failure leaves the earlier file (or none), never half a file. A file that is a
// SQLite database (a data file) is never replaced. A pipe, terminal or descriptor path
// (/dev/stdout) is written in place.
#include <QString>
#include <functional>

class QIODevice;

// Calls write with the temporary file and puts it in place when write returns true. False with
// *error: write's own text, or one naming the file (as "the <what> ...") when the file is a
// database or cannot be made or replaced.
bool SaveOutput(const QString& path, const QString& what,
                const std::function<bool(QIODevice& out, QString* error)>& write, QString* error);

// True when the file at path (after links) exists and begins with the SQLite database header.
bool IsSqliteDatabase(const QString& path);

// True when both paths lead to one existing file, whatever the spelling ("./", "..", links).
bool SameFile(const QString& a, const QString& b);
