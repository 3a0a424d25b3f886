#pragma once

#include <QPointF>
#include <QVector>

class SampleHistory;

enum class ChartValue { Volts, Amperes };

// Lines of points in clock milliseconds and values; line k runs from
// points[starts[k]] to the point before starts[k + 1] (or the last point).
struct ThinnedLines {
    QVector<QPointF> points;
    QVector<int> starts;
};

// The samples between x0Ms and x1Ms (and one either side, so that the lines
// reach the edges) cut to at most four points per pixel column: the column's
// first, lowest, highest and last, in their order in time, so that the lines
// drawn cover the same pixels as all the samples would. A one-sample spike is
// the highest or lowest of its column, so it stays at any span. A line break
// between samples stays a break.
ThinnedLines ThinToColumns(const SampleHistory &history, ChartValue value,
                           double x0Ms, double x1Ms, int columns);
