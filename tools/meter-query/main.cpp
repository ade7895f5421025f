// meter-query: the query windows' query, report and export without a window, for scripts and
// scheduled jobs. It builds the same statement, reads the same result and writes the same report
// and workbook as the windows; the data file is opened read-only and never written.
//
//   meter-query DATAFILE --from DATE --to DATE [--time HH:MM-HH:MM] --channels LIST
//               [--report FILE] [--xlsx FILE] [--csv FILE] [--events FILE]
//
// Standard output: the statement text, then "Record No. N" (on standard error when --events
// writes to standard output). --events writes the event log of the date range as CSV ("-" for
// standard output); with no other output option only the events are written, and --channels may
// be left out. A workbook gets the events of the range as its second sheet. Exit codes: 0 done; 1 no record
// matched; 2 bad arguments (one line on standard error names what is wrong); 3 an output file
// could not be written or the engine failed otherwise.
#include "datafile/data_file.h"
#include "event_output.h"
#include "platform/host_services.h"
#include "query/query_statement.h"
#include "query/events_sheet.h"
#include "query/report_writer.h"
#include "query/spreadsheet_export.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>

namespace {

enum Exit { Done = 0, NoRecord = 1, BadArguments = 2, Failed = 3 };

int Complain(const QString& text, int code)
{
    QTextStream(stderr) << "meter-query: " << text << Qt::endl;
    return code;
}

// "1,3,12" -> {1, 3, 12}, ascending, each once; empty on any part that is not a channel 1..16.
QList<int> ReadChannels(const QString& list, QString* bad)
{
    QList<int> channels;
    for (const QString& part : list.split(QLatin1Char(','))) {
        bool ok = false;
        const int c = part.trimmed().toInt(&ok);
        if (!ok || c < 1 || c > 16) {
            *bad = part;
            return {};
        }
        if (!channels.contains(c))
            channels.append(c);
    }
    std::sort(channels.begin(), channels.end());
    return channels;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("meter-query"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Query a data file; write the report, a workbook or CSV."));
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
    parser.addOptions({from, to, time, channels, report, xlsx, csv, events});
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
    spec.startDate = parser.value(from);
    spec.endDate = parser.value(to);
    for (const QString& date : {spec.startDate, spec.endDate})
        if (!ReadDate(date).isValid())
            return Complain(QStringLiteral("\"%1\" is not a date").arg(date), BadArguments);
    if (parser.isSet(time)) {
        static const QRegularExpression window(
            QStringLiteral("^\\s*(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})\\s*$"));
        const auto m = window.match(parser.value(time));
        if (!m.hasMatch())
            return Complain(QStringLiteral("\"%1\" is not a time window HH:MM-HH:MM").arg(parser.value(time)),
                            BadArguments);
        spec.timeCondition = true;
        spec.startTime = m.captured(1);
        spec.endTime = m.captured(2);
    }
    const QString dataFile = files.first();
    QString error;
    if (eventsOnly) {
        if (CountTableFields(dataFile, QStringLiteral("DataRecord"), &error) < 0)
            return Complain(error, BadArguments);
        if (!WriteEventsCsv(dataFile, ReadDate(spec.startDate), ReadDate(spec.endDate), parser.value(events),
                            &error))
            return Complain(error, Failed);
        return Done;
    }
    QString bad;
    spec.channels = ReadChannels(parser.value(channels), &bad);
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
    QTextStream out(parser.value(events) == QLatin1String("-") ? stderr : stdout);
    out << statement << Qt::endl;

    QueryResult result;
    const QueryStatus status = RunQuery(dataFile, statement, &result, &error);
    out << "Record No. " << result.rowCount() << Qt::endl;
    if (status == QueryStatus::NoRecord)
        return Complain(error, NoRecord);
    if (status == QueryStatus::Failed)
        return Complain(error, Failed);

    if (parser.isSet(report) &&
        !WriteReport(result, ReportLongDate(Host().now().date()), parser.value(report), &error))
        return Complain(error, Failed);
    if (parser.isSet(xlsx)) {
        QList<LoggedEvent> logged;
        QString eventError;
        if (!EventsForSheet(dataFile, ReadDate(spec.startDate), ReadDate(spec.endDate), &logged, &eventError))
            Complain(eventError + QStringLiteral(" The workbook's sheet Events stays empty."), Done);
        if (!WriteWorkbook(result, parser.value(xlsx), &error, &logged))
            return Complain(error, Failed);
    }
    if (parser.isSet(csv) && !WriteCsv(result, parser.value(csv), &error))
        return Complain(error, Failed);
    if (parser.isSet(events) && !WriteEventsCsv(dataFile, ReadDate(spec.startDate), ReadDate(spec.endDate),
                                                parser.value(events), &error))
        return Complain(error, Failed);
    return Done;
}
