#include "columnthinning.h"

#include "samplehistory.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

double ValueOf(const ChartSample &sample, ChartValue value)
{
    return value == ChartValue::Volts ? sample.volts : sample.amperes;
}

// The first, lowest, highest and last sample of one column.
struct Column {
    bool used = false;
    int index = 0;
    int firstIndex = 0;
    int lastIndex = 0;
    int lowIndex = 0;
    int highIndex = 0;
    double low = 0;
    double high = 0;
};

}  // namespace

ThinnedLines ThinToColumns(const SampleHistory &history, ChartValue value,
                           double x0Ms, double x1Ms, int columns)
{
    ThinnedLines lines;
    if (history.Size() == 0 || columns <= 0 || !(x1Ms > x0Ms))
        return lines;
    const int first = std::max(0, history.FirstAtOrAfter(x0Ms) - 1);
    const int last = std::min(history.Size() - 1, history.FirstAtOrAfter(x1Ms));
    const double perMs = columns / (x1Ms - x0Ms);

    Column column;
    bool lineOpen = false;
    auto flush = [&] {
        if (!column.used)
            return;
        if (!lineOpen) {
            lines.starts.append(lines.points.size());
            lineOpen = true;
        }
        int kept[] = {column.firstIndex, column.lowIndex, column.highIndex, column.lastIndex};
        std::sort(std::begin(kept), std::end(kept));
        const int *end = std::unique(std::begin(kept), std::end(kept));
        for (const int *i = kept; i != end; ++i) {
            const ChartSample &sample = history.At(*i);
            lines.points.append(QPointF(double(sample.clockMs), ValueOf(sample, value)));
        }
        column.used = false;
    };

    const double ChartSample::*member = value == ChartValue::Volts ? &ChartSample::volts
                                                                 : &ChartSample::amperes;
    double columnEndMs = 0;  // the current column holds samples before this time
    history.ForEach(first, last, [&](int i, const ChartSample &sample) {
        if (sample.gapBefore && i > first) {
            flush();
            lineOpen = false;
        }
        const double t = double(sample.clockMs);
        if (column.used && t >= columnEndMs)
            flush();
        const double y = sample.*member;
        if (!column.used) {
            const int index = int(std::floor((t - x0Ms) * perMs));
            columnEndMs = x0Ms + (index + 1) / perMs;
            column = {true, index, i, i, i, i, y, y};
            return;
        }
        column.lastIndex = i;
        if (y < column.low) {
            column.low = y;
            column.lowIndex = i;
        }
        if (y > column.high) {
            column.high = y;
            column.highIndex = i;
        }
    });
    flush();
    return lines;
}
