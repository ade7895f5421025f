#include "forward/recorded_utc.h"

#include <QDateTime>

#include <algorithm>
#include <functional>

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 Bucket = 900; // clock changes fall on a whole quarter hour of local time
constexpr qsizetype MaxBuckets = 20000;

qint64 LocalSeconds(const QDate& date, const QTime& time)
{
    return (date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * Day + time.msecsSinceStartOfDay() / 1000;
}

} // namespace

const QList<int>& RecordedUtc::Offsets(qint64 local)
{
    const qint64 key = local >= 0 ? local / Bucket : (local - Bucket + 1) / Bucket;
    if (const auto found = m_cache.constFind(key); found != m_cache.cend())
        return *found;
    if (m_cache.size() > MaxBuckets)
        m_cache.clear();
    const auto offsetAt = [&](qint64 instant) {
        return m_zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(instant, Qt::UTC));
    };
    // A day either side covers the offsets in force around any one change of clocks.
    const int before = offsetAt(local - Day);
    const int after = offsetAt(local + Day);
    QList<int> valid;
    for (const int offset : {before, after}) {
        if (!valid.contains(offset) && offsetAt(local - offset) == offset)
            valid.append(offset);
    }
    // Earliest instant first: the larger offset puts the same wall clock earlier.
    std::sort(valid.begin(), valid.end(), std::greater<int>());
    if (valid.isEmpty())
        valid.append(before); // never occurs: read as if the clocks had not changed yet
    return *m_cache.insert(key, valid);
}

std::optional<qint64> RecordedUtc::Next(const QDate& date, const QTime& time)
{
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const qint64 local = LocalSeconds(date, time);
    const QList<int>& offsets = Offsets(local);
    qint64 instant = local - offsets.first();
    for (const int offset : offsets) {
        instant = local - offset;
        if (!m_last || instant >= *m_last)
            break;
    }
    m_last = instant;
    return instant;
}
