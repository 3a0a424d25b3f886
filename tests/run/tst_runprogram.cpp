#include "runprogram.h"
#include "testmain.h"

class TestRunProgram : public QObject
{
    Q_OBJECT

private slots:
    void readsStepsWithColumnsInAnyOrder()
    {
        const RunProgram p = ParseRunProgram(
            "\xEF\xBB\xBF# soft start, then a charge\r\n"
            "Duration , VOLTAGE,current,Ramp,until,output\r\n"
            "\r\n"
            "1:00,12,1.5,30,,on\r\n"
            "  # a comment between steps\n"
            "01:02:03.5,4.2,\"0.5\",,current < 0.05,\n"
            "2.5,0.01,9.999,0,,OFF\n");
        QVERIFY2(p.ok(), qPrintable(p.errorText()));
        QStringList steps;
        for (const RunStep &step : p.steps)
            steps << QStringLiteral("%1 V %2 A %3 ms, ramp %4 ms, %5, until %6")
                         .arg(step.volts).arg(step.amperes).arg(step.durationMs).arg(step.rampMs)
                         .arg(step.outputOn ? "on" : "off", step.until ? step.until->text() : "-");
        QCOMPARE(steps, (QStringList{"12 V 1.5 A 60000 ms, ramp 30000 ms, on, until -",
                                     "4.2 V 0.5 A 3723500 ms, ramp 0 ms, on, until current<0.05",
                                     "0.01 V 9.999 A 2500 ms, ramp 0 ms, off, until -"}));
    }

    void refusesBadFilesWithTheLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("says");
        const QByteArray head = "# program\nvoltage,current,duration,until,ramp\n";
        QTest::newRow("unknown column") << QByteArray("\nvoltage,current,time\n1,1,1\n") << 2 << "unknown column \"time\"";
        QTest::newRow("missing column") << QByteArray("voltage,duration\n1,1\n") << 1 << "\"current\"";
        QTest::newRow("twice") << QByteArray("voltage,current,duration,Voltage\n") << 1 << "twice";
        QTest::newRow("missing value") << head + "5,,10,,\n" << 3 << "no value for \"current\"";
        QTest::newRow("too few fields") << head + "5,1,10\n" << 3 << "3 fields where the header has 5";
        QTest::newRow("voltage high") << head + "5,1,10,,\n30.01,1,10,,\n" << 4 << "voltage \"30.01\"";
        QTest::newRow("voltage zero") << head + "0,1,10,,\n" << 3
                                      << "voltage \"0\" is not a number from 0.01 to 30 V; 0.01 V is the supply's "
                                         "lowest set-point, so a ramp from 0 starts at 0.01";
        QTest::newRow("current high") << head + "5,10,10,,\n" << 3 << "current \"10\"";
        QTest::newRow("current word") << head + "5,one,10,,\n" << 3 << "current \"one\"";
        QTest::newRow("zero duration") << head + "5,1,0,,\n" << 3 << "duration \"0\"";
        QTest::newRow("negative duration") << head + "5,1,-3,,\n" << 3 << "duration";
        QTest::newRow("seconds 60") << head + "5,1,1:60,,\n" << 3 << "duration \"1:60\"";
        QTest::newRow("minutes 60") << head + "5,1,1:60:00,,\n" << 3 << "duration";
        QTest::newRow("four parts") << head + "5,1,1:1:1:1,,\n" << 3 << "duration";
        QTest::newRow("ramp too long") << head + "5,1,10,,11\n" << 3 << "longer than the step";
        QTest::newRow("bad ramp") << head + "5,1,10,,soon\n" << 3 << "ramp \"soon\"";
        QTest::newRow("bad output") << QByteArray("voltage,current,duration,output\n\n5,1,10,yes\n") << 3 << "output \"yes\"";
        QTest::newRow("condition op") << head + "5,1,10,current=0.1,\n" << 3 << "QUANTITY OP NUMBER";
        QTest::newRow("condition quantity") << head + "5,1,10,resistance<3,\n" << 3 << "unknown quantity \"resistance\"";
        QTest::newRow("condition number") << head + "5,1,10,current<0.1x,\n" << 3 << "\"0.1x\"";
        QTest::newRow("until out of reach") << head + "5,1,10,voltage>1000,\n" << 3
                                            << "condition \"voltage>1000\" is refused: voltage 1000 V is beyond "
                                               "the supply's 30 V";
        QTest::newRow("quote") << head + "5,\"1,10,,\n" << 3 << "quote";
        QTest::newRow("no steps") << head << 0 << "no steps";
        QTest::newRow("empty") << QByteArray("# nothing\n\n") << 0 << "no header";
    }

    void refusesBadFilesWithTheLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(QString, says);
        const RunProgram p = ParseRunProgram(text);
        QVERIFY(!p.ok());
        QVERIFY(p.steps.isEmpty());
        QCOMPARE(p.errorLine, line);
        QVERIFY2(p.error().contains(says), qPrintable(p.errorText()));
        if (line > 0)
            QVERIFY(p.errorText().startsWith(QStringLiteral("line %1: ").arg(line)));
    }

    void readsConditions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("normal");
        QTest::newRow("blanks") << " Voltage >= 12.5 " << "voltage>=12.5";
        QTest::newRow("power") << "power>100" << "power>100";
        QTest::newRow("temperature") << "temperature<=-5" << "temperature<=-5";
        QTest::newRow("charge") << "charge > 2.2" << "charge>2.2";
        QTest::newRow("energy") << "energy<1e3" << "energy<1000";
        QTest::newRow("elapsed") << "elapsed>3600" << "elapsed>3600";
        QTest::newRow("step charge") << "Step_Charge>=0.5" << "step_charge>=0.5";
        QTest::newRow("step energy") << "step_energy > 2" << "step_energy>2";
        QTest::newRow("step elapsed") << "step_elapsed<=0" << "step_elapsed<=0";
        QTest::newRow("ends of ranges") << "voltage>=30" << "voltage>=30";
        QTest::newRow("power's end") << "power<=300" << "power<=300";
    }

    // What the supply's ranges rule out, with why.
    void refusesConditionsOutOfReach_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        QTest::newRow("voltage") << "voltage>1000" << "voltage 1000 V is beyond the supply's 30 V";
        QTest::newRow("current") << "current<-3" << "current -3 A is outside the supply's 0 to 10 A";
        QTest::newRow("below nothing") << "current<0" << "current is never below 0 A";
        QTest::newRow("power") << "power>=300.5" << "power 300.5 W is beyond the supply's 300 W";
        QTest::newRow("charge") << "charge>-1" << "charge is never negative";
        QTest::newRow("step energy") << "step_energy<-0.1" << "step_energy is never negative";
        QTest::newRow("time") << "elapsed<0" << "elapsed is never below 0 s";
        QTest::newRow("step time") << "step_elapsed>=-5" << "step_elapsed is never negative";
    }

    void refusesConditionsOutOfReach()
    {
        QFETCH(QString, text);
        QFETCH(QString, why);
        QString error;
        QVERIFY(!ParseRunCondition(text, &error));
        QCOMPARE(error, QStringLiteral("condition \"%1\" is refused: %2").arg(text, why));
    }

    void readsConditions()
    {
        QFETCH(QString, text);
        QFETCH(QString, normal);
        QString error;
        const std::optional<RunCondition> c = ParseRunCondition(text, &error);
        QVERIFY2(c, qPrintable(error));
        QCOMPARE(c->text(), normal);
    }

    void conditionsCompareTheirQuantity()
    {
        QString error;
        RunQuantities q;
        q.volts = 5;
        q.amperes = 0.05;
        q.watts = 0.25;
        QVERIFY(ParseRunCondition("current<=0.05", &error)->holds(q));
        QVERIFY(!ParseRunCondition("current<0.05", &error)->holds(q));
        QVERIFY(ParseRunCondition("voltage>4.99", &error)->holds(q));
        QVERIFY(!ParseRunCondition("power>=0.3", &error)->holds(q));
        // No measurement read yet: a temperature condition cannot hold.
        QVERIFY(!ParseRunCondition("temperature<1000", &error)->holds(q));
        q.celsius = 41;
        QVERIFY(ParseRunCondition("temperature>40", &error)->holds(q));
        // The step's own counts, not the run's.
        q.ampereHours = 2;
        q.stepAmpereHours = 0.4;
        q.elapsedSeconds = 100;
        q.stepElapsedSeconds = 3;
        q.stepWattHours = 1.5;
        QVERIFY(!ParseRunCondition("step_charge>0.5", &error)->holds(q));
        QVERIFY(ParseRunCondition("charge>0.5", &error)->holds(q));
        QVERIFY(ParseRunCondition("step_elapsed<4", &error)->holds(q));
        QVERIFY(ParseRunCondition("step_energy>=1.5", &error)->holds(q));
    }
};

PANEL_TEST_MAIN(TestRunProgram)
#include "tst_runprogram.moc"
