#pragma once
// The program's command line: --data-dir DIR (another folder for the configuration and data
// files), --version (name, build and the data folder in use) and --help. main() checks for
// --help/--version before any window system is needed, and parses the rest after QApplication
// has taken its own options (-platform, -style, ...). Anything else is an error: one line on
// stderr, exit code 2.
#include <QString>
#include <QStringList>

struct ProgramOptions {
    QString dataDir; // empty = the usual folder (beside the program, or the per-user one)
    bool help = false;
    bool version = false;
    QString error; // empty when the command line is good
};

// `arguments` includes the program name first, as main() receives it.
ProgramOptions ParseProgramOptions(const QStringList& arguments);

// The --help text for the program started under `program` (its file name).
QString ProgramHelp(const QString& program);

// The --version text: "NAME VERSION (identity version)" then "Data folder: FOLDER". Needs the
// identity set (SetIdentity).
QString ProgramVersion(const QString& program, const QString& dataFolder);
