#include "core/url_text.h"

#include <QList>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

const QString Stars = QStringLiteral("****");
constexpr qsizetype FragmentSize = 4;

struct Span {
    qsizetype start = 0;
    qsizetype size = 0;
};

// Where in `url` a password could be written: never fewer places than any reader of the URL
// would take it from.
QList<Span> SecretSpans(const QString& url)
{
    QList<Span> spans;
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    if (scheme >= 0) {
        const qsizetype colon = url.indexOf(QLatin1Char(':'), scheme + 3);
        const qsizetype at = url.lastIndexOf(QLatin1Char('@'));
        if (colon >= 0 && at > colon)
            spans.append({colon + 1, at - colon - 1});
    }
    // A URI begins with its scheme; anything else is read as keywords.
    static const QRegularExpression uriStart(QStringLiteral("^\\s*[A-Za-z][A-Za-z0-9+.-]*://"));
    const bool uri = uriStart.match(url).hasMatch();
    // Keywords, with blanks around "=": an unquoted value runs to a blank and takes in the words
    // after it that no "=" follows ("password=sec ret").
    static const QRegularExpression pair(QStringLiteral("(?:^|(?<=[?&\\s]))([^=&?\\s]+)\\s*=\\s*(?=('(?:[^'\\\\]|\\\\.)*'?|\\S*(?:\\s+[^=\\s']++(?!\\s*=)(?=\\s|$))*))"));
    // The same in a URI, where "&" ends an unquoted value too ("?password=x&sslmode=require").
    for (auto it = pair.globalMatch(url); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString key = QUrl::fromPercentEncoding(m.captured(1).toUtf8()).trimmed().toLower();
        const bool quoted = m.captured(2).startsWith(QLatin1Char('\''));
        const qsizetype amp = quoted ? -1 : m.captured(2).indexOf(QLatin1Char('&'));
        if (key.endsWith(QLatin1String("password")))
            spans.append({m.capturedStart(2), uri && amp >= 0 ? amp : m.capturedLength(2)});
    }
    // (Values are looked ahead at, not taken: a key may hide in an odd value before it.)
    // In a URI's query, keys percent-encoded or not, a password value runs to the next "&", blanks
    // included, and takes in the parts after it that hold no "=" ("?password=a&b", where libpq
    // would quote "b" as a bad parameter).
    static const QRegularExpression query(QStringLiteral("[?&]([^=&]*)=(?=([^&]*(?:&[^=&]*(?=&|$))*))"));
    for (auto it = query.globalMatch(uri ? url : QString()); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (QUrl::fromPercentEncoding(m.captured(1).toUtf8()).trimmed().toLower().endsWith(QLatin1String("password")))
            spans.append({m.capturedStart(2), m.capturedLength(2)});
    }
    return spans;
}

bool Overlaps(const QList<Span>& spans, qsizetype start, qsizetype size)
{
    for (const Span& s : spans)
        if (s.size > 0 && start < s.start + s.size && s.start < start + size)
            return true;
    return false;
}

// `text`, which stands at `offset` in the URL, with the parts the spans cover starred (spans that
// overlap or touch as one).
QString StarSpans(const QString& text, const QList<Span>& spans, qsizetype offset)
{
    QList<std::pair<qsizetype, qsizetype>> cut; // [begin, end) in `text`
    for (const Span& s : spans) {
        const qsizetype begin = std::max<qsizetype>(s.start - offset, 0);
        const qsizetype end = std::min<qsizetype>(s.start - offset + s.size, text.size());
        if (end > begin)
            cut.append({begin, end});
    }
    std::sort(cut.begin(), cut.end());
    QList<std::pair<qsizetype, qsizetype>> merged;
    for (const auto& c : cut) {
        if (!merged.isEmpty() && c.first <= merged.last().second)
            merged.last().second = std::max(merged.last().second, c.second);
        else
            merged.append(c);
    }
    QString shown = text;
    for (auto it = merged.crbegin(); it != merged.crend(); ++it)
        shown.replace(it->first, it->second - it->first, Stars);
    return shown;
}

} // namespace

QString StarPassword(QString text)
{
    static const QRegularExpression inUri(QStringLiteral("(://[^:/@\\s]*:)[^@\\s]*@"));
    static const QRegularExpression inQuery(QStringLiteral("([?&]password=)[^&#\\s]*"));
    static const QRegularExpression inKeywords(
        QStringLiteral("(password\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'|\\S+)"));
    return text.replace(inUri, QStringLiteral("\\1****@"))
        .replace(inQuery, QStringLiteral("\\1****"))
        .replace(inKeywords, QStringLiteral("\\1****"));
}

bool AmbiguousUserInfo(const QString& url)
{
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return false;
    QString rest = url.mid(scheme + 3);
    if (const qsizetype query = rest.indexOf(QLatin1Char('?')); query >= 0)
        rest.truncate(query);
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    return at >= 0 && (rest.count(QLatin1Char('@')) > 1 || rest.left(at).contains(QLatin1Char('/')));
}

QString StarredRefusedUrl(const QString& url)
{
    return StarSpans(url, SecretSpans(url), 0);
}

QString WithoutUrlSecrets(QString message, const QString& url)
{
    const QList<Span> spans = SecretSpans(url);
    QStringList secrets;
    for (const Span& s : spans) {
        const QString raw = url.mid(s.start, s.size);
        secrets << raw << QUrl::fromPercentEncoding(raw.toUtf8()) << raw.trimmed();
        if (raw.size() >= 2 && raw.startsWith(QLatin1Char('\'')) && raw.endsWith(QLatin1Char('\'')))
            secrets << raw.mid(1, raw.size() - 2);
    }
    secrets.removeDuplicates();
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\"|'([^']*)'"));
    // A quoted token that is written in the URL keeps what touches no password there; one that is
    // part of a password goes altogether.
    const auto masked = [&](const QString& token) {
        if (token.isEmpty())
            return token;
        for (qsizetype at = url.indexOf(token); at >= 0; at = url.indexOf(token, at + 1))
            if (Overlaps(spans, at, token.size()))
                return StarSpans(token, spans, at);
        for (const QString& s : secrets)
            if (!s.isEmpty() && s.contains(token))
                return Stars;
        return token;
    };
    QString out;
    qsizetype from = 0;
    for (auto it = quoted.globalMatch(message); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int group = m.capturedStart(1) >= 0 ? 1 : 2;
        out += message.mid(from, m.capturedStart(group) - from);
        out += masked(m.captured(group));
        from = m.capturedEnd(group);
    }
    out += message.mid(from);
    // And whatever else is a piece of the password, quoted or not: every run of four characters
    // or more that a password holds, the password itself when shorter.
    // A password of stars alone shows nothing as stars, and replacing it by stars would only
    // multiply them, once for every such secret.
    for (const QString& s : secrets)
        if (!s.trimmed().isEmpty() && s.size() < FragmentSize && !Stars.contains(s))
            out.replace(s, Stars);
    QString shown;
    for (qsizetype i = 0; i < out.size();) {
        qsizetype run = 0;
        for (const QString& s : secrets) {
            if (s.size() < FragmentSize || !s.contains(QStringView(out).mid(i, FragmentSize)))
                continue;
            qsizetype n = FragmentSize;
            while (i + n < out.size() && s.contains(QStringView(out).mid(i, n + 1)))
                ++n;
            run = std::max(run, n);
        }
        if (run > 0 && i + FragmentSize <= out.size()) {
            shown += Stars;
            i += run;
        } else {
            shown += out[i++];
        }
    }
    return StarPassword(shown);
}
