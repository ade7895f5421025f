#include "forward/connection_url.h"

#include "core/url_text.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <initializer_list>
#include <memory>

#include <libpq-fe.h>

namespace {

const QString Hint = QStringLiteral(" Expected a PostgreSQL connection URI such as "
                                    "postgresql://user@host:5432/database.");

struct OptionsFree {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using Options = std::unique_ptr<PQconninfoOption, OptionsFree>;

// libpq's reading of the URL; null and *message when it cannot parse it.
Options Parse(const QString& url, QString* message)
{
    char* raw = nullptr;
    Options options(PQconninfoParse(url.toUtf8().constData(), &raw));
    if (!options && message)
        *message = raw ? QString::fromUtf8(raw).simplified() : QStringLiteral("out of memory");
    PQfreemem(raw);
    return options;
}

QString Value(const PQconninfoOption* options, const char* keyword)
{
    for (const PQconninfoOption* o = options; o && o->keyword; ++o)
        if (qstrcmp(o->keyword, keyword) == 0 && o->val)
            return QString::fromUtf8(o->val);
    return {};
}

bool IsUri(const QString& url)
{
    return url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://"));
}

// The values libpq accepts for the options it checks only when connecting; empty when fine.
QString BadValue(const PQconninfoOption* options)
{
    struct Allowed {
        const char* keyword;
        std::initializer_list<const char*> values;
    };
    static const Allowed allowed[] = {
        {"sslmode", {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"}},
        {"gssencmode", {"disable", "prefer", "require"}},
        {"channel_binding", {"disable", "prefer", "require"}},
        {"target_session_attrs", {"any", "read-write", "read-only", "primary", "standby", "prefer-standby"}},
    };
    for (const Allowed& a : allowed) {
        const QString value = Value(options, a.keyword);
        if (value.isEmpty())
            continue;
        bool known = false;
        for (const char* v : a.values)
            known = known || value == QLatin1String(v);
        if (!known)
            return QStringLiteral("%1 \"%2\" is not one of %3")
                .arg(QLatin1String(a.keyword), value,
                     [&] {
                         QStringList names;
                         for (const char* v : a.values)
                             names << QLatin1String(v);
                         return names.join(QStringLiteral(", "));
                     }());
    }
    for (const QString& port : Value(options, "port").split(QLatin1Char(','))) {
        bool ok = true;
        const int number = port.isEmpty() ? 1 : port.toInt(&ok);
        if (!ok || number < 1 || number > 65535)
            return QStringLiteral("port \"%1\" is not a port number").arg(port);
    }
    return {};
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool CheckForwardUrl(const QString& url, QString* error)
{
    if (url.trimmed().isEmpty())
        return Fail(error, QStringLiteral("No central database URL is given.") + Hint);
    if (!IsUri(url) && !url.contains(QLatin1Char('=')))
        return Fail(error, QStringLiteral("The central database URL \"%1\" is not a connection URI.")
                                   .arg(StarredRefusedUrl(url)) +
                               Hint);
    if (IsUri(url) && AmbiguousUserInfo(url))
        return Fail(error, QStringLiteral("The central database URL holds an unencoded \"@\" or \"/\" before "
                                          "its host: write them as %40 and %2F in a user name or password.") +
                               Hint);
    QString message;
    const Options options = Parse(url, &message);
    if (!options)
        return Fail(error,
                    QStringLiteral("The central database URL is not valid: %1.").arg(WithoutPassword(message, url)) +
                        Hint);
    // A value may hold the password where the URL is odd enough (a NUL ends it for libpq).
    if (const QString bad = BadValue(options.get()); !bad.isEmpty())
        return Fail(error,
                    QStringLiteral("The central database URL is not valid: %1.").arg(WithoutPassword(bad, url)) + Hint);
    return true;
}

QString ShownUrl(const QString& url)
{
    const Options options = Parse(url, nullptr);
    if (!options)
        return QStringLiteral("the configured database");
    // Where first, then whatever else the URL sets, in libpq's order; a password only as a mark.
    QStringList first, rest;
    bool password = false;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val || !*o->val)
            continue;
        const QLatin1String keyword(o->keyword);
        if (keyword == QLatin1String("password")) {
            password = true;
            continue;
        }
        QString value = QString::fromUtf8(o->val);
        if (value.contains(QLatin1Char(' ')) || value.contains(QLatin1Char('\'')) || value.contains(QLatin1Char('\\')))
            value = QLatin1Char('\'') +
                    value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'")) +
                    QLatin1Char('\'');
        const QString pair = QStringLiteral("%1=%2").arg(keyword, value);
        static const QStringList where{"host", "hostaddr", "port", "dbname", "user"};
        if (const qsizetype at = where.indexOf(keyword); at >= 0)
            first.append(QString::number(at) + pair);
        else
            rest.append(pair);
    }
    first.sort();
    for (QString& pair : first)
        pair.remove(0, 1);
    if (password)
        rest.append(QStringLiteral("password=****"));
    // A value that libpq reads where the password was meant to be ("host= password=x") goes too.
    return WithoutPassword((first + rest).join(QLatin1Char(' ')), url);
}

QString WithoutPassword(const QString& text, const QString& url)
{
    QString shown = WithoutUrlSecrets(text, url);
    // The password as libpq read it, and as the URL spells it (percent-encoded, say).
    const Options options = Parse(url, nullptr);
    QStringList secrets{Value(options.get(), "password")};
    if (IsUri(url)) {
        const QUrl uri(url);
        secrets << uri.password(QUrl::FullyEncoded) << uri.password(QUrl::FullyDecoded);
    }
    for (const QString& secret : secrets)
        if (!secret.isEmpty())
            shown.replace(secret, QStringLiteral("****"));
    return shown;
}
