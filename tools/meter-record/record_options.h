#pragma once
// meter-record's command line. main() parses it once; a bad option or value is a usage error
// (one line on stderr, exit code 2), never a silently adjusted value. Unset overrides keep what
// the configuration files and the settings store say.
#include "station/source_choice.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace meterrecord {

struct RecordOptions {
    QString dataDir;             // folder of the configuration and data files; empty = beside the program
    QString device;              // serial device for the configured port; empty = the store's mapping
    std::optional<int> baud;     // 2400 or 9600
    QString dataFile;            // data file name in the data folder, ".mdb" ending added when missing
    std::optional<int> scanRate; // seconds between rows, 1..32767
    int newFileChannels = 8;     // channels of a data file made because it is missing
    bool rotate = false;         // a full data file goes on in NAME_002.mdb, NAME_003.mdb, ...
    bool verbose = false;        // print every row
    QString forwardUrl;          // central database (PostgreSQL connection URI); empty = none
    QString station;             // station name sent with the rows; empty = the host name
    QString mqttUrl;             // MQTT broker for live readings (mqtt:// or mqtts://); empty = none
    QString mqttCa;              // CA file for mqtts://; empty = the system's store
    std::optional<QString> mqttPassword; // read from --mqtt-password-file
    bool discovery = true;       // home automation discovery on the broker
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString http;                // the web page's ADDRESS:PORT or PORT; empty = no page
    QString httpToken;           // file holding the secret the page asks for
    QList<SourceChoice> sources;   // --source, in order; empty = the meter alone
    bool listDrivers = false;    // print libsigrok's drivers and end
};

struct ParsedOptions {
    RecordOptions options;
    bool helpRequested = false;
    QString helpText;
    QString error; // empty when the command line is good
};

// `arguments` includes the program name first, as main() receives it.
ParsedOptions ParseRecordOptions(const QStringList& arguments);

// The name of the data file that follows `name` when it is full: Data1.mdb -> Data1_002.mdb,
// Data1_002.mdb -> Data1_003.mdb. Empty when the number cannot grow (2147483647 and beyond).
QString NextDataFileName(const QString& name);

} // namespace meterrecord
