#pragma once
// The central database's connection URL (a PostgreSQL connection URI or key=value string) as the
// forwarder, meter-record and meter-forward check and show it. A password may sit in it in any
// form libpq reads: "user:pw@" in a URI, "?password=" (or a percent-encoded key) in its query, or
// "password=" among the keywords; none of them reaches a log line or a message.
#include <QString>

// Checks that libpq can use the URL: parsable, with valid values for the options libpq checks
// only when it connects (sslmode, gssencmode, channel_binding, target_session_attrs, port), and
// without an unencoded "@" or "/" in a URI's user name or password (libpq would take part of the
// password for the host, port or database and could never log in). False and *error with a
// message that names the fault and no password. A valid URL may still name a server that cannot
// be reached.
bool CheckForwardUrl(const QString& url, QString* error = nullptr);

// The URL for a log line: the options libpq reads from it as key=value pairs, a password as
// "****". A URL that cannot be parsed shows as "the configured database".
QString ShownUrl(const QString& url);

// `text` (a libpq or parser message about `url`) with every form of the URL's password starred out.
QString WithoutPassword(const QString& text, const QString& url);
