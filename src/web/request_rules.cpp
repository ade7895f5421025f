#include "web/request_rules.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QMessageAuthenticationCode>

namespace web {

namespace {

// Equal length and content, in a time that does not depend on where they differ.
bool SameSecret(const QByteArray& given, const QByteArray& secret)
{
    if (secret.isEmpty())
        return false;
    unsigned char diff = given.size() == secret.size() ? 0 : 1;
    for (qsizetype i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    return diff == 0;
}

bool BearerMatches(const QByteArray& header, const QByteArray& token)
{
    static constexpr char Bearer[] = "bearer ";
    return header.size() >= qsizetype(sizeof Bearer - 1) &&
           header.first(sizeof Bearer - 1).toLower() == Bearer &&
           SameSecret(header.mid(sizeof Bearer - 1), token);
}

Route RouteOf(const QByteArray& path)
{
    if (path == "/")
        return Route::Page;
    if (path == "/app.js")
        return Route::Script;
    if (path == "/style.css")
        return Route::Style;
    if (path == "/api/status")
        return Route::Status;
    if (path == "/metrics")
        return Route::Metrics;
    if (path == "/api/stream")
        return Route::Stream;
    return Route::NotFound;
}

Verdict Refusal(unsigned status, const char* header = nullptr, const char* value = nullptr)
{
    Verdict v;
    v.status = status;
    v.header = header;
    v.headerValue = value;
    return v;
}

} // namespace

QByteArray PageCookieValue(const QByteArray& token, qint64 expiresSeconds)
{
    const QByteArray expiry = QByteArray::number(expiresSeconds);
    return expiry + '.' +
           QMessageAuthenticationCode::hash("meter-record page " + expiry, token, QCryptographicHash::Sha256)
               .toHex();
}

bool PageCookieValid(const QByteArray& value, const QByteArray& token, qint64 nowSeconds)
{
    const qsizetype dot = value.indexOf('.');
    if (dot <= 0 || dot > 20 || token.isEmpty())
        return false;
    bool ok = false;
    const qint64 expires = value.first(dot).toLongLong(&ok);
    if (!ok || expires <= nowSeconds || expires > nowSeconds + PageCookieSeconds + 60)
        return false;
    return SameSecret(value, PageCookieValue(token, expires));
}

bool HostIsLoopback(const QByteArray& host)
{
    QByteArray name = host.trimmed();
    std::optional<QByteArray> port;
    if (name.startsWith('[')) {
        const qsizetype close = name.indexOf(']');
        if (close < 0)
            return false;
        const QByteArray after = name.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(':'))
            return false;
        if (!after.isEmpty())
            port = after.mid(1);
        name = name.mid(1, close - 1);
    } else if (const qsizetype colon = name.indexOf(':'); colon >= 0) {
        port = name.mid(colon + 1);
        name = name.first(colon);
    }
    if (port && (port->isEmpty() || port->size() > 5 ||
                 !std::all_of(port->begin(), port->end(), [](char c) { return c >= '0' && c <= '9'; })))
        return false;
    if (name.endsWith('.'))
        name.chop(1);
    if (name.toLower() == "localhost")
        return true;
    const QHostAddress address(QString::fromLatin1(name));
    return !address.isNull() && address.isLoopback();
}

Verdict JudgeRequest(const RequestFacts& request, const AccessRules& rules, qint64 nowSeconds)
{
    if ((request.version == "HTTP/1.1" && !request.host) || request.hostHeaders > 1)
        return Refusal(400);
    const bool head = request.method == "HEAD";
    if (!head && request.method != "GET")
        return Refusal(405, "Allow", "GET, HEAD");
    if (rules.token.isEmpty()) {
        // Without a token only the machine itself reads the page: a browser asking for another
        // site's name was led here by that site's DNS.
        if (rules.loopback && request.host && !HostIsLoopback(*request.host))
            return Refusal(421);
    } else {
        const bool byCookie = request.cookie && PageCookieValid(*request.cookie, rules.token, nowSeconds);
        const bool byBearer = request.authorization && BearerMatches(*request.authorization, rules.token);
        const bool byQuery = request.queryToken && SameSecret(*request.queryToken, rules.token);
        if (!byCookie && !byBearer && !byQuery)
            return Refusal(401, "WWW-Authenticate", "Bearer realm=\"meter-record\"");
        Verdict v;
        v.route = RouteOf(request.path);
        // The page opened as /?token=SECRET loads its files and stream with the cookie instead.
        v.setCookie = byQuery && v.route != Route::NotFound;
        v.status = v.route == Route::NotFound ? 404 : 200;
        return v;
    }
    Verdict v;
    v.route = RouteOf(request.path);
    v.status = v.route == Route::NotFound ? 404 : 200;
    return v;
}

} // namespace web
