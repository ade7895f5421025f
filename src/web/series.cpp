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

namespace {

// The median step between successive distinct instants of ascending `sorted`; 0 with fewer than two.
qint64 UsualStep(const std::vector<qint64>& sorted)
{
    std::vector<qint64> steps;
    for (size_t i = 1; i < sorted.size(); ++i)
        if (const qint64 step = sorted[i] - sorted[i - 1]; step > 0)
            steps.push_back(step);
    if (steps.empty())
        return 0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

} // namespace

std::vector<bool> GapsWithMissingRows(const std::vector<qint64>& instants,
                                      const std::vector<std::pair<qint64, qint64>>& gaps)
{
    std::vector<qint64> sorted;
    sorted.reserve(instants.size());
    for (qint64 t : instants)
        if (t != std::numeric_limits<qint64>::min())
            sorted.push_back(t);
    std::sort(sorted.begin(), sorted.end());
    const qint64 step = UsualStep(sorted);
    std::vector<bool> keep(gaps.size(), true);
    for (size_t g = 0; g < gaps.size() && step > 0; ++g) {
        const auto after = std::lower_bound(sorted.begin(), sorted.end(), gaps[g].second);
        const auto before = std::upper_bound(sorted.begin(), sorted.end(), gaps[g].first);
        if (after == sorted.end() || before == sorted.begin())
            continue;
        keep[g] = *after - *std::prev(before) > step + step / 2;
    }
    return keep;
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

    // The usual spacing of the rows: a silence of more than three of it is a break, and so is a
    // gap of the event log where more than one and a half of it passed between two rows (a gap
    // with the next row on time, such as a rotated file's stop and start, lost nothing).
    std::vector<qint64> sorted;
    sorted.reserve(rows.size());
    for (size_t row : rows)
        sorted.push_back(instants[row]);
    const qint64 step = UsualStep(sorted);
    const qint64 silence = step > 0 ? 3 * step : std::numeric_limits<qint64>::max();
    const qint64 late = step > 0 ? step + step / 2 : 0;
    const auto broken = [&](qint64 a, qint64 b) {
        return b - a > silence ||
               (b - a > late &&
                std::any_of(gaps.begin(), gaps.end(), [a, b](const auto& g) { return g.first >= a && g.second <= b; }));
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
