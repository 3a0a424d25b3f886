// The run driver's failure policy where the real supply cannot be made to
// fail that way: refused writes, a port that comes back only while the off
// is tried, and one that stays lost past the time allowed for reconnecting.
// Silence, stalls and a port reconnected during the run are tested against
// the real programs (tst_velkaroctlrun, tst_runpage).

#include "recordingrows.h"
#include "rundriver.h"
#include "testmain.h"

#include <functional>

namespace {

// A supply behind a 10 ohm resistor that refuses writes or loses its port as
// the test says. Every operation takes 50 ms of the clock.
class ScriptedSupply : public RunTransport
{
public:
    explicit ScriptedSupply(qint64 &clock) : now(clock) {}

    bool isOpen() const override { return open; }
    bool reopen() override { return open = canReopen; }
    Result readStatus(StatusRecord &status) override
    {
        now += 50;
        if (!open)
            return Result::NoAnswer;
        const double amperes = output ? std::min(setpoints.VoltageSet / 10000.0, setpoints.CurrentSet / 1000.0) : 0;
        status.Voltage = qRound(amperes * 1000);
        status.Current = qRound(amperes * 1000);
        status.OutputOn = output;
        return Result::Done;
    }
    Result readMeasurement(MeasurementRecord &) override { return Result::NoAnswer; }
    Result writeSetpoints(const SetpointRecord &s) override
    {
        now += 50;
        if (!open || refuse)
            return open ? Result::Refused : Result::NoAnswer;
        setpoints = s;
        return Result::Done;
    }
    Result writeOutput(bool on) override
    {
        now += 50;
        if (!open || refuse)
            return open ? Result::Refused : Result::NoAnswer;
        output = on;
        return Result::Done;
    }

    qint64 &now;
    bool open = true;
    bool canReopen = true;
    bool refuse = false;
    SetpointRecord setpoints;
    bool output = false;
};

// The driver polled as velkaroctl polls it, or every 250 ms as the window does.
struct Rig {
    explicit Rig(RunPolicy policy, bool pollCycle = false)
        : driver(supply, policy, [this] { return now; })
        , pollCycle(pollCycle)
    {
    }

    QString eventsFrom(int first) const
    {
        return RecordingEvents(dir.filePath(QStringLiteral("r.csv"))).mid(first).join(QLatin1Char('|'));
    }

    bool start(const QByteArray &program)
    {
        RunSetup setup;
        setup.program = ParseRunProgram(program);
        setup.recordPath = dir.filePath(QStringLiteral("r.csv"));
        setup.recordIntervalMs = 0;
        return driver.start(setup, now, QDateTime(QDate(2026, 12, 7), QTime(4, 0), Qt::UTC));
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
};

PANEL_TEST_MAIN(TestRunDriver)
#include "tst_rundriver.moc"
