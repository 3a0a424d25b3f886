#include "runfrontend.h"
#include "testmain.h"

#include <QJsonObject>

class TestRunEngine : public QObject
{
    Q_OBJECT

private slots:
    void stepsKeepToTheRunClock()
    {
        // A hundred one-second steps; the front end always comes 40 ms late
        // (one transaction), yet the 100th step starts at 99 s, not later.
        QByteArray program = "voltage,current,duration\n";
        for (int i = 0; i < 100; ++i)
            program += (i % 2 ? "6,1,1\n" : "5,1,1\n");
        FrontEnd f;
        f.now = 7000;  // the monotonic clock does not start at zero
        QVERIFY(f.start(f.setup(program)));
        while (f.engine.isActive()) {
            const std::optional<qint64> due = f.engine.nextDeadlineMs();
            QVERIFY(due);
            f.timeTo(*due + 40);
        }
        QCOMPARE(f.engine.outcome(), RunOutcome::Completed);
        const auto writes = f.setpointWrites();
        QCOMPARE(writes.size(), 100);
        for (int k = 0; k < 100; ++k) {
            QCOMPARE(writes[k][1], k % 2 ? 6000 : 5000);
            QVERIFY2(writes[k][0] - 7000 >= k * 1000 && writes[k][0] - 7000 <= k * 1000 + 40,
                     qPrintable(QString::number(writes[k][0])));
        }
        // The output went on once at the start and off once at the end.
        QCOMPARE(f.writes.size(), 102);
        QCOMPARE(f.writes.last().request.outputOn, false);
        QCOMPARE(f.writes.last().atMs - 7000, 100040);
    }

    void aReadingUnderWayAtAStepChangeBelongsToTheOldStep()
    {
        FrontEnd f;
        QVERIFY(f.start(f.setup("voltage,current,duration\n5,1,1\n6,1,1\n")));
        f.reading(0, 5, 0.5);
        // The read began before 1 s and its reply came after: step 1's values.
        f.reading(1010, 5, 0.5);
        const QList<QByteArray> rows = f.rows();
        QVERIFY2(rows[3].contains(",1.010,5.00,0.500,2.5000,CV,on,5.000,1.000,") && rows[3].endsWith(",1,,,1"), rows[3]);
        QVERIFY(rows[4].endsWith(",2,step 2,,1"));
        QCOMPARE(f.setpointWrites().last(), (std::array<qint64, 3>{1010, 6000, 1000}));
    }

    void rampsMoveInAStraightLine()
    {
        // From the supply's 2 V/1 A to 12 V/1 A in 10 s (1 V a second), then
        // from 12 V/1 A down to 6 V/2 A in 2 s.
        FrontEnd f;
        const SetpointRecord known{2000, 1000};
        QVERIFY(f.start(f.setup("voltage,current,duration,ramp\n12,1,20,10\n6,2,5,2\n"), known));
        while (f.engine.isActive())
            f.timeTo(*f.engine.nextDeadlineMs());
        const auto writes = f.setpointWrites();
        QVector<qint64> times;
        for (const auto &w : writes) {
            times << w[0];
            if (w[0] <= 10000)
                QCOMPARE(w[1], 2000 + w[0]);
            else if (w[0] >= 20000 && w[0] <= 22000)
                QCOMPARE(w[1], 12000 - 3 * (w[0] - 20000));
        }
        // Every half second while ramping; the first point of the second ramp
        // is where the supply already is, so it is not written again (nor the
        // first ramp's start, which the supply holds when the run begins).
        QVector<qint64> expected;
        for (qint64 t = 500; t <= 10000; t += 500)
            expected << t;
        expected << 20500 << 21000 << 21500 << 22000;
        QCOMPARE(times, expected);
        auto at = [&](qint64 ms) {
            for (const auto &w : writes)
                if (w[0] == ms)
                    return std::array<qint64, 2>{w[1], w[2]};
            return std::array<qint64, 2>{-1, -1};
        };
        QCOMPARE((at(21000)), (std::array<qint64, 2>{9000, 1500}));
        QCOMPARE((at(22000)), (std::array<qint64, 2>{6000, 2000}));
    }

    void untilEndsAStepEarly()
    {
        FrontEnd f;
        QVERIFY(f.start(f.setup("voltage,current,duration,until\n4.2,1,1:00,current<0.1\n3,0.5,10,\n")));
        for (int s = 1; s <= 4; ++s)
            f.reading(s * 1000, 4.2, 0.5);
        QCOMPARE(f.engine.progress(f.now).step, 1);
        f.reading(5000, 4.2, 0.09);
        QCOMPARE(f.engine.progress(f.now).step, 2);
        QCOMPARE(f.setpointWrites().last(), (std::array<qint64, 3>{5000, 3000, 500}));
        // The step's time counts from the moment the condition held.
        QCOMPARE(f.engine.progress(14000).stepLeftMs, 1000);
        f.timeTo(14999);
        QVERIFY(f.engine.isActive());
        f.timeTo(15000);
        QVERIFY(f.engine.isFinished());
        QCOMPARE(f.engine.outcome(), RunOutcome::Completed);
        QCOMPARE(f.events(), (QStringList{"start", "step 1", "until current<0.1", "step 2", "end", "output off"}));
        const QList<QByteArray> rows = f.rows();
        // 3 s at 0.5 A, then (0.5 + 0.09) / 2 A for 1 s: 1.795 As, 7.539 Ws.
        QVERIFY(rows[6].endsWith(",4.20,0.090,0.3780,CV,on,4.200,1.000,0.000499,0.002094,1,until current<0.1,,1"));
    }

    void untilWaitsForTheStepsWrites()
    {
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration,until\n4.2,0.5,1:00,current<0.05\n");
        QVERIFY(f.engine.start(s, 0, QDateTime::currentDateTimeUtc()));
        // Read before the front end carried out the step's writes: the output
        // is still off and no current flows.
        f.engine.feedStatus(StatusRecord(), 100);
        QVERIFY(!f.engine.isEnding());
        f.now = 200;
        f.serve();
        f.reading(300, 4.2, 0.04);
        QVERIFY(f.engine.isFinished());
        QCOMPARE(f.events(), (QStringList{"start", "step 1", "until current<0.05", "end", "output off"}));
    }

    void countersIntegrateByTrapezoidsAndSkipGaps()
    {
        FrontEnd f;
        RunSetup s = f.setup(QByteArray());
        s.recordIntervalMs = 0;
        QVERIFY(f.start(s));
        QVERIFY(f.writes.isEmpty());  // a recording alone asks nothing of the supply
        f.reading(0, 10.0, 1.0);
        f.reading(2000, 10.0, 3.0);     // (1+3)/2 A * 2 s = 4 As
        f.reading(4000, 10.0, 3.0);     // 6 As
        f.reading(10000, 10.0, 1.0);    // 6 s apart: a gap, nothing counted
        f.reading(11000, 10.0, 1.0);    // 1 As
        f.reading(12000, 10.0, 1.2345, true);  // fine range: (1+1.2345)/2 As
        // 12.11725 As and, at 10 V, 121.1725 Ws.
        const RunProgress counted = f.engine.progress(f.now);
        QVERIFY(qAbs(counted.ampereHours - 12.11725 / 3600) < 1e-12 && qAbs(counted.wattHours - 121.1725 / 3600) < 1e-12);
        QCOMPARE(f.events(), (QStringList{"start", "gap"}));
        QCOMPARE(f.rows().size(), 7);
        QVERIFY(f.rows().last().contains(",10.00,1.2345,12.3450,CV,on,,,0.003366,0.033659,,"));
    }

    void repeatsAndStops()
    {
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration,output\n5,1,1,on\n6,1,1,off\n");
        s.repeat = 2;
        QVERIFY(f.start(s));
        f.timeTo(1000);
        QCOMPARE(f.writes.last().request.outputOn, false);
        f.timeTo(2000);
        QCOMPARE(f.writes.last().request.outputOn, true);
        f.timeTo(4000);
        QCOMPARE(f.events(), (QStringList{"start", "step 1", "step 2", "step 1", "step 2", "end", "output off"}));

        // Repeat 0 goes on until stopped; kept output is not touched at the stop.
        FrontEnd g;
        RunSetup endless = g.setup("voltage,current,duration\n5,1,1\n");
        endless.repeat = 0;
        endless.keepOutput = true;
        QVERIFY(g.start(endless));
        g.timeTo(50000);
        QCOMPARE(g.engine.progress(g.now).pass, 51);
        const int writes = g.writes.size();
        g.engine.stop(50500);
        QVERIFY(g.engine.isFinished());
        QCOMPARE(g.engine.outcome(), RunOutcome::Stopped);
        QCOMPARE(g.writes.size(), writes);
        QVERIFY(!g.engine.pendingRequest());
        QCOMPARE(g.events().last(), QStringLiteral("stop"));
        QCOMPARE(g.engine.outputEnd(), OutputEnd::Kept);
    }

    // With --repeat 3 each pass is told apart, and step_charge counts from
    // its own step where charge would end pass 2's first step at once.
    void passesAndStepQuantitiesOverThreeRepeats()
    {
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration,until\n5,2,1:00:00,step_charge>=0.001\n"
                             "5,0.1,10,step_elapsed>2\n");
        s.repeat = 3;
        s.recordIntervalMs = 0;
        QVERIFY(f.start(s));
        QVector<qint64> stepOneEnds;
        for (qint64 ms = 0; f.engine.isActive() && ms < 60000; ms += 100) {
            const int step = f.engine.progress(ms).step;
            f.reading(ms, 5, step == 1 ? 2 : 0.1);
            if (step == 1 && f.engine.progress(ms).step == 2)
                stepOneEnds << ms;
        }
        QCOMPARE(f.engine.outcome(), RunOutcome::Completed);
        // 2 A for 1.8 s is 0.001 Ah; step 2 lasts until a reading 2.1 s into
        // it. Passes 2 and 3 begin with 0.1 s from 0.1 A to 2 A (0.105 As),
        // so 3.6 As takes 1.9 s there.
        QCOMPARE(stepOneEnds, (QVector<qint64>{1800, 3900 + 1900, 7900 + 1900}));
        QStringList passes;
        for (const QByteArray &row : f.rows()) {
            const QByteArrayList fields = RecordingFields(row);
            if (fields[RecEvent].startsWith("step ") || fields[RecEvent].startsWith("until "))
                passes << QString::fromLatin1(fields[RecEvent] + " @" + fields[RecPass]);
        }
        QCOMPARE(passes, (QStringList{"step 1 @1", "until step_charge>=0.001 @1", "step 2 @1",
                                      "until step_elapsed>2 @1", "step 1 @2", "until step_charge>=0.001 @2",
                                      "step 2 @2", "until step_elapsed>2 @2", "step 1 @3",
                                      "until step_charge>=0.001 @3", "step 2 @3", "until step_elapsed>2 @3"}));
        const RunSummary summary = f.engine.summary();
        QCOMPARE((QList<int>{summary.stepsDone, summary.pass, summary.passes}), (QList<int>{6, 3, 3}));
    }

    void aStepRowShowsTheStepsSetpoints()
    {
        FrontEnd f;
        const SetpointRecord known{5000, 363};
        QVERIFY(f.start(f.setup("voltage,current,duration,ramp\n5,1,1,\n8,2,1,\n12,1,2,2\n"), known));
        f.timeTo(1000);
        f.timeTo(2000);
        QStringList shown;
        for (const QByteArray &row : f.rows()) {
            const QByteArrayList fields = RecordingFields(row);
            if (fields[RecEvent].startsWith("step "))
                shown << QString::fromLatin1(fields[RecVoltsSet] + "/" + fields[RecAmperesSet]);
        }
        // A ramp's first values are where it starts: step 2's.
        QCOMPARE(shown, (QStringList{"5.000/1.000", "8.000/2.000", "8.000/2.000"}));
    }

    void theSummarySaysHowEachRunEnded()
    {
        {
            FrontEnd f;
            RunSetup s = f.setup("voltage,current,duration\n5,1,2\n6,1,1\n");
            s.repeat = 2;
            QVERIFY(f.start(s));
            f.reading(1000, 5, 1);
            f.reading(2000, 5, 1);
            f.timeTo(6000);
            const RunSummary summary = f.engine.summary();
            QCOMPARE(summary.text(), QStringLiteral("end after 00:00:06.000: 4 steps done, pass 2 of 2, "
                                                    "0.000278 Ah, 0.001389 Wh, output off (confirmed)"));
            QCOMPARE(summary.json(),
                     (QJsonObject{{"reason", "end"}, {"duration_s", 6.0}, {"steps_done", 4}, {"steps", 2},
                                  {"pass", 2}, {"passes", 2}, {"charge_Ah", 0.000278}, {"energy_Wh", 0.001389},
                                  {"output", "off_confirmed"}}));
            const QByteArray recorded = ReadFile(f.recordPath());
            QVERIFY(recorded.contains(",end,,2\n"));
            QVERIFY(recorded.endsWith(",output off,,2\n# summary: " + summary.text().toUtf8() + "\n"));
        }
        {
            FrontEnd f;
            RunSetup s = f.setup("voltage,current,duration\n5,1,60\n");
            s.keepOutput = true;
            s.repeat = 0;
            QVERIFY(f.start(s));
            f.reading(1500, 5, 1);
            f.engine.stop(2250);
            QCOMPARE(f.engine.summary().text(), QStringLiteral("stop after 00:00:02.250: 0 steps done, pass 1 of "
                                                               "unlimited, 0.000000 Ah, 0.000000 Wh, output kept on"));
        }
    }

    // The temperature column is blank once the last measurement is two
    // periods old, and a temperature limit is never judged on an old value.
    // (How often each is read: tst_velkaroctlrun's temperature test.)
    void theTemperatureIsNeverOld()
    {
        auto measurement = [](double celsius) {
            MeasurementRecord m;
            m.Temp = qRound(celsius * 10);
            return m;
        };
        FrontEnd f;
        RunSetup s = f.setup(QByteArray());
        s.recordIntervalMs = 0;
        QVERIFY(f.start(s));
        f.engine.feedMeasurement(measurement(30.5), 0);
        f.reading(9000, 5, 1);
        f.reading(10001, 5, 1);
        const QList<QByteArray> rows = f.rows();
        QCOMPARE(RecordingFields(rows[1])[RecCelsius] + '|' + RecordingFields(rows[2])[RecCelsius], QByteArray("30.5|"));

        FrontEnd g;
        RunSetup watched = g.setup("voltage,current,duration\n5,1,60\n");
        QString error;
        watched.limits << *ParseRunCondition(QStringLiteral("temperature>45"), &error);
        QVERIFY(g.start(watched));
        g.engine.feedMeasurement(measurement(50), 0);
        g.reading(2001, 5, 1);
        QVERIFY(!g.engine.isEnding());
        g.engine.feedMeasurement(measurement(50), 2100);
        g.reading(2200, 5, 1);
        QCOMPARE(g.engine.outcome(), RunOutcome::LimitTripped);
        QCOMPARE(g.engine.reason(), QStringLiteral("limit temperature>45"));
    }

    // A second run of one engine, as the window's runs are: from the start,
    // its counters at zero, its state sent again.
    void anEngineRunsAgainFromTheStart()
    {
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration\n5,1,1\n6,1,1\n");
        QVERIFY(f.start(s));
        f.reading(500, 5, 0.5);
        f.timeTo(2000);
        QVERIFY(f.engine.isFinished());
        s.recordMode = RunRecording::Mode::Append;
        f.now = 10000;
        f.writes.clear();
        QVERIFY(f.start(s));
        const RunProgress p = f.engine.progress(10000);
        QCOMPARE((QList<qint64>{p.step, p.pass, p.stepLeftMs}), (QList<qint64>{1, 1, 1000}));
        QCOMPARE(p.ampereHours, 0.0);
        QCOMPARE(f.writes.size(), 2);  // set-points and output on again
    }

    void rowsKeepToTheInterval()
    {
        FrontEnd f;
        RunSetup s = f.setup(QByteArray());
        s.recordIntervalMs = 1000;
        QVERIFY(f.start(s));
        // Readings every 300 ms: a row on each whole second only.
        for (int ms = 0; ms <= 3000; ms += 300)
            f.reading(ms, 5, 1);
        QList<QByteArray> rows = f.rows();
        QCOMPARE(rows.size(), 5);  // start, then 0, 1.2, 2.1 and 3.0 s
        QCOMPARE(rows[2].split(',')[1] + ' ' + rows[4].split(',')[1], QByteArray("1.200 3.000"));
    }
};

PANEL_TEST_MAIN(TestRunEngine)
#include "tst_runengine.moc"
