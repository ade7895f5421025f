#pragma once
// A reading source as a user names it (meter-record's --source; the program's setup later):
//   meter                         the instrument on its serial port (--device, --baud)
//   sigrok:DRIVER[:KEY=VALUE...]  a libsigrok device, e.g. sigrok:demo,
//                                 sigrok:DRIVER:conn=/dev/ttyUSB0:serialcomm=2400/8n1
//   SOURCE@N                      its first channel is the data file's channel N
// KEY=VALUE options go to libsigrok, except channels=N (1..16): how many of the device's analog
// channels are recorded (default 1, or analog_channels when given, as for the demo driver). A
// value may hold colons (a Bluetooth address): a part without "=" belongs to the value before it.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct SourceChoice {
    enum class Kind { Meter, Sigrok };
    Kind kind = Kind::Meter;
    QString driver;            // Sigrok
    QStringList options;       // Sigrok: KEY=VALUE for libsigrok
    int channels = 1;          // Sigrok; the meter's count comes from LayOutSources
    std::optional<int> at;     // @N
    int firstChannel = 1;      // set by LayOutSources
    int lastChannel = 1;       // set by LayOutSources
    QString text;              // as given
};

// False with one line in *error for a choice that is none of the above.
bool ParseSourceChoice(const QString& text, SourceChoice* out, QString* error);

// Gives every source its channels in the data file of `fileChannels` channels: in order, each from
// its @N or else right after the one before; the meter always from channel 1, up to the channel
// before the lowest other source (or the file's last). False with one line naming the source when
// one does not fit the file, two overlap, or a source after the meter has no @N.
bool LayOutSources(QList<SourceChoice>& choices, int fileChannels, QString* error);
