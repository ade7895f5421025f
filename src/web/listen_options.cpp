#include "web/listen_options.h"

#include <QFile>
#include <QRegularExpression>

namespace web {

namespace {

constexpr qint64 MaxTokenFileBytes = 4096;
constexpr int MinTokenLength = 16;

} // namespace

QString ListenAddress::Text() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

bool ParseListenAddress(const QString& text, ListenAddress* out, QString* error)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\[[0-9A-Fa-f:.]+\\]|\\d{1,3}(?:\\.\\d{1,3}){3}):)?(\\d{1,5})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    const auto refuse = [&](const QString& why) {
        *error =
            QStringLiteral("--http wants PORT or ADDRESS:PORT (an IP address), not \"%1\"%2").arg(text, why);
        return false;
    };
    if (!m.hasMatch())
        return refuse({});
    const uint port = m.captured(2).toUInt();
    if (port > 65535)
        return refuse(QStringLiteral(": the port is 1 to 65535 (0: any free one)"));
    QString host = m.captured(1);
    if (host.isEmpty())
        host = QStringLiteral("127.0.0.1");
    else if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1, host.size() - 2);
    QHostAddress address;
    if (!address.setAddress(host) ||
        (m.captured(1).startsWith(QLatin1Char('[')) && address.protocol() != QAbstractSocket::IPv6Protocol))
        return refuse(QStringLiteral(": \"%1\" is no IP address").arg(host));
    out->address = address;
    out->port = quint16(port);
    return true;
}

bool ReadTokenFile(const QString& path, QByteArray* token, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("--http-token: cannot read \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxTokenFileBytes) {
        *error =
            QStringLiteral("--http-token: \"%1\" is larger than %2 bytes").arg(path).arg(MaxTokenFileBytes);
        return false;
    }
    const QByteArray secret = file.readLine(MaxTokenFileBytes + 1).trimmed();
    if (secret.size() < MinTokenLength) {
        *error = QStringLiteral("--http-token: the first line of \"%1\" must hold a secret of at least %2 "
                                "characters")
                     .arg(path)
                     .arg(MinTokenLength);
        return false;
    }
    for (const char c : secret) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           QByteArrayView("-._~").contains(c);
        if (!plain) {
            *error = QStringLiteral("--http-token: the secret in \"%1\" may hold only letters, digits and "
                                    "-._~")
                         .arg(path);
            return false;
        }
    }
    *token = secret;
    return true;
}

bool ResolveWebSettings(const QString& http, const QString& tokenFile, WebSettings* out, QString* error)
{
    if (http.isEmpty()) {
        if (!tokenFile.isEmpty()) {
            *error = QStringLiteral("--http-token goes with --http");
            return false;
        }
        return true;
    }
    if (!ParseListenAddress(http, &out->listen, error))
        return false;
    if (!tokenFile.isEmpty())
        return ReadTokenFile(tokenFile, &out->token, error);
    if (!out->listen.IsLoopback()) {
        *error = QStringLiteral("--http %1 is reachable from other machines: give --http-token FILE with a "
                                "secret that readers must present")
                     .arg(out->listen.Text());
        return false;
    }
    return true;
}

} // namespace web
