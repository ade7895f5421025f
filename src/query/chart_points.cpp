#include "query/chart_points.h"

#include "core/shared_state.h"

#include <QDateTime>

namespace {

constexpr double DayMs = 24.0 * 60 * 60 * 1000;
const qint64 EpochDay = QDate(1970, 1, 1).toJulianDay();

// The local clock of one day: its wall-clock midnight as if it were UTC, the offsets from UTC at
// the start and at the end of the day, and the instant the clock changed when they differ.
struct DayClock {
    double wallMidnight = 0;
    double startOffset = 0;
    double endOffset = 0;
    double change = 0;

    explicit DayClock(QDate day)
        : wallMidnight(double(day.toJulianDay() - EpochDay) * DayMs)
    {
        const QDateTime first = day.startOfDay();
        const QDateTime last = day.endOfDay();
        startOffset = 1000.0 * first.offsetFromUtc();
        endOffset = 1000.0 * last.offsetFromUtc();
        if (startOffset == endOffset)
            return;
        // The first second of the day that has the end offset.
        qint64 low = first.toSecsSinceEpoch(), high = last.toSecsSinceEpoch();
        while (high - low > 1) {
            const qint64 middle = low + (high - low) / 2;
            if (1000.0 * QDateTime::fromSecsSinceEpoch(middle).offsetFromUtc() == startOffset)
                low = middle;
            else
                high = middle;
        }
        change = 1000.0 * double(high);
    }

    // The instant of a time of day. A time the clock showed twice (set back) is taken before the
    // change unless that would put it before the previous record of the day; a time the clock
    // skipped (set forward) is read with the offset before the change.
    double instant(double msOfDay, double previous) const
    {
        const double before = wallMidnight + msOfDay - startOffset;
        if (startOffset == endOffset)
            return before;
        const double after = wallMidnight + msOfDay - endOffset;
        const bool beforeFits = before < change;
        const bool afterFits = after >= change;
        if (afterFits && (!beforeFits || (before < previous && after >= previous)))
            return after;
        return before;
    }
};

} // namespace

std::vector<double> ChartTimes(const QueryResult& result)
{
    const int date = result.columnOf(QStringLiteral("date"));
    const int time = result.columnOf(QStringLiteral("time"));
    std::vector<double> times;
    if (date < 0 || time < 0)
        return times;
    times.reserve(size_t(result.rowCount()));
    // Converting a local date-time is slow; records come in long runs of the same day.
    QDate day;
    DayClock clock{QDate(1970, 1, 1)};
    double previous = -qInf();
    for (int row = 0; row < result.rowCount(); ++row) {
        const QDate d = result.date(row, date);
        if (!d.isValid() || result.isNull(row, time)) {
            times.push_back(qQNaN());
            continue;
        }
        if (d != day) {
            day = d;
            clock = DayClock(d);
            previous = -qInf();
        }
        previous = clock.instant(1000.0 * result.seconds(row, time), previous);
        times.push_back(previous);
    }
    return times;
}

QList<QPointF> ChartPoints(const QueryResult& result, const std::vector<double>& times, int column,
                           int maxPoints)
{
    QList<QPointF> all;
    all.reserve(result.rowCount());
    for (int row = 0; row < result.rowCount() && size_t(row) < times.size(); ++row) {
        const double y = result.reading(row, column);
        if (!qIsNaN(y) && y != InvalidReading && !qIsNaN(times[size_t(row)]))
            all.append(QPointF(times[size_t(row)], y));
    }
    const int runs = maxPoints / 2;
    if (all.size() <= maxPoints || runs < 1)
        return all;
    QList<QPointF> kept;
    kept.reserve(2 * runs);
    for (int run = 0; run < runs; ++run) {
        const qsizetype first = all.size() * run / runs;
        const qsizetype last = all.size() * (run + 1) / runs;
        qsizetype low = first, high = first;
        for (qsizetype i = first; i < last; ++i) {
            if (all[i].y() < all[low].y())
                low = i;
            if (all[i].y() > all[high].y())
                high = i;
        }
        kept.append(all[std::min(low, high)]);
        if (low != high)
            kept.append(all[std::max(low, high)]);
    }
    return kept;
}
