#include "chartfiles.h"

#include "samplehistory.h"

#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

constexpr int LinesPerWrite = 4096;

// Writes the pieces that next() hands out until it returns false. commit()
// alone would accept a short write or a failed final flush and put a
// truncated copy in place of the old file, so each is checked and any failure
// cancels the replacement.
bool WriteThroughSaveFile(const QString &path, const std::function<bool(QByteArray &)> &next)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    bool written = true;
    QByteArray piece;
    while (written && next(piece))
        written = file.write(piece) == piece.size();
    written = written && file.flush();
    if (!written)
        file.cancelWriting();
    const bool committed = file.commit();
    return written && committed;
}

// Local clock times for a run of samples. Converting each through the time
// zone costs seconds for a day's history, so the zone's offset is looked up
// once per quarter hour of UTC (every zone changes its offset on a quarter
// hour) and the fields are computed from it.
class LocalStamp
{
public:
    QByteArray Format(qint64 ms)
    {
        const qint64 quarter = FloorDiv(ms, QuarterMs);
        if (quarter != lastQuarter) {
            lastQuarter = quarter;
            offsetMs = qint64(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) * 1000;
        }
        const qint64 local = ms + offsetMs;
        const qint64 day = FloorDiv(local, DayMs);
        const qint64 inDay = local - day * DayMs;
        const QDate date = QDate::fromJulianDay(UnixEpochJulianDay + day);
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", date.year(),
                      date.month(), date.day(), int(inDay / 3600000), int(inDay / 60000 % 60),
                      int(inDay / 1000 % 60), int(inDay % 1000));
        return QByteArray(text);
    }

private:
    static constexpr qint64 QuarterMs = 15 * 60 * 1000;
    static constexpr qint64 DayMs = 24 * 3600 * 1000;
    static constexpr qint64 UnixEpochJulianDay = 2440588;

    static qint64 FloorDiv(qint64 a, qint64 b) { return a / b - (a % b < 0 ? 1 : 0); }

    qint64 lastQuarter = std::numeric_limits<qint64>::min();
    qint64 offsetMs = 0;
};

QByteArray CsvLine(const ChartSample &sample, qint64 firstMs, LocalStamp &stamp)
{
    QByteArray line = stamp.Format(sample.clockMs);
    // One count for the whole file: a reconnect does not start it again.
    line += ',' + QByteArray::number((sample.clockMs - firstMs) / 1000.0, 'f', 3);
    line += ',' + QByteArray::number(sample.volts, 'f', 2);
    line += ',' + QByteArray::number(sample.amperes, 'f', 4);
    line += sample.cv ? ",1" : ",0";
    line += sample.cc ? ",1" : ",0";
    line += sample.output ? ",1" : ",0";
    if (sample.setpointsKnown) {
        line += ',' + QByteArray::number(sample.voltsSet, 'f', 3);
        line += ',' + QByteArray::number(sample.amperesSet, 'f', 3);
    } else {
        line += ",,";
    }
    return line;
}

}  // namespace

bool SaveChartCsv(const QString &path, const SampleHistory &history)
{
    int next = -1;  // -1: the header
    LocalStamp stamp;
    return WriteThroughSaveFile(path, [&](QByteArray &piece) {
        if (next >= history.Size())
            return false;
        piece = QByteArray();
        if (next < 0) {
            piece = "time,seconds,voltage_V,current_A,CV,CC,output,voltage_set_V,current_set_A\n";
            next = 0;
        }
        const int end = std::min(history.Size(), next + LinesPerWrite);
        for (; next < end; ++next)
            piece += CsvLine(history.At(next), history.At(0).clockMs, stamp) + '\n';
        return true;
    });
}

bool SaveChartPng(const QString &path, QwtPlot *plot, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QwtPlotRenderer renderer;
    renderer.renderTo(plot, image);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return false;
    bool handed = false;
    return WriteThroughSaveFile(path, [&](QByteArray &piece) {
        if (handed)
            return false;
        piece = png;
        handed = true;
        return true;
    });
}
