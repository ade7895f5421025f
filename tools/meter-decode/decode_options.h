#pragma once
// Command line of meter-decode. main() calls ParseDecodeOptions with the arguments after the
// program name; an unknown option, a missing or bad value or a second input file is an error,
// returned as one line of text.
#include <QString>
#include <QStringList>
#include <cstddef>
#include <utility>
#include <vector>

struct DecodeOptions {
    std::size_t chunk = 64; // at most this many bytes per receive event
    bool state = false;     // print the 17 channel lines after the input ends
    bool format01 = false;  // the Format 01 meter option
    bool help = false;
    std::vector<std::pair<int, double>> scales; // channel 1..16 and its Scale
    QString input;                              // empty or "-": standard input
};

// Fills options; returns the error text, empty when the arguments are good.
QString ParseDecodeOptions(const QStringList& arguments, DecodeOptions& options);

extern const char* const DecodeUsage;
