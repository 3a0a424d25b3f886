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
#include <functional>

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

}  // namespace

QByteArray ChartCsvLine(const ChartSample &sample)
{
    QByteArray line = QDateTime::fromMSecsSinceEpoch(sample.clockMs)
                          .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                          .toLatin1();
    line += ',' + QByteArray::number(sample.sinceConnectMs / 1000.0, 'f', 3);
    line += ',' + QByteArray::number(sample.volts, 'f', 2);
    line += ',' + QByteArray::number(sample.amperes, 'f', 4);
    line += sample.cv ? ",1" : ",0";
    line += sample.cc ? ",1" : ",0";
    line += sample.output ? ",1" : ",0";
    return line;
}

bool SaveChartCsv(const QString &path, const SampleHistory &history)
{
    int next = -1;  // -1: the header
    return WriteThroughSaveFile(path, [&](QByteArray &piece) {
        if (next >= history.Size())
            return false;
        piece = QByteArray();
        if (next < 0) {
            piece = "time,seconds,voltage_V,current_A,CV,CC,output\n";
            next = 0;
        }
        const int end = std::min(history.Size(), next + LinesPerWrite);
        for (; next < end; ++next)
            piece += ChartCsvLine(history.At(next)) + '\n';
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
