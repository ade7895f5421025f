#include "app/program_options.h"

#include "core/shared_state.h"

#include <QDir>

ProgramOptions ParseProgramOptions(const QStringList& arguments)
{
    ProgramOptions options;
    const QString dataDirIs = QStringLiteral("--data-dir=");
    for (qsizetype i = 1; i < arguments.size() && options.error.isEmpty(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            options.version = true;
        } else if (argument == QLatin1String("--data-dir") || argument.startsWith(dataDirIs)) {
            const bool joined = argument.startsWith(dataDirIs);
            if (!joined && i + 1 < arguments.size())
                options.dataDir = arguments.at(++i);
            else if (joined)
                options.dataDir = argument.mid(dataDirIs.size());
            if (options.dataDir.isEmpty())
                options.error = QStringLiteral("--data-dir wants a folder");
        } else {
            options.error = QStringLiteral("unknown argument \"%1\"").arg(argument);
        }
    }
    return options;
}

QString ProgramHelp(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [--data-dir DIR]\n"
               "Shows the live readings of the 16-channel meter on its serial port, records them into a "
               "data\n"
               "file and queries what was recorded. Started as Varnik350 it shows the branded captions, "
               "under\n"
               "any other name (Datalogger) the generic ones.\n"
               "\n"
               "Options:\n"
               "  --data-dir DIR  keep the configuration and data files in DIR (made when missing, and\n"
               "                  given the shipped defaults it lacks)\n"
               "  -v, --version   print the version and the data folder in use, then exit\n"
               "  -h, --help      print this text, then exit\n"
               "\n"
               "Without --data-dir the files are in the folder \"data\" beside the program when it is\n"
               "writable there (a build, a portable copy); an installed program keeps them per user in\n"
               "~/.local/share/Varnik350/data, filled from the shipped defaults on the first start.\n"
               "Window placement, the baud rate and the serial device of each port number are kept in\n"
               "~/.config/Varnik350/Varnik350.conf.\n"
               "\n"
               "Environment: VARNIK_SPLASH_MS (0 to 60000) sets the splash time in milliseconds.\n")
        .arg(program);
}

QString ProgramVersion(const QString& program, const QString& dataFolder)
{
    return QStringLiteral("%1 %2 (%3)\nData folder: %4\n")
        .arg(program, QStringLiteral(VARNIK_VERSION_TEXT), Shared.VersionText,
             QDir::toNativeSeparators(dataFolder));
}
