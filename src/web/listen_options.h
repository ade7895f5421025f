#pragma once
// Where the recorder's web server listens and who may read it. meter-record's --http ADDR:PORT
// and --http-token FILE come here before anything is recorded; a refusal is a usage error.
#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace web {

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
    bool IsLoopback() const { return address.isLoopback(); }
    QString Text() const; // "127.0.0.1:8080", "[::1]:8080"
};

// "8080" (127.0.0.1), "127.0.0.1:8080", "0.0.0.0:8080", "[::1]:8080", "[::]:8080". An IP address
// only: no name is looked up. Port 1..65535, or 0 for any free port. False and *error naming the fault.
bool ParseListenAddress(const QString& text, ListenAddress* out, QString* error);

// The secret of a token file: its first line without surrounding blanks. False and *error
// (which never holds the file's content) for a missing, unreadable, empty or oversized file, or a
// secret with characters that a header or a query cannot carry as they are.
bool ReadTokenFile(const QString& path, QByteArray* token, QString* error);

// The settings a recorder's command line gives: empty http = no server. A non-loopback address
// without a token file is refused, so the page is never open to a network by accident.
struct WebSettings {
    ListenAddress listen;
    QByteArray token; // empty: no token asked
};
bool ResolveWebSettings(const QString& http, const QString& tokenFile, WebSettings* out, QString* error);

} // namespace web
