#include "record_options.h"

#include "publish/broker_url.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <limits>

namespace meterrecord {

namespace {

const QString Ending = QStringLiteral(".mdb");

// The first line of the file, without its line end; empty lines and unreadable files are errors
// that never quote the file's content.
std::optional<QString> ReadPasswordFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("\"%1\" cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        *error = QStringLiteral("\"%1\" holds no password on its first line").arg(path);
        return std::nullopt;
    }
    return QString::fromUtf8(line);
}

QString WithEnding(const QString& name)
{
    return name.endsWith(Ending, Qt::CaseInsensitive) ? name : name + Ending;
}

} // namespace

ParsedOptions ParseRecordOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Records the meter's readings into a data file without a window, as the program does while a "
        "live display is open: one row every scan rate seconds, up to the row limit. Configuration "
        "from the data folder (default.txt, display.dat, unit2.dat) and the settings store (Ports, "
        "BaudRate). Ends cleanly on SIGTERM or SIGINT (exit 0); exit 1 when recording cannot start "
        "(data file in use, unusable or not a data file) or the data file is damaged while recording, "
        "2 on bad arguments or configuration, 3 when the data file is full, 4 under a service manager "
        "whose device rules refuse the serial device (a restart of the unit takes rules that allow it).");
    parser.addOption(QCommandLineOption({"h", "help"}, "Show this help."));
    const auto valued = [](const char* name, const char* text, const char* value) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text),
                                  QString::fromLatin1(value));
    };
    parser.addOptions({
        valued("data-dir",
               "Folder of the configuration and data files (default: a writable data folder beside the "
               "program, else the per-user data folder of an installed program).",
               "DIR"),
        valued("source",
               "A source of readings, repeatable, its channels in order from channel 1: meter (the "
               "instrument, the default; --device, --baud), or sigrok:DRIVER[:KEY=VALUE...] a libsigrok "
               "device (sigrok:demo, sigrok:DRIVER:conn=/dev/ttyUSB0:serialcomm=2400/8n1; channels=N "
               "records N of its analog channels, default 1). SOURCE@N starts it at channel N.",
               "SOURCE"),
        QCommandLineOption("list-drivers", "Print the libsigrok drivers (name and description) and end."),
        valued("device", "Serial device of the meter (default: the settings store's Ports mapping).", "PATH"),
        valued("baud", "Line speed, 2400 or 9600 (default: the settings store's BaudRate).", "BAUD"),
        valued("data-file", "Data file in the data folder (default: the one in default.txt).", "NAME"),
        valued("scan-rate", "Seconds between rows, 1 to 32767 (default: default.txt).", "S"),
        valued("channels", "Channels of a data file created because it is missing: 8, 12 or 16 (default 8).",
               "N"),
        QCommandLineOption("rotate", "When the data file is full, go on in NAME_002.mdb, NAME_003.mdb, ..."),
        QCommandLineOption("verbose", "Print every recorded row."),
        valued("forward", "Also send every row to this PostgreSQL database (connection URI).", "URL"),
        valued("station", "Station name for the forwarded rows (default: the host name).", "NAME"),
        valued("mqtt",
               "Also publish live readings, rows and status to this MQTT broker: "
               "mqtt://[user[:password]@]host[:port][/prefix], or mqtts://... for TLS.",
               "URL"),
        valued("mqtt-ca", "Certificate authorities to trust for mqtts:// (default: the system's).", "FILE"),
        valued("mqtt-password-file",
               "File whose first line is the broker password for the URL's user, so that it need not be "
               "in the URL.",
               "FILE"),
        valued("mqtt-discovery-prefix", "Topic prefix of home automation discovery (default: homeassistant).",
               "P"),
        QCommandLineOption("no-discovery",
                           "With --mqtt, publish no home automation discovery and remove the station's."),
        valued("http",
               "Serve a read-only status page, /api/status and /metrics on ADDRESS:PORT (an IP address; "
               "a port alone means 127.0.0.1).",
               "ADDR:PORT"),
        valued("http-token",
               "File holding the secret that readers of the page must present (Authorization: Bearer, "
               "or ?token=); needed when --http is reachable from other machines.",
               "FILE"),
    });

    ParsedOptions parsed;
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet("help")) {
        parsed.helpRequested = true;
        parsed.helpText = parser.helpText();
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return parsed;
    }

    RecordOptions& o = parsed.options;
    QString& error = parsed.error;
    const auto choice = [&](const char* name, std::initializer_list<int> allowed, auto assign) {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        bool ok = false;
        const int value = parser.value(name).toInt(&ok);
        if (ok && std::find(allowed.begin(), allowed.end(), value) != allowed.end()) {
            assign(value);
            return;
        }
        QStringList names;
        for (int a : allowed)
            names << QString::number(a);
        error = QStringLiteral("--%1 wants %2, not \"%3\"")
                    .arg(QLatin1String(name), names.join(QStringLiteral(" or ")), parser.value(name));
    };
    choice("baud", {2400, 9600}, [&](int v) { o.baud = v; });
    choice("channels", {8, 12, 16}, [&](int v) { o.newFileChannels = v; });
    if (error.isEmpty() && parser.isSet("scan-rate")) {
        bool ok = false;
        const int value = parser.value("scan-rate").toInt(&ok);
        if (!ok || value < 1 || value > 32767)
            error = QStringLiteral("--scan-rate wants whole seconds from 1 to 32767, not \"%1\"")
                        .arg(parser.value("scan-rate"));
        else
            o.scanRate = value;
    }
    const auto text = [&](const char* name, QString& target) {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        target = parser.value(name);
        if (target.trimmed().isEmpty())
            error = QStringLiteral("--%1 wants a value").arg(QLatin1String(name));
    };
    text("data-dir", o.dataDir);
    text("device", o.device);
    text("data-file", o.dataFile);
    text("forward", o.forwardUrl);
    text("station", o.station);
    text("mqtt", o.mqttUrl);
    text("mqtt-ca", o.mqttCa);
    BrokerAddress broker;
    if (QString why; error.isEmpty() && !o.mqttUrl.isEmpty() && !ParseBrokerUrl(o.mqttUrl, &broker, &why))
        error = QStringLiteral("--mqtt: %1").arg(why);
    for (const char* name : {"mqtt-ca", "mqtt-password-file", "mqtt-discovery-prefix", "no-discovery"})
        if (error.isEmpty() && parser.isSet(name) && o.mqttUrl.isEmpty())
            error = QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(name));
    text("mqtt-discovery-prefix", o.discoveryPrefix);
    if (QString why; error.isEmpty() && !CheckTopicPrefix(o.discoveryPrefix, QStringLiteral("discovery prefix"), &why))
        error = QStringLiteral("--mqtt-discovery-prefix: %1").arg(why);
    if (error.isEmpty() && parser.isSet("mqtt-password-file")) {
        QString why;
        o.mqttPassword = ReadPasswordFile(parser.value("mqtt-password-file"), &why);
        if (!o.mqttPassword)
            error = QStringLiteral("--mqtt-password-file: %1").arg(why);
        else if (broker.user.isEmpty() || !broker.password.isEmpty())
            error = QStringLiteral("--mqtt-password-file wants a broker URL with a user and without a password");
    }
    o.discovery = !parser.isSet("no-discovery");
    text("http", o.http);
    text("http-token", o.httpToken);
    if (error.isEmpty() && !o.dataFile.isEmpty()) {
        // A data file lies in the data folder; a name with folders would record elsewhere.
        if (o.dataFile.contains(QLatin1Char('/')) || o.dataFile.contains(QLatin1Char('\\')))
            error =
                QStringLiteral("--data-file wants a file name without folders, not \"%1\"").arg(o.dataFile);
        else
            o.dataFile = WithEnding(o.dataFile);
    }
    if (error.isEmpty() && !o.station.isEmpty() && o.forwardUrl.isEmpty() && o.mqttUrl.isEmpty())
        error = QStringLiteral("--station goes with --forward or --mqtt");
    for (const QString& text : parser.values("source")) {
        if (!error.isEmpty())
            break;
        SourceChoice choice;
        if (ParseSourceChoice(text, &choice, &error))
            o.sources << choice;
    }
    o.listDrivers = parser.isSet("list-drivers");
    o.rotate = parser.isSet("rotate");
    o.verbose = parser.isSet("verbose");
    return parsed;
}

QString NextDataFileName(const QString& name)
{
    QString stem = name.endsWith(Ending, Qt::CaseInsensitive) ? name.chopped(Ending.size()) : name;
    static const QRegularExpression numbered(QStringLiteral("^(.*)_(\\d{3,})$"));
    int number = 2;
    if (const QRegularExpressionMatch m = numbered.match(stem); m.hasMatch()) {
        bool ok = false;
        const qint64 current = m.captured(2).toLongLong(&ok);
        if (!ok || current >= std::numeric_limits<int>::max())
            return {};
        stem = m.captured(1);
        number = int(current) + 1;
    }
    return QStringLiteral("%1_%2%3").arg(stem).arg(number, 3, 10, QLatin1Char('0')).arg(Ending);
}

} // namespace meterrecord
