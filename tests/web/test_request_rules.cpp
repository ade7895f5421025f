// Who may read the recorder's page: the page cookie (derived from the token, expiring), the Host
// rule of a loopback page without a token, and the order of the refusals.
#include "test_registry.h"
#include "web/request_rules.h"

#include <QTest>

using namespace web;

namespace {

const QByteArray Token = "0123456789abcdef-token";
constexpr qint64 Now = 1796637660;

RequestFacts Request(const QByteArray& path = "/api/status")
{
    RequestFacts r;
    r.method = "GET";
    r.version = "HTTP/1.1";
    r.path = path;
    r.host = QByteArray("127.0.0.1:8080");
    return r;
}

} // namespace

class RequestRulesTest : public QObject {
    Q_OBJECT
  private slots:
    // The cookie stands for the token without holding it, for a day at most, for this token only.
    void pageCookie()
    {
        const QByteArray value = PageCookieValue(Token, Now + PageCookieSeconds);
        QVERIFY(!value.contains(Token));
        QVERIFY(PageCookieValid(value, Token, Now));
        QVERIFY(PageCookieValid(value, Token, Now + PageCookieSeconds - 1));
        QVERIFY(!PageCookieValid(value, Token, Now + PageCookieSeconds)); // expired
        QVERIFY(!PageCookieValid(value, Token + "x", Now));              // another token
        QVERIFY(!PageCookieValid(PageCookieValue(Token, Now + 10 * PageCookieSeconds), Token, Now));
        QByteArray forged = value;
        forged[0] = forged[0] == '9' ? '8' : char(forged[0] + 1); // a later expiry, same HMAC
        QVERIFY(!PageCookieValid(forged, Token, Now));
        QVERIFY(!PageCookieValid(Token, Token, Now)); // the secret itself is no cookie
        QVERIFY(!PageCookieValid(value, QByteArray(), Now));
    }

    void hosts_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("loopback");
        for (const char* host : {"localhost", "LOCALHOST:8080", "localhost.", "127.0.0.1", "127.1.2.3:80",
                                 "[::1]", "[::1]:8080"})
            QTest::newRow(host) << QByteArray(host) << true;
        for (const char* host : {"evil.example", "evil.example:8080", "localhost.evil.example", "10.0.0.1:8080",
                                 "127.0.0.1:80x", "127.0.0.1:", "[::1", "[::1]x", "[::2]:80", "", "0.0.0.0",
                                 "127.0.0.1:8080:1"})
            QTest::newRow(host) << QByteArray(host) << false;
    }
    void hosts()
    {
        QFETCH(QByteArray, host);
        QFETCH(bool, loopback);
        QCOMPARE(HostIsLoopback(host), loopback);
    }

    void verdicts()
    {
        const AccessRules open{QByteArray(), true};
        const AccessRules guarded{Token, true};
        RequestFacts r = Request();
        QCOMPARE(JudgeRequest(r, open, Now).status, 200u);
        QCOMPARE(JudgeRequest(r, open, Now).route, Route::Status);

        r.host.reset(); // HTTP/1.1 needs a Host; HTTP/1.0 does not
        QCOMPARE(JudgeRequest(r, open, Now).status, 400u);
        r.version = "HTTP/1.0";
        QCOMPARE(JudgeRequest(r, open, Now).status, 200u);
        r = Request();
        r.hostHeaders = 2; // "localhost", then another site's name
        QCOMPARE(JudgeRequest(r, open, Now).status, 400u);

        r = Request();
        r.host = QByteArray("rebound.example:8080"); // DNS rebinding
        QCOMPARE(JudgeRequest(r, open, Now).status, 421u);
        QCOMPARE(JudgeRequest(r, AccessRules{QByteArray(), false}, Now).status, 200u);
        r.method = "POST";
        QCOMPARE(JudgeRequest(r, open, Now).status, 405u);

        r = Request("/");
        QCOMPARE(JudgeRequest(r, guarded, Now).status, 401u);
        r.queryToken = Token;
        Verdict v = JudgeRequest(r, guarded, Now);
        QVERIFY(v.status == 200 && v.setCookie && v.route == Route::Page);
        r.path = "/nothing";
        v = JudgeRequest(r, guarded, Now);
        QVERIFY(v.status == 404 && !v.setCookie);

        r = Request("/api/stream");
        r.cookie = PageCookieValue(Token, Now + 60);
        v = JudgeRequest(r, guarded, Now);
        QVERIFY(v.status == 200 && !v.setCookie && v.route == Route::Stream);
        QCOMPARE(JudgeRequest(r, guarded, Now + 60).status, 401u);
        r.cookie = Token;
        QCOMPARE(JudgeRequest(r, guarded, Now).status, 401u);

        r = Request("/metrics");
        r.authorization = "bEARER " + Token;
        QCOMPARE(JudgeRequest(r, guarded, Now).status, 200u);
        r.authorization = "Bearer " + Token.chopped(1);
        QCOMPARE(JudgeRequest(r, guarded, Now).status, 401u);
        // With a token the Host does not matter: the token is what keeps other sites out.
        r.authorization = "Bearer " + Token;
        r.host = QByteArray("recorder.lan");
        QCOMPARE(JudgeRequest(r, guarded, Now).status, 200u);
    }
};

VARNIK_TEST_CLASS(RequestRulesTest)

#include "test_request_rules.moc"
