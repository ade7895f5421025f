// meter-decode: runs a captured byte stream from the meter through the program's own frame receiver
// and decoder and prints what they make of it. Exit code 0, or 2 for a usage or read error.
#include "acquisition/frame_receiver.h"
#include "decode_options.h"
#include "frame_lines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int Fail(const QString& message)
{
    std::fprintf(stderr, "meter-decode: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    DecodeOptions options;
    const QString error = ParseDecodeOptions(arguments, options);
    if (!error.isEmpty())
        return Fail(error + QStringLiteral(" (see --help)"));
    if (options.help) {
        std::fputs(DecodeUsage, stdout);
        return 0;
    }

    Shared.Format01 = options.format01;
    for (const auto& [channel, factor] : options.scales)
        Shared.DispSetup[channel].Scale = factor;

    const bool fromStdin = options.input.isEmpty() || options.input == QLatin1String("-");
    const QString name = fromStdin ? QStringLiteral("standard input") : options.input;
    std::FILE* input = fromStdin ? stdin : std::fopen(options.input.toLocal8Bit().constData(), "rb");
    if (input == nullptr)
        return Fail(
            QStringLiteral("cannot open %1: %2").arg(name, QString::fromLocal8Bit(std::strerror(errno))));

    FrameReceiver receiver;
    HeardChannels heard{};
    receiver.OnFrame = [&options, &heard](FrameBufferArray& frame) {
        const bool taken = DecodeFrame(frame);
        if (options.state)
            NoteHeard(frame, heard);
        else
            std::printf("%s\n", FrameLine(frame).c_str());
        return taken;
    };
    std::vector<uint8_t> event(options.chunk);
    std::size_t count = 0;
    std::size_t bytes = 0;
    while ((count = std::fread(event.data(), 1, event.size(), input)) > 0) {
        bytes += count;
        receiver.Receive(event.data(), count);
        std::fflush(stdout);
    }
    const bool readFailed = std::ferror(input) != 0;
    const int readErrno = errno;
    if (!fromStdin)
        std::fclose(input);
    if (readFailed)
        return Fail(
            QStringLiteral("cannot read %1: %2").arg(name, QString::fromLocal8Bit(std::strerror(readErrno))));

    // Nothing printed and nothing said would read as "the meter sends nothing".
    if (receiver.FramesCut == receiver.FramesDropped)
        std::fprintf(stderr,
                     "meter-decode: no frame in %zu bytes of %s (a frame is 16 bytes from 0x02 to 0x0D; a serial "
                     "port read in its default mode turns 0x0D into 0x0A: set it raw first, e.g. stty -F "
                     "/dev/ttyUSB0 9600 raw -echo)\n",
                     bytes, qPrintable(name));
    if (options.state)
        std::fputs(StateLines(heard).c_str(), stdout);
    return 0;
}
