// The central database's connection URL as the forwarder checks and shows it: no message about a
// URL, and no shown form of one, holds its password, in any of the places libpq takes a password
// from. Byte 0 picks the form (URI user information, "?password=", a keyword, a quoted keyword);
// the rest are the lines of FuzzUrlParts.
#include "forward/connection_url.h"
#include "fuzz_support.h"

namespace {

int FuzzConnectionUrl(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    const QString mark = QLatin1String(FuzzSecretMark);
    QString url;
    FuzzUrlParts p;
    switch (selector % 4) {
    case 0: {
        p = ReadUrlParts(in, QString());
        url = QStringLiteral("postgresql://") + p.user + QLatin1Char(':') + p.before + mark + p.after +
              QLatin1Char('@') + p.rest;
        break;
    }
    case 1: {
        // A value runs to the next "&".
        p = ReadUrlParts(in, QStringLiteral("&"));
        url = QStringLiteral("postgresql://") + p.user + QLatin1Char('@') + p.rest +
              (p.rest.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) +
              QStringLiteral("password=") + p.before + mark + p.after;
        break;
    }
    case 2: {
        // An unquoted keyword value runs to the next blank.
        p = ReadUrlParts(in, QStringLiteral(" \t\r\n\f\v'\\"));
        url = QStringLiteral("host=") + p.user + QStringLiteral(" password=") + p.before + mark + p.after +
              QLatin1Char(' ') + p.rest;
        break;
    }
    default: {
        p = ReadUrlParts(in, QStringLiteral("'\\"));
        url = p.user + QStringLiteral(" password = '") + p.before + mark + p.after + QStringLiteral("' ") + p.rest;
        break;
    }
    }
    QString error;
    if (!CheckForwardUrl(url, &error)) {
        FUZZ_CHECK(!error.isEmpty(), "a refusal without a reason");
        CheckNoSecret(error, "refused");
        return 0;
    }
    CheckNoSecret(ShownUrl(url), "shown");
    // What libpq or the server may say about the URL, the password quoted in it.
    CheckNoSecret(WithoutPassword(QStringLiteral("FATAL: password authentication failed near \"%1\"")
                                      .arg(p.before + mark + p.after),
                                  url),
                  "server message");
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("connection_url", FuzzConnectionUrl)
