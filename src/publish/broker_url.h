#pragma once
// Where live readings go: an MQTT broker named by a URL
//
//   mqtt://[user[:password]@]host[:port][/prefix]     plain TCP, port 1883 by default
//   mqtts://[user[:password]@]host[:port][/prefix]    TLS, port 8883 by default
//
// The prefix (default "varnik") heads every topic; it may hold several levels ("plant/hall2")
// but no MQTT wildcard. User and password may be percent-encoded. Used by the Publisher and by
// meter-record's and the program's checks of a URL before it is used.
#include <QString>

struct BrokerAddress {
    bool tls = false;
    QString host;
    int port = 1883;
    QString user;     // empty: no login
    QString password; // only with a user
    QString prefix = QStringLiteral("varnik");
};

// False and *error naming the fault for anything but a URL of the form above.
bool ParseBrokerUrl(const QString& url, BrokerAddress* address, QString* error = nullptr);

// The URL as a log, a status panel or a refusal may show it, however malformed: whatever could be
// a password starred out ("user:****@host"; see StarredRefusedUrl).
QString ShownBrokerUrl(const QString& url);

// A station name as one topic level: every character outside [A-Za-z0-9_-] becomes '_'; an empty
// name becomes "_".
QString TopicStation(const QString& station);
// The station's id in topics and discovery: TopicStation, and when that had to change the name,
// '_' and six hex digits of a hash of the name as given, so that "lab/1" and "lab 1" stay apart
// ("lab_1_4f0c2a", "lab_1_9b1e07"); "bench_1" stays "bench_1".
QString StationId(const QString& station);

// A topic prefix (the URL's or discovery's): false and *error for an empty one, one holding a
// wildcard, a NUL or an empty level, or one beginning with '$' (the broker's own topics).
bool CheckTopicPrefix(const QString& prefix, const QString& what, QString* error);
