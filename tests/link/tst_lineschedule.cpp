// The line's schedule against a scripted bus with its own clock: the order in
// which requests of several users for several addresses go out, and the
// back-off from an address that stopped answering. Then the real link on a
// pseudo-terminal with several supplies: a reply from another supply is never
// taken as the one asked.

#include "devicelinktransport.h"
#include "lineschedule.h"
#include "linkfixture.h"
#include "testmain.h"

using namespace CommandSet;

namespace {

// A bus whose supplies answer at once unless silenced; an exchange takes the
// line's time: 46 ms answered, 200 ms unanswered.
class ScriptedBus : public LineTransport
{
public:
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override
    {
        sent.append(request);
        if (silent.contains(request.address)) {
            nowMs += 200;
            return LinkResult::NoReply;
        }
        nowMs += 46;
        *reply = QByteArray(1, char(request.address));
        return LinkResult::GoodReply;
    }

    QList<LineRequest> sent;
    QSet<quint8> silent;
    qint64 nowMs = 0;
};

LineRequest Read(quint8 address, quint8 command = Status)
{
    LineRequest request;
    request.address = address;
    request.command = command;
    request.access = AccessRead;
    request.minLength = StatusReply.min;
    return request;
}

LineRequest Write(quint8 address)
{
    LineRequest request = Read(address, Output);
    request.kind = LineRequest::Kind::Write;
    request.access = AccessWrite;
    request.payload = QByteArray::fromHex("9A1B");
    return request;
}

// "R<address>" or "W<address>" for each request, in the order it went out.
QStringList Order(const QList<LineRequest> &sent)
{
    QStringList order;
    for (const LineRequest &r : sent)
        order << QStringLiteral("%1%2").arg(r.kind == LineRequest::Kind::Write ? 'W' : 'R').arg(r.address);
    return order;
}

}  // namespace

class TestLineSchedule : public QObject
{
    Q_OBJECT

private slots:
    void ordersUsersAddressesAndWrites()
    {
        ScriptedBus bus;
        LineSchedule schedule(bus, [&] { return bus.nowMs; });
        QStringList done;
        auto note = [&](const QString &name) {
            return [&done, name](const LineOutcome &outcome) {
                QCOMPARE(outcome.result, LinkResult::GoodReply);
                done << name;
            };
        };

        // Two users, each with its own order; reads alternate over addresses
        // and users; the watch's reads of one sample go out in its order.
        for (quint8 a : {1, 2, 3})
            schedule.Submit(1, Read(a), note(QStringLiteral("watch %1").arg(a)));
        schedule.Submit(2, Read(1), note("run 1 first"));
        schedule.Submit(2, Read(1, Measurements), note("run 1 second"));
        QVERIFY(schedule.RunNext());  // watch 1
        // A write queued now goes before every read queued so far.
        schedule.Submit(3, Write(4), note("write 4"));
        schedule.RunAll();
        QVERIFY(schedule.IsIdle());
        QVERIFY(!schedule.RunNext());
        QCOMPARE(Order(bus.sent), (QStringList{"R1", "W4", "R1", "R2", "R1", "R3"}));
        QCOMPARE(done, (QStringList{"watch 1", "write 4", "run 1 first", "watch 2", "run 1 second",
                                    "watch 3"}));
        QCOMPARE(std::make_pair(bus.sent.at(2).command, bus.sent.at(4).command), std::make_pair(Status, Measurements));

        // Users that have waited alike: the address served longest ago.
        bus.sent.clear();
        schedule.Submit(7, Read(1), {});
        schedule.Submit(8, Read(2), {});
        schedule.RunAll();
        QCOMPARE(Order(bus.sent), (QStringList{"R2", "R1"}));

        // A user's write waits behind that user's own earlier read, not
        // behind another user's.
        bus.sent.clear();
        schedule.Submit(1, Read(5), {});
        schedule.Submit(2, Read(6), {});
        schedule.Submit(2, Write(6), {});
        schedule.Submit(1, Read(7), {});
        schedule.RunAll();
        QCOMPARE(Order(bus.sent), (QStringList{"R6", "W6", "R5", "R7"}));

        // A user that goes away takes its queued requests with it.
        schedule.Submit(1, Read(1), note("never"));
        schedule.Submit(2, Read(2), note("kept"));
        schedule.Withdraw(1);
        QCOMPARE(schedule.Queued(), 1);
        done.clear();
        schedule.RunAll();
        QCOMPARE(done, QStringList{"kept"});
    }

    void backsOffFromASilentAddress()
    {
        ScriptedBus bus;
        bus.silent = {2};
        LineSchedule schedule(bus, [&] { return bus.nowMs; });
        int notAsked = 0;
        int answered[4] = {};
        QList<qint64> triesOf2;
        auto sample = [&] {
            for (quint8 a : {1, 2, 3}) {
                schedule.Submit(1, Read(a), [&, a](const LineOutcome &outcome) {
                    if (outcome.notAsked) {
                        QCOMPARE(a, quint8(2));
                        ++notAsked;
                    } else if (outcome.result == LinkResult::GoodReply) {
                        ++answered[a];
                    }
                });
            }
            schedule.RunAll();
        };
        // As fast as the line allows for 10 s of the bus's time.
        int samples = 0;
        while (bus.nowMs < 10000) {
            const int before = bus.sent.size();
            sample();
            ++samples;
            for (int k = before; k < bus.sent.size(); ++k) {
                if (bus.sent.at(k).address == 2)
                    triesOf2 << bus.nowMs;
            }
        }
        // Three misses in a row, then one try every 2 s: 3 + 4 or 5 in 10 s.
        QVERIFY2(triesOf2.size() >= 7 && triesOf2.size() <= 8, qPrintable(QString::number(triesOf2.size())));
        QVERIFY(schedule.Backoff().IsBackingOff(2));
        QCOMPARE((QList<int>{notAsked + int(triesOf2.size()), answered[1], answered[3]}),
                 (QList<int>{samples, samples, samples}));
        // The silent supply cost the others at most one miss per 2 s after
        // the first three.
        const qint64 missedMs = 200LL * triesOf2.size();
        QVERIFY(missedMs <= 200 * 3 + 200 * (10000 / AddressBackoff::RetryMs + 1));

        // Writes are made even while backing off; any reply ends the back-off.
        bus.sent.clear();
        schedule.Submit(1, Write(2), {});
        schedule.RunAll();
        QCOMPARE(Order(bus.sent), QStringList{"W2"});
        bus.silent.clear();
        bus.nowMs += AddressBackoff::RetryMs;
        sample();
        QVERIFY(!schedule.Backoff().IsBackingOff(2));
        const int before = notAsked;
        sample();
        QCOMPARE(notAsked, before);
    }

    void realLinkTakesOnlyTheAddressAsked()
    {
        VirtualSupply::Options options;
        options.moreAddresses = {2, 5};
        options.loadByAddress = {{2, 2.0}};
        options.silentAddresses = {5};
        LinkFixture f(options);
        QVERIFY(f.opened);
        f.supply->modelAt(2)->setOutputOn(true);  // 5 V into 2 ohm: CC at 1 A
        f.link.SetTraceStream(nullptr);
        DeviceLinkTransport transport(f.link);
        LineSchedule schedule(transport);

        QHash<int, LineOutcome> outcomes;
        for (quint8 a : {quint8(LinkFixture::Address), quint8(2), quint8(5)})
            schedule.Submit(0, Read(a), [&, a](const LineOutcome &o) { outcomes[a] = o; });
        schedule.RunAll();
        StatusRecord one, two;
        QVERIFY(DeviceLink::FillStatus(outcomes[1].reply, one));
        QVERIFY(DeviceLink::FillStatus(outcomes[2].reply, two));
        QCOMPARE((QList<int>{one.OutputOn, one.Current}), (QList<int>{0, 0}));
        QCOMPARE((QList<int>{two.OutputOn, two.Current, two.CcFlag}), (QList<int>{1, 1000, 1}));
        QCOMPARE(outcomes[5].result, LinkResult::NoReply);

        // A well-formed status from supply 2 in answer to a request to 1 is
        // not supply 1's; nor is another command's reply.
        f.supply->queueRawReply({ReplyFrame(2, Status, AccessRead, QByteArray(8, '\0'))});
        f.supply->queueRawReply({ReplyFrame(1, Measurements, AccessRead, QByteArray(12, '\0'))});
        for (int k = 0; k < 2; ++k) {
            LineOutcome wrong;
            schedule.Submit(0, Read(1), [&](const LineOutcome &o) { wrong = o; });
            schedule.RunAll();
            QCOMPARE(std::make_pair(wrong.result, wrong.reply), std::make_pair(LinkResult::NoReply, QByteArray()));
        }
    }
};

PANEL_TEST_MAIN(TestLineSchedule)
#include "tst_lineschedule.moc"
