// Time to draw the chart page with a full history: the real form's chart page
// on a shown window, each span of the span box, as while following the supply:
// one sample added (the oldest dropped), the scales set, the plot redrawn and
// the whole page rendered into an image of its size; median and slowest of
// the repeats, in elapsed time and in the thread's own processor time (which
// other processes on a busy machine do not inflate). The history holds its full capacity of samples, one
// per 500 ms (the status read rate), with a failed read every ten minutes and
// an output switch every hour; run with --rate 4 for one per 250 ms.

#include "chartfiles.h"
#include "chartplotview.h"
#include "mainwindowform.h"
#include "samplehistory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>
#include <QTabWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int Repeats = 41;

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Add(SampleHistory &history, qint64 stepMs, int i)
{
    const qint64 start = 1767225600000;  // 2026-01-01 00:00 UTC
    {
        const qint64 t = start + i * stepMs;
        if (i % int(600000 / stepMs) == 0)
            history.BreakLine();
        if (i % int(3600000 / stepMs) == 0)
            history.AddSwitch({t, (i / int(3600000 / stepMs)) % 2 == 0});
        ChartSample s;
        s.clockMs = t;
        s.volts = 12.0 + 2.0 * std::sin(i * 1e-4) + ((i * 7919) % 13) * 0.01;
        s.amperes = 0.5 + 0.4 * std::cos(i * 3e-4) + ((i * 104729) % 17) * 0.0001;
        s.output = true;
        history.Append(s);
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool fast = app.arguments().contains(QStringLiteral("--rate"))
                      && app.arguments().value(app.arguments().indexOf(QStringLiteral("--rate")) + 1)
                             == QStringLiteral("4");
    const qint64 stepMs = fast ? 250 : 500;

    SampleHistory history(fast ? 2 * SampleHistory::DefaultCapacity : SampleHistory::DefaultCapacity);
    int added = 0;
    while (added < history.Capacity())
        Add(history, stepMs, added++);
    const double hours = (history.At(history.Size() - 1).clockMs - history.At(0).clockMs) / 3600000.0;

    QMainWindow window;
    MainWindowForm form;
    form.setup(&window);
    form.tabWidget->setCurrentIndex(5);
    window.show();
    QApplication::processEvents();
    ChartPlotView view(form.qwtPlotChart, history);
    QWidget *page = form.tab_6;
    QImage image(page->size(), QImage::Format_ARGB32_Premultiplied);
    std::printf("%d samples, one per %lld ms, %.1f hours; page %dx%d, plot %dx%d\n",
                history.Size(), stepMs, hours, page->width(), page->height(),
                form.qwtPlotChart->width(), form.qwtPlotChart->height());

    const struct {
        const char *name;
        qint64 spanMs;
    } spans[] = {{"1 min", 60000}, {"10 min", 600000}, {"1 h", 3600000}, {"all", 0}};
    for (const auto &span : spans) {
        std::vector<double> ms;
        std::vector<double> cpu;
        for (int r = 0; r < Repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            const double cpu0 = ThreadCpuMs();
            Add(history, stepMs, added++);
            const qint64 newest = history.At(history.Size() - 1).clockMs;
            const qint64 left = span.spanMs > 0 ? newest - span.spanMs : history.At(0).clockMs;
            view.Show(double(left), double(newest));
            page->render(&image);
            ms.push_back(timer.nsecsElapsed() / 1e6);
            cpu.push_back(ThreadCpuMs() - cpu0);
        }
        std::printf("span %-6s: median %.2f ms (processor %.2f ms), slowest %.2f ms over %d draws\n",
                    span.name, Median(ms), Median(cpu), *std::max_element(ms.begin(), ms.end()),
                    Repeats);
    }

    // Saving the whole history, as the page's Save does.
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    const bool csv = SaveChartCsv(dir.filePath(QStringLiteral("chart.csv")), history);
    const double csvMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    const bool png = SaveChartPng(dir.filePath(QStringLiteral("chart.png")), form.qwtPlotChart, 1200, 700);
    const double pngMs = timer.nsecsElapsed() / 1e6;
    std::printf("save: CSV %s in %.0f ms (%lld bytes), PNG %s in %.0f ms\n", csv ? "written" : "FAILED",
                csvMs, QFileInfo(dir.filePath(QStringLiteral("chart.csv"))).size(),
                png ? "written" : "FAILED", pngMs);
    return 0;
}
