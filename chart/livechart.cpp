#include "livechart.h"

#include "chartfiles.h"
#include "chartplotview.h"
#include "savefiledialog.h"
#include "units.h"

#include <qwt_plot.h>
#include <qwt_text.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>

namespace {

// The spans of the span box, in its order; 0 is everything recorded.
constexpr qint64 SpanMs[] = {60 * 1000, 600 * 1000, 3600 * 1000, 0};
constexpr int ImageWidth = 1200;
constexpr int ImageHeight = 700;

// The local date of the plot's time axis, or its first and last dates.
QString ShownDates(QwtPlot *plot)
{
    const QwtInterval shown = plot->axisInterval(QwtPlot::xBottom);
    const QString format = QStringLiteral("yyyy-MM-dd");
    const QString first = QDateTime::fromMSecsSinceEpoch(qint64(shown.minValue())).toString(format);
    const QString last = QDateTime::fromMSecsSinceEpoch(qint64(shown.maxValue())).toString(format);
    return first == last ? first : first + QStringLiteral(" – ") + last;
}

}  // namespace

LiveChart::LiveChart(const LiveChartControls &controls, QWidget *window)
    : QObject(window), window(window), controls(controls)
{
    pageView = new ChartPlotView(controls.plot, history, this);
    controls.plot->installEventFilter(this);
    controls.pause->setCheckable(true);
    connect(controls.span, qOverload<int>(&QComboBox::currentIndexChanged), this, &LiveChart::Redraw);
    connect(controls.pause, &QAbstractButton::toggled, this, &LiveChart::SetPaused);
    connect(controls.save, &QAbstractButton::clicked, this, &LiveChart::Save);
}

LiveChart::~LiveChart()
{
    // The view's items refer to the history, which goes with this object.
    delete pageView;
}

qint64 LiveChart::Now()
{
    latestMs = std::max(latestMs, QDateTime::currentMSecsSinceEpoch());
    return latestMs;
}

void LiveChart::Connected()
{
    history.BreakLine();
}

void LiveChart::AddStatus(const StatusRecord &status)
{
    ChartSample sample;
    sample.clockMs = Now();
    sample.volts = OutputVolts(status);
    sample.amperes = OutputAmperes(status);
    sample.cv = status.CvFlag != 0;
    sample.cc = status.CcFlag != 0;
    sample.output = status.OutputOn != 0;
    sample.setpointsKnown = setpointsKnown;
    sample.voltsSet = voltsSet;
    sample.amperesSet = amperesSet;
    history.Append(sample);
    if (!paused)
        Redraw();
}

void LiveChart::AddReadFailure()
{
    // The time goes on without readings: the axis moves and the gap shows.
    history.BreakLine();
    if (!paused)
        Redraw();
}

void LiveChart::AddSwitch(bool on)
{
    history.AddSwitch({Now(), on});
}

void LiveChart::SetSetpoints(double volts, double amperes)
{
    setpointsKnown = true;
    voltsSet = volts;
    amperesSet = amperes;
}

void LiveChart::ForgetSetpoints()
{
    setpointsKnown = false;
}

void LiveChart::Redraw()
{
    if (controls.plot->isVisible())
        ShowOn(pageView);
}

void LiveChart::ShowOn(ChartPlotView *view)
{
    // While following, the right edge is now, not the newest sample: a
    // supply that stopped answering shows as time without a line.
    const int n = history.Size();
    const qint64 right = paused ? frozenRightMs : Now();
    const int index = std::clamp(controls.span->currentIndex(), 0, int(std::size(SpanMs)) - 1);
    const qint64 left = SpanMs[index] > 0 ? right - SpanMs[index] : (n > 0 ? history.At(0).clockMs : right);
    ShowSpan(view, left, right);
}

void LiveChart::ShowSpan(ChartPlotView *view, qint64 left, qint64 right)
{
    left = std::min(left, right - 1000);  // a scale needs some width
    view->Show(double(left), double(right));
}

void LiveChart::SetPaused(bool pause)
{
    frozenRightMs = Now();
    paused = pause;
    Redraw();
}

bool LiveChart::eventFilter(QObject *watched, QEvent *event)
{
    // A plot shown again catches up with what was recorded while hidden.
    if (event->type() == QEvent::Show && watched == controls.plot)
        ShowOn(pageView);
    return QObject::eventFilter(watched, event);
}

bool LiveChart::SaveFiles(const QString &pngPath, const QString &csvPath, ImageSpan span)
{
    const int n = history.Size();
    if (span == ImageSpan::Whole && n > 0)
        ShowSpan(pageView, history.At(0).clockMs, std::max(history.At(n - 1).clockMs, latestMs));
    else
        ShowOn(pageView);
    // The time axis shows clock times only: the image names its dates, and
    // whether it holds what was on screen or everything recorded (the table
    // always holds everything).
    const QwtText title = controls.plot->title();
    controls.plot->setTitle(ShownDates(controls.plot) + QStringLiteral(", ")
                            + (span == ImageSpan::Whole ? tr("вся запись") : tr("видимый участок")));
    const bool image = SaveChartPng(pngPath, controls.plot, ImageWidth, ImageHeight);
    controls.plot->setTitle(title);
    ShowOn(pageView);
    const bool table = SaveChartCsv(csvPath, history);
    return image && table;
}

void LiveChart::Save()
{
    const QString startDir = lastDir.isEmpty() ? QDir::currentPath() : lastDir;
    const QStringList filters = {tr("Видимый участок: PNG и CSV (*.png)"),
                                 tr("Вся запись: PNG и CSV (*.png)")};
    QString filter;
    const QString chosen =
        ChooseSaveFile(controls.plot->window(), tr("Сохранить график"), startDir + QStringLiteral("/chart.png"), filters, &filter);
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    lastDir = info.path();
    // One name for both files: the image and the table beside it.
    const bool typed = info.suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0
                       || info.suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0;
    const QString base = typed ? info.path() + QLatin1Char('/') + info.completeBaseName() : chosen;
    const ImageSpan span = filter == filters.at(1) ? ImageSpan::Whole : ImageSpan::Visible;
    if (!SaveFiles(base + QStringLiteral(".png"), base + QStringLiteral(".csv"), span))
        QMessageBox::warning(controls.plot->window(), tr("Ошибка"), tr("Не удается сохранить файл"));
}
