#include "logline.h"
#include "logperiod.h"
#include "testmain.h"

#include <QLocale>

Q_DECLARE_METATYPE(LogReading)

class TestLogLine : public QObject
{
    Q_OBJECT

private slots:
    void valueLine_data()
    {
        QTest::addColumn<LogReading>("reading");
        QTest::addColumn<bool>("comma");
        QTest::addColumn<QString>("line");
        StatusRecord status;
        status.Voltage = 500;
        status.Current = 250;
        QTest::newRow("display") << DisplayReading(status) << false << "5.000 0.2500\n";
        QTest::newRow("display comma") << DisplayReading(status) << true << "5,000 0,2500\n";
        status.CurrentFine = 1;
        QTest::newRow("display fine") << DisplayReading(status) << false << "5.000 0.0250\n";
        status.CurrentFine = 0;
        status.Current = -250;
        QTest::newRow("negative current") << DisplayReading(status) << false << "5.000 -0.2500\n";
        MeasurementRecord measurement;
        measurement.Vsdadc = 750;
        measurement.Csdadc = 120;
        QTest::newRow("adc") << AdcReading(measurement) << false << "0.750 0.1200\n";
        measurement.Vsdadc = 29999;
        measurement.Csdadc = 9999;
        QTest::newRow("adc, no grouping") << AdcReading(measurement) << false << "29.999 9.9990\n";
    }

    void valueLine()
    {
        QFETCH(LogReading, reading);
        QFETCH(bool, comma);
        QFETCH(QString, line);
        // A comma-decimal default locale must not leak into the file format.
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(ValueLine(reading, comma), line);
        QLocale::setDefault(QLocale::c());
    }

    void stamps_data()
    {
        QTest::addColumn<bool>("addTime");
        QTest::addColumn<int>("form");
        QTest::addColumn<bool>("comma");
        QTest::addColumn<QString>("text");
        QTest::newRow("no stamp") << false << 0 << false << "5.000 0.2500\n";
        QTest::newRow("running") << true << 0 << false << "01:02:03 5.000 0.2500\n";
        QTest::newRow("running, comma") << true << 0 << true << "01:02:03 5,000 0,2500\n";
        QTest::newRow("minutes drop hours") << true << 1 << false << "02:03 5.000 0.2500\n";
        QTest::newRow("seconds") << true << 2 << false << "3725 5.000 0.2500\n";
        QTest::newRow("clock") << true << 3 << false << "00:00:07 5.000 0.2500\n";
        QTest::newRow("no item") << true << -1 << false << " 5.000 0.2500\n";
        QTest::newRow("unknown form") << true << 4 << true << " 5,000 0,2500\n";
    }

    void stamps()
    {
        QFETCH(bool, addTime);
        QFETCH(int, form);
        QFETCH(bool, comma);
        QFETCH(QString, text);
        LogSettings settings;
        settings.AddTime = addTime;
        settings.TimeForm = form;
        settings.commeDotLog = comma;
        // Started at 23:57:58 the day before: the clock has passed midnight,
        // the seconds form must still count forward from the start.
        LogClocks clocks;
        clocks.running = QTime(1, 2, 3, 999);
        clocks.msSinceStart = 3725999;
        clocks.tickTime = QTime(0, 0, 7);
        QCOMPARE(LogText(settings, clocks, LogReading{5.0, 0.25}), text);
    }

    void elapsedTimeWrapsAndNullStaysNull()
    {
        QVERIFY(AddElapsed(QTime(), 5000).isNull());
        QCOMPARE(AddElapsed(QTime(23, 59, 59, 500), 1000), QTime(0, 0, 0, 500));
        // A pause of 30 days and 5 ms must not overflow the addition.
        const qint64 days30 = qint64(30) * 24 * 3600 * 1000;
        QCOMPARE(AddElapsed(QTime(0, 0), days30 + 5), QTime(0, 0, 0, 5));
    }

    void boundaryDropsTheExcess()
    {
        QTime elapsed;
        QVERIFY(!TakePeriodBoundary(elapsed, QTime(0, 0, 1)));  // before any start
        QVERIFY(elapsed.isNull());

        // 300 ms ticks against a one-second period: a boundary at every
        // fourth tick, since the 200 ms beyond each boundary are dropped.
        elapsed = QTime(0, 0);
        QList<int> boundaries;
        for (int tick = 1; tick <= 12; ++tick) {
            elapsed = AddElapsed(elapsed, 300);
            if (TakePeriodBoundary(elapsed, QTime(0, 0, 1))) {
                boundaries << tick;
                QCOMPARE(elapsed, QTime(0, 0));
            }
        }
        QCOMPARE(boundaries, (QList<int>{4, 8, 12}));

        elapsed = QTime(0, 0, 0, 999);
        QVERIFY(!TakePeriodBoundary(elapsed, QTime(0, 0, 1)));
        QCOMPARE(elapsed, QTime(0, 0, 0, 999));
        elapsed = QTime(0, 0, 1);
        QVERIFY(TakePeriodBoundary(elapsed, QTime(0, 0, 1)));
    }
};

PANEL_TEST_MAIN(TestLogLine)
#include "tst_logline.moc"
