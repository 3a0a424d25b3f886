#include "chartitems.h"

#include "samplehistory.h"

#include <qwt_plot.h>
#include <qwt_scale_map.h>

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

ChartCurveItem::ChartCurveItem(const SampleHistory &history, ChartValue value, const QPen &pen,
                               double fullRange)
    : history(history), value(value), pen(pen), fullRange(fullRange)
{
    setItemAttribute(QwtPlotItem::AutoScale, true);
    setLegendIconSize(QSize(24, 8));
}

QwtGraphic ChartCurveItem::legendIcon(int, const QSizeF &size) const
{
    // A stretch of the trace's own line, dash included.
    QwtGraphic icon;
    icon.setDefaultSize(size);
    icon.setRenderHint(QwtGraphic::RenderPensUnscaled, true);
    QPainter painter(&icon);
    painter.setPen(pen);
    painter.drawLine(QPointF(0, size.height() / 2), QPointF(size.width(), size.height() / 2));
    return icon;
}

void ChartCurveItem::SetTimeWindow(double x0Ms, double x1Ms)
{
    x0 = x0Ms;
    x1 = x1Ms;
}

const ThinnedLines &ChartCurveItem::Thinned(double from, double to, int columns) const
{
    if (from != thinnedFrom || to != thinnedTo || columns != thinnedColumns
        || history.Revision() != thinnedRevision) {
        thinned = ThinToColumns(history, value, from, to, columns);
        thinnedFrom = from;
        thinnedTo = to;
        thinnedColumns = columns;
        thinnedRevision = history.Revision();
    }
    return thinned;
}

QRectF ChartCurveItem::boundingRect() const
{
    // Every column keeps its lowest and highest sample, so the thinned points
    // within the time shown span the same values as the samples.
    const int columns = plot() ? std::max(1, plot()->canvas()->contentsRect().width()) : 1;
    const ThinnedLines &lines = Thinned(x0, x1, columns);
    double low = 0;
    double high = 0;
    bool any = false;
    for (const QPointF &p : lines.points) {
        if (p.x() < x0 || p.x() > x1)
            continue;
        low = any ? std::min(low, p.y()) : p.y();
        high = any ? std::max(high, p.y()) : p.y();
        any = true;
    }
    if (!any)
        return QRectF(1.0, 1.0, -2.0, -2.0);  // nothing: no say in the scales
    // A trace on the scale's top would be drawn on the frame and hidden by
    // it; below, the scale ends at zero unless a reading is negative.
    const double margin = std::max((high - low) * 0.05, fullRange * 0.01);
    const double bottom = low < 0 ? low - margin : low;
    return QRectF(x0, bottom, x1 - x0, high + margin - bottom);
}

void ChartCurveItem::draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                          const QRectF &canvasRect) const
{
    const int columns = std::max(1, int(std::ceil(canvasRect.width())));
    const ThinnedLines &lines = Thinned(xMap.s1(), xMap.s2(), columns);
    painter->setPen(pen);
    painter->setClipRect(canvasRect);
    for (int k = 0; k < lines.starts.size(); ++k) {
        const int begin = lines.starts.at(k);
        const int end = k + 1 < lines.starts.size() ? lines.starts.at(k + 1) : lines.points.size();
        QPolygonF line;
        line.reserve(end - begin);
        for (int i = begin; i < end; ++i) {
            const QPointF &p = lines.points.at(i);
            line.append(QPointF(xMap.transform(p.x()), yMap.transform(p.y())));
        }
        if (line.size() == 1) {
            // A lone sample between two failed reads is still shown.
            painter->setBrush(pen.color());
            painter->drawEllipse(line.first(), 2.0, 2.0);
            painter->setBrush(Qt::NoBrush);
        } else {
            painter->drawPolyline(line);
        }
    }
}

ChartSwitchItem::ChartSwitchItem(const SampleHistory &history)
    : history(history)
{
    setZ(-1);  // behind the curves
}

void ChartSwitchItem::draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &,
                           const QRectF &canvasRect) const
{
    const double low = std::min(xMap.s1(), xMap.s2());
    const double high = std::max(xMap.s1(), xMap.s2());
    for (const SwitchMark &mark : history.Switches()) {
        if (mark.clockMs < low || mark.clockMs > high)
            continue;
        painter->setPen(QPen(mark.on ? QColor(0, 150, 0) : QColor(200, 0, 0), 1, Qt::DashLine));
        const double x = xMap.transform(double(mark.clockMs));
        painter->drawLine(QPointF(x, canvasRect.top()), QPointF(x, canvasRect.bottom()));
    }
}
