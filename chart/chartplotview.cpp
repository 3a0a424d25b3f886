#include "chartplotview.h"

#include "chartitems.h"
#include "samplehistory.h"
#include "units.h"

#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_picker.h>
#include <qwt_picker_machine.h>
#include <qwt_text.h>

#include <QDateTime>

#include <algorithm>

namespace {

const QColor VoltsColor(0, 70, 200);
const QColor AmperesColor(210, 60, 0);
// With a resistive load both traces scale alike and lie on each other: the
// current is dashed, so the voltage shows through its gaps. Both stay one
// pixel wide: a wider pen makes a long history's drawing several times slower.
const QPen VoltsPen(VoltsColor, 1, Qt::SolidLine);
const QPen AmperesPen(AmperesColor, 1, Qt::DashLine);
// The supply's ranges, shown while there is nothing to scale to: the current's
// rounded up to a whole ampere.
constexpr double FullVolts = MaxSetpointVolts;
constexpr double FullAmperes = 10.0;

// Shows the time and both values of the sample nearest the cursor.
class NearestSamplePicker : public QwtPlotPicker
{
public:
    NearestSamplePicker(QWidget *canvas, const SampleHistory &history)
        : QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::NoRubberBand,
                        QwtPicker::AlwaysOn, canvas),
          history(history)
    {
        setStateMachine(new QwtPickerTrackerMachine);
        setTrackerPen(QPen(Qt::black));
    }

protected:
    QwtText trackerTextF(const QPointF &position) const override
    {
        const int i = history.Nearest(position.x());
        if (i < 0)
            return QwtText();
        const ChartSample &s = history.At(i);
        const QString time = QDateTime::fromMSecsSinceEpoch(s.clockMs).toString(QStringLiteral("HH:mm:ss"));
        QwtText text(QStringLiteral("%1\n%2 V  %3 A")
                         .arg(time, QString::number(s.volts, 'f', 2),
                              QString::number(s.amperes, 'f', 4)));
        text.setBackgroundBrush(QColor(255, 255, 255, 220));
        return text;
    }

private:
    const SampleHistory &history;
};

void SetAxisTitle(QwtPlot *plot, int axis, const QString &title, const QColor &color)
{
    QwtText text(title);
    text.setColor(color);
    QFont font = plot->axisFont(axis);
    text.setFont(font);
    plot->setAxisTitle(axis, text);
}

}  // namespace

ChartPlotView::ChartPlotView(QwtPlot *plot, const SampleHistory &history, QObject *parent)
    : QObject(parent), plot(plot)
{
    plot->setAutoReplot(false);
    plot->setCanvasBackground(Qt::white);
    if (auto *canvas = qobject_cast<QwtPlotCanvas *>(plot->canvas()))
        canvas->setFrameStyle(QFrame::Box | QFrame::Plain);

    plot->enableAxis(QwtPlot::yRight);
    SetAxisTitle(plot, QwtPlot::yLeft, QStringLiteral("U, V"), VoltsColor);
    SetAxisTitle(plot, QwtPlot::yRight, QStringLiteral("I, A"), AmperesColor);
    // Clock time only, one line per label: the page is narrow.
    auto *timeDraw = new QwtDateScaleDraw(Qt::LocalTime);
    timeDraw->setDateFormat(QwtDate::Millisecond, QStringLiteral("HH:mm:ss.zzz"));
    timeDraw->setDateFormat(QwtDate::Second, QStringLiteral("HH:mm:ss"));
    timeDraw->setDateFormat(QwtDate::Minute, QStringLiteral("HH:mm"));
    timeDraw->setDateFormat(QwtDate::Hour, QStringLiteral("HH:mm"));
    timeDraw->setDateFormat(QwtDate::Day, QStringLiteral("dd.MM HH:mm"));
    plot->setAxisScaleDraw(QwtPlot::xBottom, timeDraw);
    plot->setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::LocalTime));
    plot->setAxisMaxMajor(QwtPlot::xBottom, 3);
    // A minute up to now until the first drawing: the default scale, one
    // second of the epoch in milliseconds, asks for a plot some 1200 px wide.
    const double now = double(QDateTime::currentMSecsSinceEpoch());
    plot->setAxisScale(QwtPlot::xBottom, now - 60000, now);

    switches = new ChartSwitchItem(history);
    switches->attach(plot);
    volts = new ChartCurveItem(history, ChartValue::Volts, VoltsPen, FullVolts);
    volts->setTitle(QStringLiteral("U, V"));
    volts->setItemAttribute(QwtPlotItem::Legend, true);
    volts->setAxes(QwtPlot::xBottom, QwtPlot::yLeft);
    volts->attach(plot);
    amperes = new ChartCurveItem(history, ChartValue::Amperes, AmperesPen, FullAmperes);
    amperes->setTitle(QStringLiteral("I, A"));
    amperes->setItemAttribute(QwtPlotItem::Legend, true);
    amperes->setAxes(QwtPlot::xBottom, QwtPlot::yRight);
    amperes->attach(plot);
    if (!plot->legend())
        plot->insertLegend(new QwtLegend, QwtPlot::TopLegend);

    picker = new NearestSamplePicker(plot->canvas(), history);
    // The plot's own minimum follows its time axis's labels, which can ask
    // for more than a screen's width; a window holding it stays resizable.
    plot->setMinimumSize(240, 160);
}

ChartPlotView::~ChartPlotView()
{
    // Items and picker hold a reference to the history: they go with the view
    // unless the plot has taken them with it already.
    delete picker;
    if (plot) {
        delete volts;
        delete amperes;
        delete switches;
    }
}

ValueScales ZeroBasedScales(const QRectF &volts, const QRectF &amperes)
{
    // Nothing in the time shown: the supply's ranges.
    ValueScales scales{0, volts.isValid() ? volts.bottom() : FullVolts, 0,
                       amperes.isValid() ? amperes.bottom() : FullAmperes};
    if (volts.isValid() && volts.top() < 0)
        scales.voltsLow = volts.top();
    if (amperes.isValid() && amperes.top() < 0)
        scales.amperesLow = amperes.top();
    // A flat trace at zero still needs a scale.
    scales.voltsHigh = std::max(scales.voltsHigh, scales.voltsLow + FullVolts * 0.01);
    scales.amperesHigh = std::max(scales.amperesHigh, scales.amperesLow + FullAmperes * 0.01);
    // Both zeros at one height: the share of the height below zero is the
    // larger of the two, and the other scale reaches down to match it.
    const double voltsBelow = -scales.voltsLow / (scales.voltsHigh - scales.voltsLow);
    const double amperesBelow = -scales.amperesLow / (scales.amperesHigh - scales.amperesLow);
    const double below = std::max(voltsBelow, amperesBelow);
    if (below > 0) {
        scales.voltsLow = -below * scales.voltsHigh / (1 - below);
        scales.amperesLow = -below * scales.amperesHigh / (1 - below);
    }
    return scales;
}

void ChartPlotView::Show(double x0Ms, double x1Ms)
{
    if (!plot)
        return;
    volts->SetTimeWindow(x0Ms, x1Ms);
    amperes->SetTimeWindow(x0Ms, x1Ms);
    plot->setAxisScale(QwtPlot::xBottom, x0Ms, x1Ms);
    const ValueScales scales = ZeroBasedScales(volts->boundingRect(), amperes->boundingRect());
    plot->setAxisScale(QwtPlot::yLeft, scales.voltsLow, scales.voltsHigh);
    plot->setAxisScale(QwtPlot::yRight, scales.amperesLow, scales.amperesHigh);
    plot->replot();
}
