#include "query/query_arguments.h"

#include <QRegularExpression>
#include <algorithm>

QList<int> ReadChannelList(const QString& list, QString* bad)
{
    QList<int> channels;
    for (const QString& part : list.split(QLatin1Char(','))) {
        bool ok = false;
        const int c = part.trimmed().toInt(&ok);
        if (!ok || c < 1 || c > 16) {
            *bad = part;
            return {};
        }
        if (!channels.contains(c))
            channels.append(c);
    }
    std::sort(channels.begin(), channels.end());
    return channels;
}

bool ReadTimeWindow(const QString& text, QuerySpec* spec)
{
    static const QRegularExpression window(QStringLiteral("^\\s*(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})\\s*$"));
    const auto m = window.match(text);
    if (!m.hasMatch())
        return false;
    spec->timeCondition = true;
    spec->startTime = m.captured(1);
    spec->endTime = m.captured(2);
    return true;
}
