#pragma once
// meter-sim's command line. main() parses it once; a bad option or value is a usage error
// (one line on stderr, exit code 2), never a silently adjusted value.
#include "fs9721_encoder.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace metersim {

// What goes on the line: the instrument's 16-byte frames, or the 14-byte LCD packets of an
// FS9721-based multimeter.
enum class Protocol { Meter, Fs9721 };

struct SimOptions {
    Protocol protocol = Protocol::Meter;
    QList<fs9721::Step> sequence; // the multimeter's readings in turn, repeated (Fs9721 only)
    int channels = 8;
    int baud = 9600; // 2400 by default with Protocol::Fs9721
    double rate = 0; // frames per second; 0 = as fast as the line allows
    bool dual = false;
    int badEndEvery = 0; // 0 = never
    int badDigitEvery = 0;
    int noiseEvery = 0;
    double silenceAfter = -1; // seconds; -1 = no silence
    double silenceSeconds = 0;
    double stopAfter = -1; // seconds; -1 = never stop
    int64_t frames = 0;    // 0 = no limit
    uint32_t seed = 1;
    QString linkPath;
    bool verbose = false;
};

struct ParsedOptions {
    SimOptions options;
    bool helpRequested = false;
    QString helpText;
    QString error; // empty when the command line is good
};

// `arguments` includes the program name first, as main() receives it.
ParsedOptions ParseSimOptions(const QStringList& arguments);

} // namespace metersim
