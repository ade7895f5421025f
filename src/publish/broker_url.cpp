#include "publish/broker_url.h"

#include "core/url_text.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QUrl>

namespace {

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool ParseBrokerUrl(const QString& url, BrokerAddress* address, QString* error)
{
    const QString shown = ShownBrokerUrl(url.trimmed());
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")))
        return Fail(error, QStringLiteral("\"%1\" is no broker URL: mqtt://[user[:password]@]host[:port][/prefix] "
                                          "or mqtts://... for TLS")
                               .arg(shown));
    if (AmbiguousUserInfo(url.trimmed()))
        return Fail(error, QStringLiteral("\"%1\" holds an unencoded \"@\" or \"/\" before its host: write them as "
                                          "%40 and %2F in a user name, password or topic prefix")
                               .arg(shown));
    BrokerAddress a;
    a.tls = scheme == QLatin1String("mqtts");
    a.host = parsed.host();
    if (a.host.isEmpty())
        return Fail(error, QStringLiteral("\"%1\" names no broker host").arg(shown));
    a.port = parsed.port(a.tls ? 8883 : 1883);
    if (a.port < 1 || a.port > 65535)
        return Fail(error, QStringLiteral("\"%1\" has no usable port").arg(shown));
    a.user = parsed.userName(QUrl::FullyDecoded);
    a.password = parsed.password(QUrl::FullyDecoded);
    if (a.user.isEmpty() && !a.password.isEmpty())
        return Fail(error, QStringLiteral("\"%1\" has a password but no user").arg(shown));
    if (parsed.hasQuery() || parsed.hasFragment())
        return Fail(error, QStringLiteral("\"%1\" has a query or fragment; a broker URL takes neither").arg(shown));
    QString prefix = parsed.path(QUrl::FullyDecoded);
    while (prefix.startsWith(QLatin1Char('/')))
        prefix.remove(0, 1);
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (!prefix.isEmpty()) {
        static const QRegularExpression bad(QStringLiteral("[+#\\x00]|//"));
        if (prefix.contains(bad))
            return Fail(error, QStringLiteral("the topic prefix \"%1\" holds a wildcard, a NUL or an empty level")
                                   .arg(prefix));
        a.prefix = prefix;
    }
    if (!CheckTopicPrefix(a.prefix, QStringLiteral("topic prefix"), error))
        return false;
    if (address)
        *address = a;
    return true;
}

QString ShownBrokerUrl(const QString& url)
{
    // The same starring for a URL that parses: a user name holding "/" makes the rest a valid
    // topic prefix ("mqtt://a/b:secret@host"), which would show the password as written.
    return StarredRefusedUrl(url);
}

QString TopicStation(const QString& station)
{
    if (station.isEmpty())
        return QStringLiteral("_");
    QString out = station;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        const bool kept = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                          u == '_' || u == '-';
        if (!kept)
            c = QLatin1Char('_');
    }
    return out;
}

QString StationId(const QString& station)
{
    const QString id = TopicStation(station);
    if (id == station)
        return id;
    const QByteArray hash = QCryptographicHash::hash(station.toUtf8(), QCryptographicHash::Sha1);
    return id + QLatin1Char('_') + QString::fromLatin1(hash.left(3).toHex());
}

bool CheckTopicPrefix(const QString& prefix, const QString& what, QString* error)
{
    static const QRegularExpression bad(QStringLiteral("[+#\\x00]|//|^/|/$"));
    if (prefix.isEmpty())
        return Fail(error, QStringLiteral("the %1 is empty").arg(what));
    if (prefix.startsWith(QLatin1Char('$')))
        return Fail(error, QStringLiteral("the %1 \"%2\" begins with '$', which marks the broker's own topics")
                               .arg(what, prefix));
    if (prefix.contains(bad))
        return Fail(error, QStringLiteral("the %1 \"%2\" holds a wildcard, a NUL or an empty level").arg(what, prefix));
    return true;
}
