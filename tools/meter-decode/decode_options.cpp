#include "decode_options.h"

#include "core/shared_state.h"

#include <cmath>

const char* const DecodeUsage =
    "Usage: meter-decode [options] [capture]\n"
    "Decodes a raw byte stream captured from the meter (for example with\n"
    "`stty -F /dev/ttyUSB0 9600 raw -echo; cat /dev/ttyUSB0 > capture.bin`: a port not set raw\n"
    "turns each frame's 0x0D into 0x0A); reads standard input when no capture is named or it is -.\n"
    "\n"
    "Options:\n"
    "  --chunk N           hand the bytes to the receiver in events of at most N bytes (default 64)\n"
    "  --state             print only, after the input ends, one line per channel 0..16:\n"
    "                      <channel> <value> <unit code> <decimals>\n"
    "                      (<channel> - - - for a channel no frame carried)\n"
    "  --scale CH=FACTOR   multiply the readings of channel CH (1..16) by FACTOR (repeatable)\n"
    "  --format01          decode dual-display frames for Format 01 meters\n"
    "  --help              show this text\n";

namespace {

constexpr long long MaxChunk = 1 << 20;

QString ParseChunk(const QString& text, DecodeOptions& options)
{
    bool ok = false;
    const long long chunk = text.toLongLong(&ok);
    if (!ok || chunk < 1 || chunk > MaxChunk)
        return QStringLiteral("--chunk needs a whole number from 1 to %1, not '%2'").arg(MaxChunk).arg(text);
    options.chunk = static_cast<std::size_t>(chunk);
    return {};
}

QString ParseScale(const QString& text, DecodeOptions& options)
{
    const qsizetype equals = text.indexOf(u'=');
    bool channelOk = false;
    bool factorOk = false;
    const int channel = equals < 0 ? 0 : text.left(equals).toInt(&channelOk);
    const double factor = equals < 0 ? 0 : text.mid(equals + 1).toDouble(&factorOk);
    if (!channelOk || channel < 1 || channel > MaxChannel || !factorOk || !std::isfinite(factor))
        return QStringLiteral("--scale needs CH=FACTOR with CH 1..%1 and a number, not '%2'")
            .arg(MaxChannel)
            .arg(text);
    options.scales.emplace_back(channel, factor);
    return {};
}

} // namespace

QString ParseDecodeOptions(const QStringList& arguments, DecodeOptions& options)
{
    bool inputSeen = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString name = argument;
        QString value;
        bool hasValue = false;
        const qsizetype equals = argument.indexOf(u'=');
        if (argument.startsWith(QLatin1String("--")) && equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            hasValue = true;
        }
        const bool takesValue = name == QLatin1String("--chunk") || name == QLatin1String("--scale");
        if (takesValue && !hasValue) {
            if (i + 1 == arguments.size())
                return QStringLiteral("%1 needs a value").arg(name);
            value = arguments[++i];
        } else if (!takesValue && hasValue) {
            return QStringLiteral("%1 takes no value").arg(name);
        }

        QString error;
        if (name == QLatin1String("--chunk"))
            error = ParseChunk(value, options);
        else if (name == QLatin1String("--scale"))
            error = ParseScale(value, options);
        else if (name == QLatin1String("--state"))
            options.state = true;
        else if (name == QLatin1String("--format01"))
            options.format01 = true;
        else if (name == QLatin1String("--help") || name == QLatin1String("-h"))
            options.help = true;
        else if (name.startsWith(u'-') && name != QLatin1String("-"))
            error = QStringLiteral("unknown option '%1'").arg(argument);
        else if (inputSeen)
            error = QStringLiteral("only one capture can be read, got '%1' and '%2'")
                        .arg(options.input, argument);
        else {
            options.input = argument;
            inputSeen = true;
        }
        if (!error.isEmpty())
            return error;
    }
    return {};
}
