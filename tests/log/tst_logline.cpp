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

    // The window drives the stamp forms; a day of recording it cannot.
    void secondsFormCountsOnPastADay()
    {
        // The running time has wrapped at 24 hours; the seconds go on.
        LogClocks clocks;
        clocks.running = QTime(0, 0, 5, 999);
        clocks.msSinceStart = 86405999;
        QCOMPARE(LogStamp(2, clocks), QStringLiteral("86405"));
        QCOMPARE(LogStamp(0, clocks), QStringLiteral("00:00:05"));
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
