#pragma once
// The history chart's data: the rows of a time range cut into at most N equal buckets by their
// instant in UTC, each with the count, minimum, maximum and mean of every channel's readings in
// it. Rows carry the local wall clock only; their instant is that wall clock in the recorder's
// time zone, and in the hour the clock goes back (the same wall-clock times twice) a row whose
// instant would fall before the row written before it is taken as the second pass of that hour.
#include "query/query_range.h"

#include <QtGlobal>
#include <utility>
#include <vector>

namespace web {

inline constexpr int DefaultSeriesPoints = 1000;
inline constexpr int MaxSeriesPoints = 5000;

// The recorder's UTC offset (seconds east) at startMs, then at each change of it up to endMs:
// (the instant it takes effect in ms since the epoch, the offset), ascending. The page turns
// instants into the recorder's wall clock with these, each instant at its own offset.
std::vector<std::pair<qint64, int>> OffsetChanges(qint64 startMs, qint64 endMs);

struct ChannelBuckets {
    std::vector<int> count; // 0: no reading of this channel in the bucket
    std::vector<double> minimum, maximum, mean;
};

struct Buckets {
    qint64 widthMs = 1;
    // Of each bucket that holds a row, ascending: the instant of its first and of its last row.
    // A break between two of them (rows missing: a gap of the event log between two rows, or a
    // silence of more than three times the usual spacing of the rows) is an entry of its own, with
    // firstMs == lastMs and a count of -1 in every channel, so that a chart's line breaks there.
    std::vector<qint64> firstMs, lastMs;
    std::vector<ChannelBuckets> channels; // in the order of `values`
};

// Which of the event log's gaps (spans in ms) cost rows: a gap is kept when the rows on either
// side of it lie further apart than one and a half times the rows' usual spacing, or when it has
// no row on one side. A file boundary of a rotated series (stopped, then started a fraction of a
// second later, the next row on time) is no gap.
std::vector<bool> GapsWithMissingRows(const std::vector<qint64>& instants,
                                      const std::vector<std::pair<qint64, qint64>>& gaps);

// Rows at instants in [startMs, endMs] into at most `points` buckets of equal width (at least
// 1 ms); a bucket without any row is left out. values[c][row] is channel c's reading; NaN and the
// meter's invalid-reading marker are not readings. gaps: spans (ms) without rows by the event log;
// one breaks the line only where rows are missing (GapsWithMissingRows).
// Work and memory grow with the rows and `points`, never with the span.
Buckets MakeBuckets(qint64 startMs, qint64 endMs, int points, const std::vector<qint64>& instants,
                    const std::vector<std::vector<double>>& values,
                    const std::vector<std::pair<qint64, qint64>>& gaps = {});

} // namespace web
