#include "query/chart_points.h"

#include "core/shared_state.h"

#include <QDateTime>

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
    double midnight = 0;
    for (int row = 0; row < result.rowCount(); ++row) {
        const QDate d = result.date(row, date);
        if (d != day) {
            day = d;
            midnight = double(d.startOfDay().toMSecsSinceEpoch());
        }
        const bool known = d.isValid() && !result.isNull(row, time);
        times.push_back(known ? midnight + 1000.0 * result.seconds(row, time) : qQNaN());
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
