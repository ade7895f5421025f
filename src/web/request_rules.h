#pragma once
// Who may read what on the recorder's web server: the decision on one request from what its
// request line and headers say, as a pure function (no sockets, no clock of its own), so that the
// server, the tests and the fuzz target run the same rules.
//
// Rules, in order: HTTP/1.1 without Host is 400; only GET and HEAD (405 otherwise); on a loopback
// address without a token a Host that names neither a loopback address nor localhost is 421 (a
// page of another site whose name was pointed at 127.0.0.1 cannot read it); with a token the
// request needs "Authorization: Bearer TOKEN", "?token=TOKEN" or the page cookie (401 otherwise).
// An answer to "?token=TOKEN" sets the page cookie: an expiry and an HMAC of it keyed with the
// token, never the token itself, valid for a day.
#include <QByteArray>
#include <optional>

namespace web {

// What the request says; an absent header is empty.
struct RequestFacts {
    QByteArray method;  // "GET"
    QByteArray version; // "HTTP/1.1"
    QByteArray path;    // "/api/status", without the query
    std::optional<QByteArray> host;
    int hostHeaders = 0; // how many Host headers came (more than one: a bad request)
    std::optional<QByteArray> authorization;
    std::optional<QByteArray> cookie;     // the value of the page cookie
    std::optional<QByteArray> queryToken; // ?token=
};

struct AccessRules {
    QByteArray token;     // empty: no token asked
    bool loopback = true; // the server listens on a loopback address
};

enum class Route { Page, Script, Style, Status, Metrics, Stream, NotFound };

struct Verdict {
    unsigned status = 200;           // 200: serve `route`; otherwise refuse with this status
    Route route = Route::NotFound;   // a 404 for NotFound, after the checks
    bool setCookie = false;          // hand the browser the page cookie
    const char* header = nullptr;    // a refusal's one header that says why ("Allow", ...)
    const char* headerValue = nullptr;
};

inline constexpr char PageCookieName[] = "meter_record_token";
inline constexpr qint64 PageCookieSeconds = 24 * 3600;

Verdict JudgeRequest(const RequestFacts& request, const AccessRules& rules, qint64 nowSeconds);

// The page cookie's value for a cookie expiring at `expiresSeconds` (Unix time): "EXPIRY.HMAC".
QByteArray PageCookieValue(const QByteArray& token, qint64 expiresSeconds);
// True for a value made by PageCookieValue with this token that has not expired (and does not
// claim to live longer than a cookie is ever given).
bool PageCookieValid(const QByteArray& value, const QByteArray& token, qint64 nowSeconds);
// "localhost", "127.0.0.1:8080", "[::1]:8080": true; any other name or address, or a bad port: false.
bool HostIsLoopback(const QByteArray& host);

} // namespace web
