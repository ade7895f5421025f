#include "web/series.h"

#include "core/shared_state.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>

namespace web {

std::vector<qint64> RowInstants(const QueryResult& result, int dateColumn, int timeColumn)
{
    constexpr qint64 Hour = 3600 * 1000;
    std::vector<qint64> instants(size_t(result.rowCount()), std::numeric_limits<qint64>::min());
    // The zone's offset changes on whole hours: one look-up per local hour.
    QHash<qint64, qint64> hourStart; // local day * 24 + hour -> its instant
    qint64 previous = std::numeric_limits<qint64>::min();
    for (int row = 0; row < result.rowCount(); ++row) {
        if (result.isNull(row, dateColumn) || result.isNull(row, timeColumn))
            continue;
        const QDate day = result.date(row, dateColumn);
        const int seconds = result.seconds(row, timeColumn);
        const qint64 key = day.toJulianDay() * 24 + seconds / 3600;
        auto at = hourStart.find(key);
        if (at == hourStart.end()) {
            const QTime hour(seconds / 3600, 0);
            qint64 start = QDateTime(day, hour).toMSecsSinceEpoch();
            // Of an hour the clock shows twice, its first pass.
            const QDateTime before = QDateTime::fromMSecsSinceEpoch(start - Hour);
            if (before.date() == day && before.time() == hour)
                start -= Hour;
            at = hourStart.insert(key, start);
        }
        qint64 instant = *at + qint64(seconds % 3600) * 1000;
        // The hour the clock goes back: the second pass of the same wall-clock times.
        if (instant < previous && previous - instant <= Hour)
            instant += Hour;
        instants[size_t(row)] = previous = instant;
    }
    return instants;
}

std::vector<std::pair<qint64, int>> OffsetChanges(qint64 startMs, qint64 endMs)
{
    const auto offsetAt = [](qint64 t) { return QDateTime::fromMSecsSinceEpoch(t).offsetFromUtc(); };
    // Zones change their offset at most a few times a year, hours apart: look every 6 hours, then
    // find the change between two looks to the millisecond.
    constexpr qint64 Step = 6 * 3600 * 1000;
    std::vector<std::pair<qint64, int>> changes{{startMs, offsetAt(startMs)}};
    for (qint64 before = startMs; before < endMs;) {
        const qint64 after = std::min(endMs, before + Step);
        if (offsetAt(after) != changes.back().second) {
            qint64 lo = before, hi = after; // lo has the old offset, hi the new
            while (hi - lo > 1) {
                const qint64 mid = lo + (hi - lo) / 2;
                (offsetAt(mid) == changes.back().second ? lo : hi) = mid;
            }
            changes.emplace_back(hi, offsetAt(hi));
        }
        before = after;
    }
    return changes;
}

Buckets MakeBuckets(qint64 startMs, qint64 endMs, int points, const std::vector<qint64>& instants,
                    const std::vector<std::vector<double>>& values)
{
    Buckets out;
    points = std::clamp(points, 1, MaxSeriesPoints);
    const qint64 span = std::max<qint64>(endMs - startMs + 1, 1);
    out.widthMs = std::max<qint64>((span + points - 1) / points, 1);
    const size_t count = size_t((span + out.widthMs - 1) / out.widthMs);
    struct Cell {
        int n = 0;
        double lo = 0, hi = 0, sum = 0;
    };
    std::vector<std::vector<Cell>> cells(values.size(), std::vector<Cell>(count));
    std::vector<bool> used(count, false);
    for (size_t row = 0; row < instants.size(); ++row) {
        const qint64 t = instants[row];
        if (t < startMs || t > endMs)
            continue;
        const size_t b = size_t((t - startMs) / out.widthMs);
        used[b] = true;
        for (size_t c = 0; c < values.size(); ++c) {
            const double v = values[c][row];
            if (std::isnan(v) || v == InvalidReading)
                continue;
            Cell& cell = cells[c][b];
            cell.lo = cell.n ? std::min(cell.lo, v) : v;
            cell.hi = cell.n ? std::max(cell.hi, v) : v;
            cell.sum += v;
            ++cell.n;
        }
    }
    out.channels.resize(values.size());
    for (size_t b = 0; b < count; ++b) {
        if (!used[b])
            continue;
        out.startMs.push_back(startMs + qint64(b) * out.widthMs);
        for (size_t c = 0; c < values.size(); ++c) {
            const Cell& cell = cells[c][b];
            ChannelBuckets& ch = out.channels[c];
            ch.count.push_back(cell.n);
            ch.minimum.push_back(cell.lo);
            ch.maximum.push_back(cell.hi);
            // The mean never leaves [min, max] by rounding.
            ch.mean.push_back(cell.n ? std::clamp(cell.sum / cell.n, cell.lo, cell.hi) : 0);
        }
    }
    return out;
}

} // namespace web
