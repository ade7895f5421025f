// The status server's decision on a request: method, version, path, Host, Authorization, the page
// cookie and the query token, each a line of the input, against a token or none, on a loopback
// address or not, at a time from the input. Checks the rules' promises: no answer without the
// token when one is set, the cookie only for the token in the query, no cookie that outlives a
// day, and the Host rule.
#include "fuzz_support.h"
#include "web/request_rules.h"

namespace {

std::optional<QByteArray> Optional(FuzzInput& in, bool present)
{
    QByteArray line = in.line();
    return present ? std::optional<QByteArray>(line) : std::nullopt;
}

int FuzzRequest(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    const qint64 now = in.value<qint32>();
    web::AccessRules rules;
    rules.token = (flags & 0x01) ? in.line() : QByteArray();
    rules.loopback = flags & 0x02;
    web::RequestFacts r;
    r.method = in.line();
    r.version = in.line();
    r.path = in.line();
    r.host = Optional(in, flags & 0x04);
    r.authorization = Optional(in, flags & 0x08);
    r.cookie = Optional(in, flags & 0x10);
    r.queryToken = Optional(in, flags & 0x20);
    if (flags & 0x40 && !rules.token.isEmpty())
        r.cookie = web::PageCookieValue(rules.token, now + in.value<qint32>());

    const web::Verdict v = web::JudgeRequest(r, rules, now);
    FUZZ_CHECK(v.status == 200 || v.status == 400 || v.status == 401 || v.status == 404 || v.status == 405 ||
                   v.status == 421,
               "an unexpected status");
    FUZZ_CHECK((v.status == 200) == (v.route != web::Route::NotFound) || v.status != 200, "200 without a route");
    FUZZ_CHECK(!v.setCookie || (v.status == 200 && r.queryToken && *r.queryToken == rules.token),
               "a cookie without the token in the query");
    if (v.status == 200 || v.status == 404) {
        FUZZ_CHECK(r.method == "GET" || r.method == "HEAD", "a method other than GET or HEAD served");
        if (!rules.token.isEmpty()) {
            const bool cookie = r.cookie && web::PageCookieValid(*r.cookie, rules.token, now);
            const bool bearer = r.authorization && r.authorization->size() == rules.token.size() + 7 &&
                                r.authorization->mid(7) == rules.token;
            const bool query = r.queryToken && *r.queryToken == rules.token;
            FUZZ_CHECK(cookie || bearer || query, "served without the token");
        } else if (rules.loopback && r.host) {
            FUZZ_CHECK(web::HostIsLoopback(*r.host), "a foreign Host served on loopback");
        }
    }
    if (r.cookie && !rules.token.isEmpty() && web::PageCookieValid(*r.cookie, rules.token, now)) {
        const qint64 expires = r.cookie->left(r.cookie->indexOf('.')).toLongLong();
        FUZZ_CHECK(expires > now && expires <= now + web::PageCookieSeconds + 60, "a cookie valid beyond a day");
        FUZZ_CHECK(!r.cookie->contains(rules.token) || rules.token.size() < 16, "the cookie holds the token");
    }
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("request", FuzzRequest)
