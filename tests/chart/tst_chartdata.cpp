#include "chartfiles.h"
#include "chartplotview.h"
#include "columnthinning.h"
#include "filetext.h"
#include "samplehistory.h"
#include "testmain.h"

#include <qwt_plot.h>

#include <QDateTime>
#include <QTemporaryDir>

#include <ctime>

namespace {

ChartSample At(qint64 clockMs, double volts = 0)
{
    ChartSample s;
    s.clockMs = clockMs;
    s.volts = volts;
    return s;
}

}  // namespace

class ChartDataTest : public QObject
{
    Q_OBJECT

private slots:
    void ringStaysBoundedAndKeepsTheNewest()
    {
        SampleHistory history(4);
        history.Append(At(1000));
        history.AddSwitch({1500, true});
        for (qint64 t = 2000; t <= 9000; t += 1000)
            history.Append(At(t));
        history.AddSwitch({9500, false});
        QList<qint64> clocks;
        for (int i = 0; i < history.Size(); ++i)
            clocks << history.At(i).clockMs;
        QCOMPARE(clocks, (QList<qint64>{6000, 7000, 8000, 9000}));
        // The switch before the oldest sample went with it.
        QList<qint64> switches;
        for (const auto &change : history.Switches())
            switches << change.clockMs;
        QCOMPARE(switches, QList<qint64>{9500});
        // A clock set back does not reorder the samples.
        history.Append(At(5000));
        QCOMPARE(std::make_pair(history.At(0).clockMs, history.At(3).clockMs), std::make_pair(qint64(7000), qint64(9000)));
        QCOMPARE(std::make_pair(history.Nearest(7400), history.Nearest(7600)), std::make_pair(0, 1));
    }

    void thinningKeepsOneSampleSpikesAndBreaks()
    {
        SampleHistory history;
        for (int t = 0; t < 20000; ++t) {
            if (t == 12000)
                history.BreakLine();
            const double v = t == 10007 ? 17.5 : t == 15003 ? 0.5 : 5.0;
            history.Append(At(t, v));
        }
        const ThinnedLines lines = ThinToColumns(history, ChartValue::Volts, 0, 20000, 300);
        QVERIFY(lines.points.size() <= 4 * 300);
        double low = 1e9;
        double high = -1e9;
        for (const QPointF &p : lines.points) {
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
        QCOMPARE(std::make_pair(low, high), std::make_pair(0.5, 17.5));
        // Two lines, split exactly at the break.
        QCOMPARE(lines.starts.size(), 2);
        QCOMPARE(lines.starts.at(0), 0);
        QCOMPARE(lines.points.at(lines.starts.at(1) - 1).x(), 11999.0);
        QCOMPARE(lines.points.at(lines.starts.at(1)).x(), 12000.0);
    }

    // Nothing to scale to: the supply's ranges. Readings that are never
    // negative: both axes from zero, with room above the highest. A negative
    // reading takes its axis below zero, and the other follows, so that both
    // zeros stay at one height.
    void axesStartAtZeroWithTheirZerosLevel()
    {
        const qint64 t0 = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)).toMSecsSinceEpoch();
        SampleHistory history;
        QwtPlot plot;
        plot.resize(600, 400);
        ChartPlotView view(&plot, history);
        view.Show(double(t0), double(t0 + 60000));
        QwtInterval volts = plot.axisInterval(QwtPlot::yLeft);
        QwtInterval amperes = plot.axisInterval(QwtPlot::yRight);
        QCOMPARE((QList<double>{volts.minValue(), volts.maxValue(), amperes.minValue(), amperes.maxValue()}),
                 (QList<double>{0, 30, 0, 10}));

        for (qint64 t = t0; t < t0 + 60000; t += 500) {
            const bool high = (t - t0) / 500 % 2;
            ChartSample s = At(t, high ? 5.0 : 4.0);
            s.amperes = high ? 0.5 : 0.4;
            history.Append(s);
        }
        view.Show(double(t0), double(t0 + 60000));
        volts = plot.axisInterval(QwtPlot::yLeft);
        amperes = plot.axisInterval(QwtPlot::yRight);
        QCOMPARE(std::make_pair(volts.minValue(), amperes.minValue()), std::make_pair(0.0, 0.0));
        QVERIFY2(volts.maxValue() > 5.0 && amperes.maxValue() > 0.5,
                 qPrintable(QStringLiteral("%1 V, %2 A").arg(volts.maxValue()).arg(amperes.maxValue())));

        ChartSample negative = At(t0 + 60000, 4.0);
        negative.amperes = -0.1;
        history.Append(negative);
        view.Show(double(t0), double(t0 + 61000));
        volts = plot.axisInterval(QwtPlot::yLeft);
        amperes = plot.axisInterval(QwtPlot::yRight);
        QVERIFY(amperes.minValue() < -0.1 && volts.minValue() < 0);
        const double voltsZero = -volts.minValue() / volts.width();
        const double amperesZero = -amperes.minValue() / amperes.width();
        QVERIFY2(qAbs(voltsZero - amperesZero) < 1e-9,
                 qPrintable(QStringLiteral("%1 against %2").arg(voltsZero).arg(amperesZero)));
    }

    // A save that fails keeps the old files: tst_chartwindow, through the window.
    void savesPointsAndImage()
    {
        const qint64 t0 = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 250)).toMSecsSinceEpoch();
        SampleHistory history;
        ChartSample a = At(t0, 12.34);
        a.amperes = 0.1234;
        a.cv = a.output = true;
        history.Append(a);
        // Another connect in between: the seconds go on counting.
        history.BreakLine();
        ChartSample b = At(t0 + 60500, 12.3);
        b.setpointsKnown = true;
        b.voltsSet = 12.5;
        b.amperesSet = 1.5;
        b.amperes = 1.5;
        b.cc = b.output = true;
        history.Append(b);
        QwtPlot plot;
        ChartPlotView view(&plot, history);
        view.Show(double(t0 - 1000), double(t0 + 61000));

        QTemporaryDir dir;
        const QString csv = dir.filePath("run.csv");
        const QString png = dir.filePath("run.png");
        QVERIFY(SaveChartCsv(csv, history));
        QCOMPARE(ReadFile(csv), QByteArray("time,seconds,voltage_V,current_A,CV,CC,output,"
                                          "voltage_set_V,current_set_A\n"
                                          "2026-03-04 05:06:07.250,0.000,12.34,0.1234,1,0,1,,\n"
                                          "2026-03-04 05:07:07.750,60.500,12.30,1.5000,0,1,1,"
                                          "12.500,1.500\n"));
        QVERIFY(SaveChartPng(png, &plot, 400, 300));
        QCOMPARE(QImage(png).size(), QSize(400, 300));
    }

    void csvTimesFollowTheLocalClockAcrossSummerTime()
    {
#ifdef Q_OS_WIN
        QSKIP("a process's time zone is set through TZ on POSIX systems only");
#endif
        const QByteArray savedZone = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        SampleHistory history;
        const qint64 change = QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
        history.Append(At(change - 500));
        history.Append(At(change));
        QTemporaryDir dir;
        const bool saved = SaveChartCsv(dir.filePath("run.csv"), history);
        qputenv("TZ", savedZone);
        tzset();
        QVERIFY(saved);
        // As date(1) shows them in that zone: the clock skips 02:00 to 03:00.
        const QList<QByteArray> lines = ReadFile(dir.filePath("run.csv")).split('\n');
        QVERIFY(lines.value(1).startsWith("2026-03-29 01:59:59.500,"));
        QVERIFY(lines.value(2).startsWith("2026-03-29 03:00:00.000,"));
    }
};

PANEL_TEST_MAIN(ChartDataTest)
#include "tst_chartdata.moc"
