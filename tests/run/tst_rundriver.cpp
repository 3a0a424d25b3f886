// The run driver's failure policy where the real supply cannot be made to
// fail that way, or not at a chosen moment: refused writes, lost
// acknowledgements, a port that comes back only while the off is tried or
// stays lost past the time allowed, a handover, a silence exactly at a
// ramp's end; and what the supply was sent, both as velkaroctl and as the
// window's poll cycle drive it. Stalls and a port reconnected during the run
// are tested against the real programs (tst_velkaroctlrun, tst_runpage).

#include "recordingrows.h"
#include "rundriver.h"
#include "testmain.h"

#include <functional>

namespace {

// A supply behind a resistor that refuses writes, loses its port, hands its
// line over, falls silent or loses write acknowledgements as the test says.
// Every operation takes 50 ms of the clock; one that goes unanswered, a
// reply's time-out of 800 ms. The set-point writes it carried out are kept
// with their times.
class ScriptedSupply : public RunTransport
{
public:
    explicit ScriptedSupply(qint64 &clock) : now(clock) {}

    bool isOpen() const override { return open; }
    bool reopen() override { return open = canReopen; }
    bool handingOver() const override { return handover; }
    Result readStatus(StatusRecord &status) override
    {
        if (!open || silent)
            return Unanswered();
        now += 50;
        // Constant voltage while the resistor draws less than the limit.
        const double amperes =
            output ? std::min(setpoints.VoltageSet / 1000.0 / ohms, setpoints.CurrentSet / 1000.0) : 0;
        status.Voltage = qRound(amperes * ohms * 100);
        status.Current = qRound(amperes * 1000);
        status.CvFlag = 1;
        status.OutputOn = output;
        return Result::Done;
    }
    Result readMeasurement(MeasurementRecord &) override { return Result::NoAnswer; }
    Result writeSetpoints(const SetpointRecord &s) override
    {
        if (!open || silent)
            return Unanswered();
        now += 50;
        if (refuse)
            return Result::Refused;
        setpoints = s;
        setpointWrites << std::array<qint64, 2>{now, s.VoltageSet};
        // The acknowledgement of every other write is lost on the way.
        if (loseAcks && (lostAcks++ % 2 == 0))
            return Result::NoAnswer;
        return Result::Done;
    }
    Result writeOutput(bool on) override
    {
        if (!open || silent)
            return Unanswered();
        now += 50;
        if (refuse)
            return Result::Refused;
        output = on;
        return Result::Done;
    }

    Result Unanswered()
    {
        now += 800;
        return Result::NoAnswer;
    }

    qint64 &now;
    bool open = true;
    bool canReopen = true;
    bool handover = false;
    bool refuse = false;
    bool silent = false;
    bool loseAcks = false;
    int lostAcks = 0;
    double ohms = 10;
    SetpointRecord setpoints;
    bool output = false;
    QVector<std::array<qint64, 2>> setpointWrites;  // time, mV
};

// The driver polled as velkaroctl polls it, or every 250 ms as the window does.
struct Rig {
    explicit Rig(RunPolicy policy, bool pollCycle = false)
        : driver(supply, policy, [this] { return now; })
        , pollCycle(pollCycle)
    {
    }

    QString record() const { return dir.filePath(QStringLiteral("r.csv")); }

    QString eventsFrom(int first) const { return RecordingEvents(record()).mid(first).join(QLatin1Char('|')); }

    bool start(const QByteArray &program, qint64 recordIntervalMs = 0)
    {
        RunSetup setup;
        setup.program = ParseRunProgram(program);
        setup.recordPath = record();
        setup.recordIntervalMs = recordIntervalMs;
        return driver.start(setup, now, QDateTime(QDate(2026, 12, 7), QTime(4, 0), Qt::UTC));
    }

    // The rows' fields, and the elapsed time of the first row with event.
    QList<QByteArrayList> rows() const
    {
        QList<QByteArrayList> out;
        for (const QByteArray &row : RecordingRows(record()))
            out << RecordingFields(row);
        return out;
    }
    double at(const QByteArray &event) const
    {
        for (const QByteArrayList &row : rows())
            if (row[RecEvent] == event)
                return row[RecElapsed].toDouble();
        return -1;
    }

    // Runs until the clock passes untilMs or the run finishes; at(now) may
    // change the supply on the way.
    void runTo(qint64 untilMs, const std::function<void(qint64)> &at)
    {
        while (now < untilMs && !driver.isFinished()) {
            at(now);
            if (pollCycle) {
                const qint64 tick = now;
                driver.poll(now);
                now = std::max(now, tick + 250);
            } else if (!driver.poll(now)) {
                now = std::max(driver.nextDueMs(now), now + 1);
            }
        }
    }

    QTemporaryDir dir;
    qint64 now = 1000;
    ScriptedSupply supply{now};
    RunDriver driver;
    bool pollCycle;
};

}  // namespace

class TestRunDriver : public QObject
{
    Q_OBJECT

private slots:
    void refusedWritesAbortWithTheOutputOff()
    {
        // A write answered but refused, after the line's write policy made
        // its tries: both programs end the run there.
        RunPolicy policy;
        policy.readIntervalMs = 500;
        Rig r{policy, true};
        QVERIFY(r.start("voltage,current,duration\n5,1,2\n6,1,60\n"));
        r.runTo(9000, [&r](qint64 now) { r.supply.refuse = now >= 2000 && now < 6000; });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(3), QStringLiteral("abort write not confirmed|output off"));
        QCOMPARE(r.supply.setpoints.VoltageSet, 5000);
        QVERIFY(!r.supply.output);
    }

    void aLostPortAbortsAndTheOffFollowsItsReturn()
    {
        // Without reconnection the run aborts at the loss; the port comes
        // back within the time allowed for the off, and the off is written.
        {
            Rig r{RunPolicy()};
            QVERIFY(r.start("voltage,current,duration\n5,1,60\n"));
            r.runTo(20000, [&r](qint64 now) {
                r.supply.open = r.supply.open && !(now >= 2000 && now < 2100);
                r.supply.canReopen = now >= 6000;
            });
            QVERIFY(r.driver.isFinished());
            QCOMPARE(r.eventsFrom(2), QStringLiteral("port lost|abort port lost|reconnected|output off"));
            QVERIFY(!r.supply.output);
        }
        // Reconnection waited for 5 s; the off is then given up after its 3 s.
        RunPolicy policy;
        policy.reconnect = true;
        policy.reconnectWithinMs = 5000;
        policy.offRetryMs = 3000;
        Rig r{policy};
        QVERIFY(r.start("voltage,current,duration\n5,1,60\n"));
        r.supply.canReopen = false;
        r.runTo(30000, [&r](qint64 now) { r.supply.open = r.supply.open && now < 2000; });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(2), QStringLiteral("port lost|abort port lost|output unknown"));
        QVERIFY(r.now >= 10000 && r.now < 11500);
    }

    // The step an until begins is written at once, and lasts its own time.
    void theStepAfterAnUntilIsWritten()
    {
        for (const bool pollCycle : {false, true}) {
            Rig r{RunPolicy(), pollCycle};
            QVERIFY(r.start("voltage,current,duration,until\n5,1,20,current < 0.1\n8,1,2,\n", 1000));
            // The load goes from 10 ohm to 1 kohm: 5 mA at 5 V.
            r.runTo(40000, [&r](qint64 now) { r.supply.ohms = now >= 6000 ? 1000 : 10; });
            QVERIFY(r.driver.isFinished());
            QCOMPARE(r.eventsFrom(0), QStringLiteral("start|step 1|until current<0.1|step 2|end|output off"));
            const double until = r.at("until current<0.1");
            const double end = r.at("end");
            QVERIFY2(until > 5.0 && until < 7.5, qPrintable(QString::number(until)));
            QVERIFY2(end - until >= 2.0 && end - until < 2.3, qPrintable(QString::number(end - until)));
            QStringList eights;
            for (const auto &w : r.supply.setpointWrites)
                if (w[1] == 8000)
                    eights << QString::number((w[0] - 1000) / 1000.0);
            QCOMPARE(eights.size(), 1);
            QVERIFY2(eights[0].toDouble() >= until && eights[0].toDouble() < until + 0.3, qPrintable(eights[0]));
        }
    }

    // A ramp over its step's whole time ends on its value, written before
    // the next step or the end; the points between are on the line from
    // the previous step's values.
    void aRampOverItsWholeStepEndsOnItsValue()
    {
        for (const bool pollCycle : {false, true}) {
            Rig r{RunPolicy(), pollCycle};
            QVERIFY(r.start("voltage,current,duration,ramp\n0.01,1.2,1,\n10,1.2,20,20\n", 1000));
            r.runTo(60000, [](qint64) {});
            QVERIFY(r.driver.isFinished());
            QCOMPARE(r.eventsFrom(0), QStringLiteral("start|step 1|step 2|end|output off"));
            const auto &writes = r.supply.setpointWrites;
            QVERIFY(writes.size() > 30);
            QCOMPARE(writes.last()[1], 10000);
            QCOMPARE(r.supply.setpoints.VoltageSet, 10000);
            const double lastWrite = (writes.last()[0] - 1000) / 1000.0;
            QVERIFY2(lastWrite >= 21.0 && lastWrite <= r.at("end"),
                     qPrintable(QStringLiteral("%1 %2").arg(lastWrite).arg(r.at("end"))));
            QVERIFY2(r.at("end") < 21.5, qPrintable(QString::number(r.at("end"))));
            // Every point on the straight line, within the second it may
            // come late: 0.01 V at 1 s to 10 V at 21 s.
            for (const auto &w : writes) {
                const double t = (w[0] - 1000) / 1000.0;
                if (t < 1.0)
                    continue;
                const double line = 10 + (10000 - 10) * std::min(1.0, (t - 1.0) / 20.0);
                QVERIFY2(w[1] <= line + 1 && w[1] >= line - 600,
                         qPrintable(QStringLiteral("%1 mV at %2 s").arg(w[1]).arg(t)));
            }
        }
    }

    // The supply falls silent as the ramp's last point is due: the end waits
    // for it 2 s at most, then the program ends by its clock; the off is
    // written once the supply answers again.
    void aSilenceAtTheRampsEndHoldsItTwoSecondsAtMost()
    {
        Rig r{RunPolicy()};
        QVERIFY(r.start("voltage,current,duration,ramp\n0.01,1.2,1,\n10,1.2,20,20\n", 1000));
        r.runTo(60000, [&r](qint64 now) { r.supply.silent = now >= 21800 && now < 36000; });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(0), QStringLiteral("start|step 1|step 2|no answer|end|output off"));
        QVERIFY2(r.at("end") >= 23.0 && r.at("end") < 23.9, qPrintable(QString::number(r.at("end"))));
        QVERIFY(r.supply.setpoints.VoltageSet < 10000);
        QVERIFY(!r.supply.output);
        QVERIFY(r.at("output off") >= 35.0);

        // The port lost there (reconnecting): no hold, the program ends by
        // its clock, and the off goes out when the port is back.
        RunPolicy reconnecting;
        reconnecting.reconnect = true;
        Rig lost{reconnecting};
        QVERIFY(lost.start("voltage,current,duration,ramp\n0.01,1.2,1,\n10,1.2,20,20\n", 1000));
        bool pulled = false;
        lost.runTo(60000, [&lost, &pulled](qint64 now) {
            if (!pulled && now >= 21800)
                lost.supply.open = pulled = false;
            pulled = pulled || now >= 21800;
            lost.supply.canReopen = now >= 30000;
        });
        QVERIFY(lost.driver.isFinished());
        QCOMPARE(lost.eventsFrom(0), QStringLiteral("start|step 1|step 2|port lost|end|reconnected|output off"));
        QVERIFY2(qAbs(lost.at("end") - 21.0) < 0.1, qPrintable(QString::number(lost.at("end"))));
        QVERIFY(!lost.supply.output);
    }

    // A write whose acknowledgement is lost may have reached the supply: the
    // rows after it leave the set-points blank until one is confirmed, and
    // never pair a reading with set-points the supply did not hold.
    void readingRowsShowOnlyHeldSetpoints()
    {
        RunPolicy policy;
        policy.readIntervalMs = 250;
        Rig r{policy};
        QByteArray program = "voltage,current,duration\n";
        for (int i = 0; i < 10; ++i)
            program += i % 2 ? "12,0.8,3\n" : "5,1,3\n";
        QVERIFY(r.start(program, 0));
        r.supply.ohms = 1000;  // constant voltage: a reading shows the voltage set
        r.supply.loseAcks = true;
        r.runTo(60000, [](qint64) {});
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(11), QStringLiteral("end|output off"));
        int held = 0;
        int blank = 0;
        for (const QByteArrayList &row : r.rows()) {
            if (!row[RecEvent].isEmpty() || row[RecVolts].isEmpty())
                continue;
            if (row[RecVoltsSet].isEmpty()) {
                QVERIFY(row[RecAmperesSet].isEmpty());
                ++blank;
                continue;
            }
            QVERIFY2(row[RecVolts].toDouble() == row[RecVoltsSet].toDouble(), row.join(','));
            ++held;
        }
        QVERIFY2(blank >= 5 && held >= 60, qPrintable(QStringLiteral("%1 %2").arg(blank).arg(held)));
    }

    // "no answer" is recorded 2 s after the last good reading, however long
    // the unanswered reads take; the silence then ends the run, and the off
    // reaches the supply once it answers again.
    void noAnswerTwoSecondsAfterTheLastReading()
    {
        for (const bool pollCycle : {false, true}) {
            Rig r{RunPolicy(), pollCycle};
            QVERIFY(r.start("voltage,current,duration\n5,1,60\n", 0));
            r.runTo(40000, [&r](qint64 now) { r.supply.silent = now >= 5000 && now < 20000; });
            QVERIFY(r.driver.isFinished());
            QCOMPARE(r.eventsFrom(2), QStringLiteral("no answer|abort no answer|output off"));
            QVERIFY(!r.supply.output);
            const double silence = r.at("no answer");
            double lastReading = -1;
            for (const QByteArrayList &row : r.rows())
                if (!row[RecVolts].isEmpty() && row[RecElapsed].toDouble() < silence)
                    lastReading = row[RecElapsed].toDouble();
            QVERIFY2(qAbs(silence - lastReading - 2.0) < 0.0005,
                     qPrintable(QStringLiteral("%1 after %2").arg(silence).arg(lastReading)));
            QVERIFY2(qAbs(r.at("abort no answer") - lastReading - 10.0) < 1.0,
                     qPrintable(QString::number(r.at("abort no answer"))));
        }
    }

    // The line handed over in less than the gap's 5 s: the charge goes on
    // being counted across it, and no gap is recorded.
    void aShortTakeoverKeepsCounting()
    {
        Rig r{RunPolicy()};
        QVERIFY(r.start("voltage,current,duration\n5,1,12\n", 0));
        r.supply.handover = true;  // the port is down only while the line is taken over
        r.runTo(40000, [&r](qint64 now) {
            const bool away = now >= 5000 && now < 5500;
            r.supply.open = r.supply.open && !away;
            r.supply.canReopen = !away;
        });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(0), QStringLiteral("start|step 1|port lost|reconnected|end|output off"));
        // 0.5 A from the first reading to the last.
        double first = -1;
        double last = -1;
        QByteArray charge;
        for (const QByteArrayList &row : r.rows()) {
            if (row[RecVolts].isEmpty() || row[RecAmperes].toDouble() < 0.4)
                continue;
            if (first < 0)
                first = row[RecElapsed].toDouble();
            last = row[RecElapsed].toDouble();
            charge = row[RecCharge];
        }
        QVERIFY(last - first > 10);
        QVERIFY2(qAbs(charge.toDouble() - 0.5 * (last - first) / 3600) < 2e-6, charge);
    }
};

PANEL_TEST_MAIN(TestRunDriver)
#include "tst_rundriver.moc"
