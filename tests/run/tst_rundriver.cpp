// The run driver's failure policy against a scripted supply on a hand-set
// clock: every end writes the output off (or says it is unknown), is
// recorded, and the readings keep coming whatever is written.

#include "recordingrows.h"
#include "rundriver.h"
#include "testmain.h"

#include <functional>

namespace {

// A supply behind a resistor that answers, stays silent, refuses or loses
// its port as the test says. Every operation takes opMs of the clock.
class ScriptedSupply : public RunTransport
{
public:
    explicit ScriptedSupply(qint64 &clock) : now(clock) {}

    bool isOpen() const override { return open; }
    bool reopen() override
    {
        ++reopens;
        open = canReopen;
        return open;
    }
    Result readStatus(StatusRecord &status) override
    {
        now += opMs;
        if (!answers())
            return Result::NoAnswer;
        const double amperes = output ? std::min(setpoints.VoltageSet / 1000.0 / ohms, setpoints.CurrentSet / 1000.0) : 0;
        status.Voltage = qRound(amperes * ohms * 100);
        status.Current = qRound(amperes * 1000);
        status.OutputOn = output;
        goodReads << now;
        return Result::Done;
    }
    Result readMeasurement(MeasurementRecord &) override { return Result::NoAnswer; }
    Result writeSetpoints(const SetpointRecord &s) override
    {
        now += opMs;
        if (!answers())
            return Result::NoAnswer;
        if (refuse)
            return Result::Refused;
        setpoints = s;
        setpointWrites << now;
        return Result::Done;
    }
    Result writeOutput(bool on) override
    {
        now += opMs;
        offTries += on ? 0 : 1;
        if (!answers())
            return Result::NoAnswer;
        if (refuse)
            return Result::Refused;
        output = on;
        if (!on)
            offAt = now;
        return Result::Done;
    }

    qint64 &now;
    qint64 opMs = 50;
    double ohms = 10;
    bool open = true;
    bool canReopen = true;
    bool silent = false;
    bool refuse = false;
    SetpointRecord setpoints;
    bool output = false;
    int reopens = 0;
    int offTries = 0;
    qint64 offAt = -1;
    QVector<qint64> goodReads;
    QVector<qint64> setpointWrites;

private:
    bool answers() const { return open && !silent; }
};

// The driver as velkaroctl uses it (polled again at once after an operation,
// otherwise at its next due time) or as the window does (a poll every 250 ms).
struct Rig {
    explicit Rig(RunPolicy policy, bool pollCycle = false)
        : driver(supply, policy, [this] { return now; })
        , pollCycle(pollCycle)
    {
    }

    QString record() const { return dir.filePath(QStringLiteral("r.csv")); }
    // The events in order, joined by "|" so that a failure shows them.
    QString events() const { return RecordingEvents(record()).join(QLatin1Char('|')); }
    QString eventsFrom(int first) const { return RecordingEvents(record()).mid(first).join(QLatin1Char('|')); }

    bool start(const QByteArray &program, const QStringList &limits = {})
    {
        RunSetup setup;
        if (!program.isEmpty())
            setup.program = ParseRunProgram(program);
        QString error;
        for (const QString &limit : limits)
            setup.limits << *ParseRunCondition(limit, &error);
        setup.recordPath = record();
        setup.recordIntervalMs = 0;
        return driver.start(setup, now, QDateTime(QDate(2026, 12, 7), QTime(4, 0), Qt::UTC));
    }

    // Runs until the clock passes untilMs or the run finishes; at(now) may
    // change the supply on the way.
    void runTo(qint64 untilMs, const std::function<void(qint64)> &at = {})
    {
        while (now < untilMs && !driver.isFinished()) {
            if (at)
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

RunPolicy WindowPolicy()
{
    RunPolicy p;
    p.readIntervalMs = 500;
    p.retryPeriodMs = 400;
    p.refusalsAllowed = 4;
    return p;
}

qint64 LongestGap(const QVector<qint64> &times, qint64 fromMs, qint64 toMs)
{
    qint64 longest = 0;
    for (int i = 1; i < times.size(); ++i)
        if (times[i] > fromMs && times[i - 1] < toMs)
            longest = std::max(longest, times[i] - times[i - 1]);
    return longest;
}

}  // namespace

class TestRunDriver : public QObject
{
    Q_OBJECT

private slots:
    void aShortSilenceIsRecordedAndTheRunGoesOn()
    {
        // Silent for 3.5 s across the step change at 5 s: "no answer" after
        // 2 s, then the step's write reaches the supply and the run ends as
        // programmed (perhaps with a gap in the counters).
        Rig r{RunPolicy()};
        QVERIFY(r.start("voltage,current,duration\n5,1,5\n8,1,10\n"));
        r.runTo(16500, [&r](qint64 now) { r.supply.silent = now >= 5000 && now < 8500; });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.driver.engine().outcome(), RunOutcome::Completed);
        QCOMPARE(r.events().remove(QStringLiteral("|gap")), QStringLiteral("start|step 1|step 2|no answer|end|output off"));
        QCOMPARE(r.supply.setpoints.VoltageSet, 8000);
        QVERIFY(r.supply.setpointWrites.last() >= 8500 && r.supply.setpointWrites.last() < 9700);
        QVERIFY(!r.supply.output);
        QCOMPARE(r.driver.engine().outputEnd(), OutputEnd::Off);
    }

    void aLongSilenceAbortsAndTheOffReachesTheSupplyWhenItAnswers()
    {
        RunPolicy policy;
        policy.maxSilenceMs = 10000;
        policy.retryPeriodMs = 1000;
        Rig r{policy};
        QVERIFY(r.start("voltage,current,duration\n5,1,60\n"));
        QSignalSpy silentSeen(&r.driver, &RunDriver::eventRecorded);
        r.runTo(40000, [&r](qint64 now) { r.supply.silent = now >= 3000 && now < 30000; });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.events(), QStringLiteral("start|step 1|no answer|abort no answer|output off"));
        QCOMPARE(r.driver.engine().outcome(), RunOutcome::Aborted);
        QCOMPARE(r.driver.engine().outputEnd(), OutputEnd::Off);
        // Aborted 10 s after the last good reading; the off tried about
        // once a second meanwhile, and confirmed within a second of the end
        // of the silence.
        const qint64 lastGood = r.supply.goodReads.last();
        QVERIFY(lastGood < 3000);
        QVERIFY2(r.supply.offTries >= 15 && r.supply.offTries <= 20, qPrintable(QString::number(r.supply.offTries)));
        QVERIFY(!r.supply.output);
        QVERIFY2(r.supply.offAt >= 30000 && r.supply.offAt <= 31100, qPrintable(QString::number(r.supply.offAt)));
    }

    void anOffNeverConfirmedIsUnknown()
    {
        // The window's way: a stop on a supply that has gone silent tries the
        // off every other tick for the time allowed, then says it is unknown.
        RunPolicy policy = WindowPolicy();
        policy.offRetryMs = 5000;
        Rig r{policy, true};
        QVERIFY(r.start("voltage,current,duration\n5,1,60\n"));
        r.runTo(2000);
        QVERIFY(r.supply.output);
        r.supply.silent = true;
        r.driver.stop(r.now);
        const qint64 stoppedAt = r.now;
        r.runTo(20000);
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(2), QStringLiteral("stop|output unknown"));
        QCOMPARE(r.driver.engine().outputEnd(), OutputEnd::Unknown);
        QVERIFY(r.now - stoppedAt >= 5000 && r.now - stoppedAt < 5600);
        QVERIFY(r.supply.offTries >= 9);
    }

    void aLostPortEndsTheRunOrIsWaitedFor()
    {
        // Without reconnection: the run aborts at the loss, and the off is
        // written once the port can be opened again.
        {
            Rig r{RunPolicy()};
            QVERIFY(r.start("voltage,current,duration\n5,1,60\n"));
            r.runTo(20000, [&r](qint64 now) {
                if (now >= 2000 && now < 2100)
                    r.supply.open = false;
                r.supply.canReopen = now >= 6000;
            });
            QVERIFY(r.driver.isFinished());
            QCOMPARE(r.eventsFrom(2), QStringLiteral("port lost|abort port lost|reconnected|output off"));
            QCOMPARE(r.driver.engine().outputEnd(), OutputEnd::Off);
            QVERIFY(r.supply.reopens >= 4 && r.supply.reopens <= 5);
            QVERIFY(!r.supply.output);
        }
        // With reconnection: the run goes on by its clock, but only for the
        // time allowed; then it aborts and the off is given up after its own.
        {
            RunPolicy policy;
            policy.reconnect = true;
            policy.reconnectWithinMs = 5000;
            policy.offRetryMs = 3000;
            Rig r{policy};
            QVERIFY(r.start("voltage,current,duration\n5,1,60\n"));
            r.supply.canReopen = false;
            r.runTo(30000, [&r](qint64 now) {
                if (now >= 2000)
                    r.supply.open = false;
            });
            QVERIFY(r.driver.isFinished());
            QCOMPARE(r.eventsFrom(2), QStringLiteral("port lost|abort port lost|output unknown"));
            QVERIFY(r.now >= 10000 && r.now < 11500);
        }
    }

    void refusedWritesAbortAndTheRecordingsFailureSwitchesOff()
    {
        // The window's four tries for a write that is answered but refused.
        Rig r{WindowPolicy(), true};
        QVERIFY(r.start("voltage,current,duration\n5,1,2\n6,1,60\n"));
        r.runTo(9000, [&r](qint64 now) { r.supply.refuse = now >= 2000 && now < 6000; });
        QVERIFY(r.driver.isFinished());
        QCOMPARE(r.eventsFrom(3), QStringLiteral("abort write not confirmed|output off"));
        QCOMPARE(r.supply.setpoints.VoltageSet, 5000);
        QVERIFY(!r.supply.output);
    }

    void readingsNeverStarveAndALimitActsAtTheNextTick()
    {
        // A 40 s ramp from 1 to 20 V into 10 ohms through the poll cycle,
        // with the limit current>1.5: a reading at least every 750 ms, a ramp
        // point at least every second, and the off on the tick after the
        // crossing reading.
        Rig r{WindowPolicy(), true};
        QVERIFY(r.start("voltage,current,duration,ramp\n1,3,1,\n20,3,60,40\n", {"current>1.5"}));
        r.runTo(70000);
        QVERIFY2(r.driver.isFinished(), qPrintable(r.events()));
        QCOMPARE(r.driver.engine().outcome(), RunOutcome::LimitTripped);
        const qint64 crossing = r.supply.goodReads.last();
        QVERIFY2(crossing > 1000 + 1000 + 29000 && crossing < 1000 + 1000 + 31000, qPrintable(QString::number(crossing)));
        QVERIFY2(LongestGap(r.supply.goodReads, 1000, crossing) <= 750,
                 qPrintable(QString::number(LongestGap(r.supply.goodReads, 1000, crossing))));
        QVERIFY(LongestGap(r.supply.setpointWrites, 3000, crossing) <= 1000);
        QVERIFY2(r.supply.offAt - crossing <= 300, qPrintable(QString::number(r.supply.offAt - crossing)));
        QCOMPARE(r.eventsFrom(3), QStringLiteral("limit current>1.5|output off"));

        // velkaroctl at --interval 0: readings and writes take turns.
        Rig c{[] { RunPolicy p; p.readIntervalMs = 0; return p; }()};
        QVERIFY(c.start("voltage,current,duration,ramp\n1,3,1,\n20,3,10,8\n"));
        c.runTo(12000);
        QVERIFY2(LongestGap(c.supply.goodReads, 1000, 12000) <= 200, qPrintable(QString::number(LongestGap(c.supply.goodReads, 1000, 12000))));
        QVERIFY(LongestGap(c.supply.setpointWrites, 2500, 9500) <= 600);
    }
};

PANEL_TEST_MAIN(TestRunDriver)
#include "tst_rundriver.moc"
