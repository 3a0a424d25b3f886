#include "livechart.h"

#include "chartfiles.h"
#include "chartplotview.h"
#include "units.h"

#include <qwt_plot.h>
#include <qwt_text.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QVBoxLayout>

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
    connect(controls.separate, &QAbstractButton::clicked, this, &LiveChart::ShowSeparateWindow);
}

LiveChart::~LiveChart()
{
    // The views' items refer to the history, which goes with this object.
    delete pageView;
    delete separateView;
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
    history.BreakLine();
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
    if (separateWindow && separateWindow->isVisible())
        ShowOn(separateView);
}

void LiveChart::ShowOn(ChartPlotView *view)
{
    const int n = history.Size();
    const qint64 right = paused ? frozenRightMs : (n > 0 ? history.At(n - 1).clockMs : Now());
    const int index = std::clamp(controls.span->currentIndex(), 0, int(std::size(SpanMs)) - 1);
    qint64 left = SpanMs[index] > 0 ? right - SpanMs[index] : (n > 0 ? history.At(0).clockMs : right);
    left = std::min(left, right - 1000);  // a scale needs some width
    view->Show(double(left), double(right));
}

void LiveChart::SetPaused(bool pause)
{
    const int n = history.Size();
    frozenRightMs = n > 0 ? history.At(n - 1).clockMs : Now();
    paused = pause;
    Redraw();
}

bool LiveChart::eventFilter(QObject *watched, QEvent *event)
{
    // A plot shown again catches up with what was recorded while hidden.
    if (event->type() == QEvent::Show) {
        if (watched == controls.plot)
            ShowOn(pageView);
        else if (separateView && watched == separateView->Plot())
            ShowOn(separateView);
    }
    return QObject::eventFilter(watched, event);
}

bool LiveChart::SaveFiles(const QString &pngPath, const QString &csvPath)
{
    ShowOn(pageView);
    // The time axis shows clock times only: the image names its dates.
    const QwtText title = controls.plot->title();
    controls.plot->setTitle(ShownDates(controls.plot));
    const bool image = SaveChartPng(pngPath, controls.plot, ImageWidth, ImageHeight);
    controls.plot->setTitle(title);
    const bool table = SaveChartCsv(csvPath, history);
    return image && table;
}

void LiveChart::Save()
{
    const QString startDir = lastDir.isEmpty() ? QDir::currentPath() : lastDir;
    const QString chosen = QFileDialog::getSaveFileName(
        window, tr("Сохранить график"), startDir + QStringLiteral("/chart.png"),
        tr("Изображение PNG и таблица CSV (*.png)"));
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    lastDir = info.path();
    // One name for both files: the image and the table beside it.
    const bool typed = info.suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0
                       || info.suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0;
    const QString base = typed ? info.path() + QLatin1Char('/') + info.completeBaseName() : chosen;
    if (!SaveFiles(base + QStringLiteral(".png"), base + QStringLiteral(".csv")))
        QMessageBox::warning(window, tr("Ошибка"), tr("Не удается сохранить файл"));
}

void LiveChart::ShowSeparateWindow()
{
    if (!separateWindow) {
        // A child of the main window: it closes with it and does not keep
        // the program running on its own.
        separateWindow = new QWidget(window, Qt::Window);
        separateWindow->setWindowTitle(tr("График"));
        separateWindow->resize(900, 520);
        auto *layout = new QVBoxLayout(separateWindow);
        auto *plot = new QwtPlot(separateWindow);
        layout->addWidget(plot);
        separateView = new ChartPlotView(plot, history, this);
        plot->installEventFilter(this);
    }
    separateWindow->show();
    separateWindow->raise();
    separateWindow->activateWindow();
}
