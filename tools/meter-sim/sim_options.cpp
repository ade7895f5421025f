#include "sim_options.h"

#include <QCommandLineParser>
#include <cmath>
#include <limits>

namespace metersim {

namespace {

constexpr int MinBaud = 300;
constexpr int MaxBaud = 115200;

struct Reader {
    QCommandLineParser& parser;
    QString error;

    void integer(const QString& name, long long low, long long high, auto& target)
    {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        bool ok = false;
        const long long value = parser.value(name).toLongLong(&ok);
        if (!ok || value < low || value > high)
            error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                        .arg(name)
                        .arg(low)
                        .arg(high)
                        .arg(parser.value(name));
        else
            target = static_cast<std::remove_reference_t<decltype(target)>>(value);
    }

    void seconds(const QString& name, bool zeroAllowed, double& target)
    {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        bool ok = false;
        const double value = parser.value(name).toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < 0 || (value == 0 && !zeroAllowed))
            error =
                QStringLiteral("--%1 wants %2 number, not \"%3\"")
                    .arg(name, zeroAllowed ? QStringLiteral("a non-negative") : QStringLiteral("a positive"),
                         parser.value(name));
        else
            target = value;
    }
};

} // namespace

ParsedOptions ParseSimOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulates the measuring instrument on a pseudo-terminal. Prints the device path as its first "
        "line, then streams 16-byte frames for channels 1..N in turn until it is stopped (SIGINT, SIGTERM).\n"
        "With --protocol fs9721 it is a multimeter built on the FS9721 chip instead: 14-byte LCD packets "
        "at 2400 baud, one reading each, taken in turn from --sequence and repeated.");
    parser.addOption(QCommandLineOption({"h", "help"}, "Show this help."));
    const auto number = [](const char* name, const char* text, const char* value) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text),
                                  QString::fromLatin1(value));
    };
    parser.addOptions({
        number("protocol",
               "meter (default): the instrument's frames; fs9721: a multimeter's LCD packets "
               "(--baud 2400 unless given; --channels, --dual, --bad-end and --bad-digit do not apply).",
               "NAME"),
        number("sequence",
               "fs9721: the readings, in turn, again and again. Steps separated by ';', each the display "
               "(1.234, -0.512, OL for overload), a unit (V mV A mA Ohm kOhm Hz degC %), AC or DC (V and A "
               "only; DC when not given), HOLD, REL, MANUAL (no AUTO symbol), xN (N packets in a row). "
               "Default: a tour of every unit, AC, DC, negative, HOLD, REL and overload.",
               "STEPS"),
        number("channels", "Channels 1..N in turn, N 1..16 (default 8).", "N"),
        number("baud",
               "Line speed the frames are paced to: 9600 (default; 2400 with --protocol fs9721) or 2400 "
               "like the meter, "
               "300..115200 accepted.",
               "BAUD"),
        number("rate", "At most HZ frames per second (default: as fast as the line allows).", "HZ"),
        QCommandLineOption("dual", "Send dual-display frames (channels 1 and 2) instead."),
        number("bad-end", "Every Nth frame ends with a wrong end byte.", "N"),
        number("bad-digit", "Every Nth frame carries an invalid checked digit (shown as 999999).", "N"),
        number("noise", "A few random bytes before every Nth frame.", "N"),
        number("silence-after", "Go silent SEC seconds after the start (with --silence).", "SEC"),
        number("silence", "Stay silent for SEC seconds, then resume (with --silence-after).", "SEC"),
        number("stop-after", "Stop sending after SEC seconds; stay alive until signalled.", "SEC"),
        number("frames", "Exit after N frames.", "N"),
        number("seed", "Seed of the noise bytes (default 1).", "S"),
        number("link", "Also make a symbolic link to the device at PATH, removed on exit.", "PATH"),
        QCommandLineOption("verbose", "Report progress on stderr."),
    });

    ParsedOptions result;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet("help")) {
        result.helpRequested = true;
        result.helpText = parser.helpText().replace("<executable_name>", "meter-sim");
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return result;
    }

    SimOptions& o = result.options;
    const QString protocol = parser.value("protocol");
    if (parser.isSet("protocol") && protocol != "meter" && protocol != "fs9721") {
        result.error = QStringLiteral("--protocol wants meter or fs9721, not \"%1\"").arg(protocol);
        return result;
    }
    if (protocol == "fs9721") {
        o.protocol = Protocol::Fs9721;
        o.baud = fs9721::Baud;
        for (const char* option : {"channels", "dual", "bad-end", "bad-digit"})
            if (parser.isSet(option)) {
                result.error = QStringLiteral("--%1 does not apply to --protocol fs9721").arg(option);
                return result;
            }
        QString why;
        o.sequence =
            fs9721::ParseSequence(parser.isSet("sequence") ? parser.value("sequence")
                                                           : QString::fromLatin1(fs9721::DefaultSequence),
                                  &why);
        if (o.sequence.isEmpty()) {
            result.error = QStringLiteral("--sequence: %1").arg(why);
            return result;
        }
    } else if (parser.isSet("sequence")) {
        result.error = QStringLiteral("--sequence goes with --protocol fs9721");
        return result;
    }
    constexpr int Every = std::numeric_limits<int>::max();
    Reader read{parser, {}};
    read.integer("channels", 1, 16, o.channels);
    read.integer("baud", MinBaud, MaxBaud, o.baud);
    read.seconds("rate", false, o.rate);
    read.integer("bad-end", 0, Every, o.badEndEvery);
    read.integer("bad-digit", 0, Every, o.badDigitEvery);
    read.integer("noise", 0, Every, o.noiseEvery);
    read.seconds("silence-after", true, o.silenceAfter);
    read.seconds("silence", false, o.silenceSeconds);
    read.seconds("stop-after", true, o.stopAfter);
    read.integer("frames", 1, std::numeric_limits<int64_t>::max(), o.frames);
    read.integer("seed", 0, std::numeric_limits<uint32_t>::max(), o.seed);
    if (read.error.isEmpty() && parser.isSet("silence") != parser.isSet("silence-after"))
        read.error = QStringLiteral("--silence and --silence-after go together");
    o.dual = parser.isSet("dual");
    o.verbose = parser.isSet("verbose");
    o.linkPath = parser.value("link");
    if (read.error.isEmpty() && parser.isSet("link") && o.linkPath.isEmpty())
        read.error = QStringLiteral("--link wants a path");
    result.error = read.error;
    return result;
}

} // namespace metersim
