#pragma once
// The points the query chart draws for a result, computed without any window.
// X is the instant the record was made, in milliseconds since the epoch, from its local date and
// time (on a day the clocks change, the points after the change stay at their real instant); Y the
// reading. Null readings and the meter's invalid-reading marker are left out.
#include "query/query_result.h"

#include <QList>
#include <QPointF>
#include <vector>

// X of every record, in result order; empty when the result lacks a date or time field.
std::vector<double> ChartTimes(const QueryResult& result);

// The points of one reading column. With more than maxPoints points, consecutive records are
// taken in maxPoints / 2 runs and each run keeps its lowest and its highest point (in time order),
// so a full file draws at once and every peak still shows at the chart's width.
QList<QPointF> ChartPoints(const QueryResult& result, const std::vector<double>& times, int column,
                           int maxPoints);
