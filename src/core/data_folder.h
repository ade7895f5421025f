#pragma once
// Where the configuration and data files live. Start-up (the program and every tool) decides it
// once, before the configuration is read:
//   1. a folder named on the command line (--data-dir, kept in Shared.DataFolder);
//   2. the "data" folder beside the executable when it is a writable folder (a build, a portable
//      copy): used as it always was;
//   3. an installed program (its read-only defaults in PREFIX/share/varnik/data beside PREFIX/bin):
//      the per-user folder, on Linux ~/.local/share/Varnik350/data;
//   4. otherwise the "data" folder beside the executable, whose missing files start-up reports.
// The chosen folder is created when missing and gets a copy of every shipped file it lacks (without
// shared defaults, as in a build or a portable copy, the "data" folder beside the executable is
// what is shipped); a file that is already there is never replaced, so a user's settings survive
// every later start.
#include <QString>
#include <QStringList>

// The shipped read-only defaults of an executable in `appPath`: appPath/../share/varnik/data
// when that folder exists, else empty.
QString ShippedDataFolder(const QString& appPath);

// The per-user data folder: QStandardPaths' AppDataLocation of "Varnik350" (for both program
// names and every tool) followed by "/data".
QString PerUserDataFolder();

// The folder that rules 1 to 4 pick; `requested` is the command line's folder (empty = none).
// Decides only: creates and copies nothing.
QString ChooseDataFolder(const QString& appPath, const QString& requested);

// Creates `folder` (with its parents) when missing and copies each file of `shipped` that it lacks;
// an empty `shipped` copies nothing. A copy appears complete or not at all: it is written under a
// temporary name and renamed, and a name that exists by then is left alone. False with a message
// naming the folder or file when the folder cannot be made or a copy fails. A non-empty `only`
// limits the copies to those file names.
bool FillDataFolder(const QString& folder, const QString& shipped, QString* error,
                    const QStringList& only = {});

// Start-up's step: with Shared.AppPath set, picks the folder (Shared.DataFolder stays empty for
// rule 2 and 4, so DataPath keeps AppPath's "data" folder) and fills it from the shipped defaults.
bool PrepareDataFolder(QString* error);
