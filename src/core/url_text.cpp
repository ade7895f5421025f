#include "core/url_text.h"

#include <QRegularExpression>

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
