#pragma once

#include "records.h"
#include "samplehistory.h"

#include <QObject>

class QAbstractButton;
class QComboBox;
class QwtPlot;
class ChartPlotView;

// The widgets of the chart page.
struct LiveChartControls {
    QwtPlot *plot = nullptr;
    QComboBox *span = nullptr;          // 1 min, 10 min, 1 h, everything
    QAbstractButton *pause = nullptr;   // checkable: the view stands still
    QAbstractButton *save = nullptr;
};

// The chart page: records what the window reads and shows it on the page's
// plot. The plot is redrawn only while shown; recording goes on while the
// view is paused or hidden.
class LiveChart : public QObject
{
    Q_OBJECT

public:
    LiveChart(const LiveChartControls &controls, QWidget *window);
    ~LiveChart() override;

    // A connect, or another supply: the line breaks.
    void Connected();
    // A good status read: one sample, now.
    void AddStatus(const StatusRecord &status);
    // A status read that failed: the line breaks.
    void AddReadFailure();
    // An acknowledged output switch.
    void AddSwitch(bool on);
    // The supply's set-points, read or acknowledged; they go with every
    // sample from now on, until forgotten (a new connection or address).
    void SetSetpoints(double volts, double amperes);
    void ForgetSetpoints();

    const SampleHistory &History() const { return history; }
    // What the image of a save holds: the span on screen or all the history.
    enum class ImageSpan { Visible, Whole };
    // Writes the page's chart as a PNG image, titled with its dates and which
    // span it holds, and all the samples as CSV; false when either file could
    // not be written (an old file is then intact).
    bool SaveFiles(const QString &pngPath, const QString &csvPath, ImageSpan span = ImageSpan::Visible);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void Redraw();
    void SetPaused(bool paused);
    void Save();

private:
    qint64 Now();
    void ShowOn(ChartPlotView *view);
    void ShowSpan(ChartPlotView *view, qint64 left, qint64 right);

    QWidget *window;
    LiveChartControls controls;
    SampleHistory history;
    ChartPlotView *pageView = nullptr;
    qint64 latestMs = 0;   // the clock never goes back within the history
    bool setpointsKnown = false;
    double voltsSet = 0;
    double amperesSet = 0;
    bool paused = false;
    qint64 frozenRightMs = 0;  // right edge of the view while paused
    QString lastDir;
};
