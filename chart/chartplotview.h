#pragma once

#include <QObject>
#include <QPointer>
#include <QRectF>

class QwtPlot;
class QwtPlotPicker;
class ChartCurveItem;
class ChartSwitchItem;
class SampleHistory;

// The value axes' ranges: each from 0, or from below 0 when a reading is
// negative, with both zeros at the same height.
struct ValueScales {
    double voltsLow;
    double voltsHigh;
    double amperesLow;
    double amperesHigh;
};
// Scales for the bounding rectangles of the traces in the time shown (an
// invalid one when a trace shows nothing; top() is the lowest value).
ValueScales ZeroBasedScales(const QRectF &volts, const QRectF &amperes);

// Dresses a plot to show the history: voltage on the left axis, current on
// the right, clock time below, switch lines, and a cursor read-out of the
// nearest sample. The plot owns the items; the view must not outlive the
// history.
class ChartPlotView : public QObject
{
public:
    ChartPlotView(QwtPlot *plot, const SampleHistory &history, QObject *parent = nullptr);
    ~ChartPlotView() override;

    QwtPlot *Plot() const { return plot; }
    // Shows this time (ms since the epoch) and redraws.
    void Show(double x0Ms, double x1Ms);

private:
    QPointer<QwtPlot> plot;
    ChartCurveItem *volts = nullptr;
    ChartCurveItem *amperes = nullptr;
    ChartSwitchItem *switches = nullptr;
    QPointer<QwtPlotPicker> picker;
};
