// The MQTT broker URL: any text parses or is refused with a message, and no message or shown form
// of a URL shows its password, however malformed the URL ("mqtt://u:sec ret@host",
// "mqtt://u:p@ss@host"). Byte 0 picks a scheme; the rest are the lines of FuzzUrlParts, or with
// bit 7 set a whole URL as it is.
#include "fuzz_support.h"
#include "publish/broker_url.h"

namespace {

int FuzzBrokerUrl(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    BrokerAddress address;
    QString error;
    if (selector & 0x80) {
        const QString url = QString::fromUtf8(in.rest());
        if (ParseBrokerUrl(url, &address, &error)) {
            FUZZ_CHECK(!address.host.isEmpty() && address.port >= 1 && address.port <= 65535, "a usable address");
            FUZZ_CHECK(!address.prefix.isEmpty() && !address.prefix.contains(QLatin1Char('#')) &&
                           !address.prefix.contains(QLatin1Char('+')),
                       "a prefix without wildcards");
            FUZZ_CHECK(address.password.isEmpty() || !address.user.isEmpty(), "a password only with a user");
        } else {
            FUZZ_CHECK(!error.isEmpty(), "a refusal without a reason");
        }
        return 0;
    }
    const FuzzUrlParts p = ReadUrlParts(in, QString());
    const QString scheme = (selector & 1) ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://");
    const QString url = scheme + p.user + QLatin1Char(':') + p.before + QLatin1String(FuzzSecretMark) + p.after +
                        QLatin1Char('@') + p.rest;
    if (!ParseBrokerUrl(url, &address, &error))
        CheckNoSecret(error, "refused");
    CheckNoSecret(ShownBrokerUrl(url), "shown");
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("broker_url", FuzzBrokerUrl)
