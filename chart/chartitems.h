#pragma once

#include "columnthinning.h"

#include <qwt_graphic.h>
#include <qwt_plot_item.h>

#include <QPen>

class SampleHistory;

// One value of the history as lines, thinned to the canvas's pixel columns at
// every drawing, broken where reads failed. Its bounding rectangle covers the
// values within the shown time only, so that the axis scales itself to what
// is on screen, with a margin above so that no trace lies on the top frame.
class ChartCurveItem : public QwtPlotItem
{
public:
    // fullRange: the value's whole range on the supply; a flat trace gets a
    // margin of a small part of it.
    ChartCurveItem(const SampleHistory &history, ChartValue value, const QPen &pen,
                   double fullRange);

    // The time shown, ms since the epoch.
    void SetTimeWindow(double x0Ms, double x1Ms);

    int rtti() const override { return QwtPlotItem::Rtti_PlotUserItem; }
    QRectF boundingRect() const override;
    void draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
              const QRectF &canvasRect) const override;
    QwtGraphic legendIcon(int index, const QSizeF &size) const override;

private:
    // The thinned lines for this time and width, made again only when the
    // time, the width or the history changed: the scales and the drawing of
    // one redraw share them.
    const ThinnedLines &Thinned(double from, double to, int columns) const;

    const SampleHistory &history;
    ChartValue value;
    QPen pen;
    double fullRange;
    double x0 = 0;
    double x1 = 0;
    mutable ThinnedLines thinned;
    mutable double thinnedFrom = 0;
    mutable double thinnedTo = 0;
    mutable int thinnedColumns = -1;
    mutable quint64 thinnedRevision = 0;
};

// A vertical line at each output switch: green where it was switched on, red
// where off.
class ChartSwitchItem : public QwtPlotItem
{
public:
    explicit ChartSwitchItem(const SampleHistory &history);

    int rtti() const override { return QwtPlotItem::Rtti_PlotUserItem + 1; }
    void draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
              const QRectF &canvasRect) const override;

private:
    const SampleHistory &history;
};
