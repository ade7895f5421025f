#include "web/series.h"

#include "core/shared_state.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

namespace web {

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
                    const std::vector<std::vector<double>>& values,
                    const std::vector<std::pair<qint64, qint64>>& gaps)
{
    Buckets out;
    points = std::clamp(points, 1, MaxSeriesPoints);
    // Wide enough that `points` buckets cover the span, which may be thousands of years.
    const qint64 span = endMs >= startMs ? endMs - startMs : 0;
    out.widthMs = std::max<qint64>(span / points + 1, 1);
    std::vector<size_t> rows;
    for (size_t row = 0; row < instants.size(); ++row)
        if (instants[row] >= startMs && instants[row] <= endMs)
            rows.push_back(row);
    std::stable_sort(rows.begin(), rows.end(), [&](size_t x, size_t y) { return instants[x] < instants[y]; });

    // The usual spacing of the rows: a silence of more than three of it is a break.
    std::vector<qint64> steps;
    for (size_t i = 1; i < rows.size(); ++i)
        if (const qint64 step = instants[rows[i]] - instants[rows[i - 1]]; step > 0)
            steps.push_back(step);
    qint64 silence = std::numeric_limits<qint64>::max();
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        silence = 3 * steps[steps.size() / 2];
    }
    const auto broken = [&](qint64 a, qint64 b) {
        return b - a > silence ||
               std::any_of(gaps.begin(), gaps.end(), [a, b](const auto& g) { return g.first >= a && g.second <= b; });
    };

    struct Cell {
        int n = 0;
        double lo = 0, hi = 0, sum = 0;
    };
    std::vector<Cell> cells(values.size());
    out.channels.resize(values.size());
    const auto close = [&](qint64 first, qint64 last, int n) {
        out.firstMs.push_back(first);
        out.lastMs.push_back(last);
        for (size_t c = 0; c < values.size(); ++c) {
            const Cell& cell = cells[c];
            ChannelBuckets& ch = out.channels[c];
            ch.count.push_back(n < 0 ? -1 : cell.n);
            ch.minimum.push_back(cell.lo);
            ch.maximum.push_back(cell.hi);
            // The mean never leaves [min, max] by rounding.
            ch.mean.push_back(cell.n ? std::clamp(cell.sum / cell.n, cell.lo, cell.hi) : 0);
        }
        std::fill(cells.begin(), cells.end(), Cell{});
    };
    qint64 bucket = -1, first = 0, last = 0;
    for (size_t row : rows) {
        const qint64 t = instants[row];
        const qint64 b = (t - startMs) / out.widthMs;
        if (b != bucket) {
            if (bucket >= 0) {
                close(first, last, 1);
                if (broken(last, t))
                    close(last + (t - last) / 2, last + (t - last) / 2, -1);
            }
            bucket = b;
            first = t;
        }
        last = t;
        for (size_t c = 0; c < values.size(); ++c) {
            const double v = values[c][row];
            if (std::isnan(v) || v == InvalidReading)
                continue;
            Cell& cell = cells[c];
            cell.lo = cell.n ? std::min(cell.lo, v) : v;
            cell.hi = cell.n ? std::max(cell.hi, v) : v;
            cell.sum += v;
            ++cell.n;
        }
    }
    if (bucket >= 0)
        close(first, last, 1);
    return out;
}

} // namespace web
