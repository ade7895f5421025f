// meter-query: the query windows' query, report and export without a window, for scripts and
// scheduled jobs. It builds the same statement, reads the same result and writes the same report
// and workbook as the windows; the data file is opened read-only and never written.
//
//   meter-query DATAFILE --from WHEN --to WHEN [--time HH:MM-HH:MM] --channels LIST [--series]
//               [--report FILE] [--xlsx FILE] [--csv FILE] [--events FILE]
//
// Standard output: the statement text, then "Record No. N" (on standard error when an output,
// --events "-" or a path such as /dev/stdout, is standard output); records left out for an unreadable date or time are counted in one
// line on standard error. --events writes the event log of the date range as CSV ("-" for
// standard output); with no other output option only the events are written, and --channels may
// be left out. A workbook gets the events of the range as its second sheet. Each output is
// written whole or not at all; an output that names the data file, or any existing database, is
// refused before the query. Exit codes (HelpText): one line on standard error per failure.
#include "datafile/data_file.h"
#include "event_output.h"
#include "platform/host_services.h"
#include "query/output_file.h"
#include "query/query_arguments.h"
#include "query/query_range.h"
#include "query/query_statement.h"
#include "query/events_sheet.h"
#include "query/report_writer.h"
#include "query/spreadsheet_export.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

namespace {

// "-", or a path that leads to the file standard output writes to (/dev/stdout, /dev/fd/1).
bool IsStandardOutput(const QString& path)
{
    if (path == QLatin1String("-"))
        return true;
    struct stat named{};
    struct stat out{};
    return ::stat(QFile::encodeName(path).constData(), &named) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

enum Exit { Done = 0, NoRecord = 1, BadArguments = 2, Failed = 3 };

int Complain(const QString& text, int code)
{
    QTextStream(stderr) << "meter-query: " << text << Qt::endl;
    return code;
}

const char* const HelpText = R"(Query a data file; write the report, a workbook or CSV.

--from and --to take a date (yyyy-mm-dd, yyyy/m/d, or the system's short date
form), which means the whole day, or a date and a time ("2026-12-01 12:24:28",
ISO 8601 2026-12-01T12:24:28, also with Z or an offset such as +01:00), which
is that second, both ends included; without an offset it is this computer's
clock. Years 0001 to 9999. --time takes hh:mm-hh:mm (hh 0-23, mm 0-59) and
keeps that window of every day. --series reads DATAFILE and the files a
rotating recorder went on in (NAME_002.mdb, NAME_003.mdb, ...) as one. --channels lists channel numbers 1 to 16, separated
by commas, each at most the data file's channel count (8, 12 or 16).

--events FILE writes the event log of the dates as CSV (- for standard output,
the query's own lines then go to standard error); alone, it needs no
--channels and writes only the events. A workbook gets the events as its
second sheet "Events".

Outputs are written whole or not at all. An output may not be the data file
or any other existing database. When one output fails, the others are still
written.

Exit codes:
  0  done
  1  no record matched
  2  bad arguments or not a data file (nothing is written)
  3  the query failed (data file in use, engine error) or an output could not
     be written (the others were))";

struct Output {
    QString option;
    QString path;
};

// Refuses an output that would replace the data file or another database, or one named twice.
bool CheckOutputs(const QList<Output>& outputs, const QString& dataFile, QString* error)
{
    for (int i = 0; i < outputs.size(); ++i) {
        const Output& o = outputs[i];
        if (SameFile(o.path, dataFile) || IsSqliteDatabase(o.path)) {
            *error = QStringLiteral("--%1 \"%2\" is %3: it is not overwritten")
                         .arg(o.option, o.path,
                              SameFile(o.path, dataFile) ? QStringLiteral("the data file")
                                                         : QStringLiteral("a database"));
            return false;
        }
        for (int j = 0; j < i; ++j) {
            const QFileInfo a(o.path), b(outputs[j].path);
            if (SameFile(o.path, outputs[j].path) ||
                QDir::cleanPath(a.absoluteFilePath()) == QDir::cleanPath(b.absoluteFilePath())) {
                *error = QStringLiteral("--%1 and --%2 name the same file").arg(outputs[j].option, o.option);
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("meter-query"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(HelpText));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DATAFILE"), QStringLiteral("the data file (.mdb)"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("first date"),
                                  QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("last date"), QStringLiteral("DATE"));
    const QCommandLineOption time(QStringLiteral("time"), QStringLiteral("time of day window"),
                                  QStringLiteral("HH:MM-HH:MM"));
    const QCommandLineOption channels(QStringLiteral("channels"), QStringLiteral("channels, like 1,3,12"),
                                      QStringLiteral("LIST"));
    const QCommandLineOption report(QStringLiteral("report"), QStringLiteral("write the report"),
                                    QStringLiteral("FILE"));
    const QCommandLineOption xlsx(QStringLiteral("xlsx"), QStringLiteral("write a workbook"),
                                  QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("write CSV"), QStringLiteral("FILE"));
    const QCommandLineOption events(QStringLiteral("events"),
                                    QStringLiteral("write the events of the range as CSV (- for standard output)"),
                                    QStringLiteral("FILE"));
    const QCommandLineOption series(QStringLiteral("series"),
                                    QStringLiteral("read DATAFILE's rotated files (NAME_002.mdb, ...) with it"));
    parser.addOptions({from, to, time, channels, report, xlsx, csv, events, series});
    if (!parser.parse(app.arguments()))
        return Complain(parser.errorText(), BadArguments);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Done);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return Complain(QStringLiteral("name exactly one DATAFILE"), BadArguments);
    const bool eventsOnly =
        parser.isSet(events) && !parser.isSet(report) && !parser.isSet(xlsx) && !parser.isSet(csv);
    for (const auto* option : {&from, &to, &channels})
        if (!parser.isSet(*option) && !(eventsOnly && option == &channels))
            return Complain(QStringLiteral("--%1 is missing").arg(option->names().first()), BadArguments);

    QuerySpec spec;
    QueryRange range;
    QString error;
    for (const auto* option : {&from, &to})
        if (parser.value(*option).trimmed().isEmpty())
            return Complain(QStringLiteral("--%1 is empty: give a date or a date and time").arg(option->names().first()),
                            BadArguments);
    if (!ReadRange(parser.value(from), parser.value(to), &range, &error, QStringLiteral("--from"),
                   QStringLiteral("--to")))
        return Complain(error, BadArguments);
    SetRangeDates(range, &spec);
    if (parser.isSet(time)) {
        if (!ReadTimeWindow(parser.value(time), &spec))
            return Complain(QStringLiteral("\"%1\" is not a time window HH:MM-HH:MM").arg(parser.value(time)),
                            BadArguments);
    }
    const QString dataFile = files.first();
    QList<Output> outputs;
    for (const auto* option : {&report, &xlsx, &csv, &events})
        if (parser.isSet(*option))
            outputs.append({option->names().first(), parser.value(*option)});
    // "-" is standard output, not a file; only the event log goes there.
    for (const Output& o : outputs)
        if (o.path == QLatin1String("-") && o.option != QLatin1String("events"))
            return Complain(QStringLiteral("--%1 writes a file: name one (\"-\", standard output, is for --events)")
                                .arg(o.option),
                            BadArguments);
    QList<Output> outputFiles = outputs;
    outputFiles.removeIf([](const Output& o) { return o.path == QLatin1String("-"); });
    if (QFileInfo(dataFile).isDir())
        return Complain(QStringLiteral("\"%1\" is a folder, not a data file").arg(dataFile), BadArguments);
    const QStringList dataFiles = parser.isSet(series) ? RotatedSeries(dataFile) : QStringList{dataFile};
    for (const QString& file : dataFiles)
        if (!CheckOutputs(outputFiles, file, &error))
            return Complain(error, BadArguments);
    if (FileExists(dataFile) && DataFileInUse(dataFile, &error))
        return Complain(error, Failed);
    if (eventsOnly) {
        if (CountTableFields(dataFile, QStringLiteral("DataRecord"), &error) < 0)
            return Complain(error, BadArguments);
        if (!WriteEventsCsv(dataFiles, range, parser.value(events), &error))
            return Complain(error, Failed);
        return Done;
    }
    QString bad;
    spec.channels = ReadChannelList(parser.value(channels), &bad);
    if (spec.channels.isEmpty())
        return Complain(QStringLiteral("\"%1\" is not a channel 1 to 16").arg(bad), BadArguments);

    const int fields = CountTableFields(dataFile, QStringLiteral("DataRecord"), &error);
    if (fields < 0)
        return Complain(error, BadArguments);
    const int fileChannels = (fields - 2) / 2;
    if (spec.channels.last() > fileChannels)
        return Complain(QStringLiteral("the data file has %1 channels, not channel %2")
                            .arg(fileChannels)
                            .arg(spec.channels.last()),
                        BadArguments);

    QString statement;
    if (!BuildStatement(spec, &statement, &error))
        return Complain(error, BadArguments);
    // The statement and the count go to standard error when an output is standard output: piped
    // CSV or a report stays clean.
    bool outputOnStdout = false;
    for (const auto* option : {&report, &xlsx, &csv, &events})
        outputOnStdout = outputOnStdout || (parser.isSet(*option) && IsStandardOutput(parser.value(*option)));
    QTextStream out(outputOnStdout ? stderr : stdout);
    out << statement << Qt::endl;

    QueryResult result;
    const QueryStatus status = RunRangeQuery(dataFiles, spec, range, &result, &error);
    out << "Record No. " << result.rowCount() << Qt::endl;
    if (status == QueryStatus::NoRecord)
        return Complain(error, NoRecord);
    if (status == QueryStatus::Failed)
        return Complain(error, Failed);
    if (result.skippedRows() > 0)
        Complain(SkippedText(result), Done);

    int code = Done;
    QList<LoggedEvent> logged;
    if (parser.isSet(xlsx)) {
        QString eventError;
        if (!RangeEvents(dataFiles, range, &logged, &eventError))
            Complain(eventError + QStringLiteral(" The workbook's sheet Events stays empty."), Done);
    }
    for (const Output& o : outputs) {
        const bool written =
            o.option == report.names().first()
                ? WriteReport(result, ReportLongDate(Host().now().date()), o.path, &error)
            : o.option == xlsx.names().first() ? WriteWorkbook(result, o.path, &error, &logged)
            : o.option == csv.names().first()
                ? WriteCsv(result, o.path, &error)
                : WriteEventsCsv(dataFiles, range, o.path, &error);
        if (!written)
            code = Complain(QStringLiteral("--%1 not written: %2").arg(o.option, error), Failed);
    }
    return code;
}
