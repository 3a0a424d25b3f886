// The line's schedule against a scripted bus: the order in which requests of
// several users for several addresses go out, one exchange at a time
// whatever arrives while one waits. The line's one back-off from an
// address that stopped answering, alone and on the real link on a
// pseudo-terminal with several supplies, shared with the programs attached to
// the line. A reply from another supply is never taken as the one asked.

#include "lineclient.h"
#include "lineschedule.h"
#include "lineserver.h"
#include "sharedline.h"
#include "linkfixture.h"
#include "testmain.h"

using namespace CommandSet;

namespace {

// A bus whose supplies all answer at once.
class ScriptedBus : public LineTransport
{
public:
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override
    {
        sent.append(request);
        *reply = QByteArray(1, char(request.address));
        return LinkResult::GoodReply;
    }

    QList<LineRequest> sent;
};

// A bus whose first exchange, while it waits, handles "events" that queue
// more, as a click or a socket does while the link pumps the event loop.
class PumpingBus : public ScriptedBus
{
public:
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override
    {
        deepest = qMax(deepest, ++depth);
        if (const std::function<void()> events = std::exchange(duringExchange, {}))
            events();
        const LinkResult result = ScriptedBus::Exchange(request, reply);
        --depth;
        return result;
    }

    std::function<void()> duringExchange;
    int depth = 0;
    int deepest = 0;
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
        LineSchedule schedule(bus);
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

    // What arrives while an exchange waits is made after it: another user's
    // request, a job, a run of the queue; a job runs between exchanges, its
    // blocking requests taking turns with the others', and never inside
    // another job. A blocking call has the requests due before it made first.
    void nothingIsMadeInsideAnExchange()
    {
        PumpingBus bus;
        LineSchedule schedule(bus);
        QStringList jobs;
        const auto blockingRead = [&](quint8 address) {
            QVERIFY(!schedule.Exchanging());
            const quint64 ticket = schedule.Submit(schedule.CurrentUser(), Read(address), {});
            QVERIFY(schedule.RunUntilDone(ticket));
        };
        const int clicks = schedule.NewUser();
        const int scpi = schedule.NewUser();
        const int other = schedule.NewUser();
        QVERIFY(clicks != LineSchedule::OwnUser && scpi != clicks && other != scpi);
        schedule.Submit(LineSchedule::OwnUser, Read(1), {});
        bus.duringExchange = [&] {
            QVERIFY(schedule.Exchanging());
            const quint64 request = schedule.Submit(clicks, Read(2), {});
            schedule.SubmitJob(scpi, [&] {
                jobs << "scpi begins";
                QCOMPARE(schedule.CurrentUser(), scpi);
                blockingRead(3);
                blockingRead(3);
                jobs << "scpi ends";
            });
            schedule.SubmitJob(other, [&] { jobs << "other"; });
            schedule.Submit(other, Write(4), {});
            QVERIFY(!schedule.RunNext());
            QVERIFY(!schedule.RunUntilDone(request));
            QVERIFY(!schedule.IsDone(request));
        };
        const quint64 blocking = schedule.Submit(LineSchedule::OwnUser, Read(1, Measurements), {});
        QVERIFY(schedule.RunUntilDone(blocking));
        // After the owner's first read: the write queued meanwhile, the
        // clicks' read (not served yet), then the job, during whose wait the
        // owner's second read has its turn; the other job waits for it.
        QCOMPARE(Order(bus.sent), (QStringList{"R1", "W4", "R2", "R1", "R3", "R3"}));
        QCOMPARE(bus.sent.at(3).command, Measurements);
        QCOMPARE(jobs, (QStringList{"scpi begins", "scpi ends"}));
        schedule.Submit(clicks, Read(5), {});
        schedule.RunAll();
        QCOMPARE(bus.deepest, 1);
        QCOMPARE(Order(bus.sent).mid(6), QStringList{"R5"});
        QCOMPARE(jobs, (QStringList{"scpi begins", "scpi ends", "other"}));
        QVERIFY(schedule.IsIdle());
    }

    // The rule of the back-off on a clock of the test's own: three misses in
    // a row, then one try every 4 s while other addresses are asked; asked
    // every time while nobody else is; any reply ends it.
    void backoffRule()
    {
        AddressBackoff backoff;
        qint64 now = 0;
        for (int miss = 0; miss < 3; ++miss) {
            QVERIFY(backoff.MayAsk(2, now));
            backoff.Asked(1, now, true);
            backoff.Asked(2, now += 200, false);
        }
        QVERIFY(backoff.IsBackingOff(2));
        const qint64 lastTry = now;
        backoff.Asked(1, now += 46, true);
        QVERIFY(!backoff.MayAsk(2, now));
        QVERIFY(!backoff.MayAsk(2, lastTry + 3999));
        QVERIFY(backoff.MayAsk(2, lastTry + 4000));
        QVERIFY(backoff.MayAsk(1, now));
        // Alone on the line, a silent address holds up nobody.
        backoff.Asked(2, now = lastTry + 4000, false);
        QVERIFY(backoff.MayAsk(2, now + 1));
        backoff.Asked(2, now += 200, false);
        QVERIFY(backoff.MayAsk(2, now + 1));
        backoff.Asked(1, now += 46, true);
        QVERIFY(!backoff.MayAsk(2, now));
        // Any reply, a rejected one too, ends it.
        backoff.Asked(2, now += 4000, true);
        QVERIFY(!backoff.IsBackingOff(2));
        backoff.Asked(1, now += 46, true);
        QVERIFY(backoff.MayAsk(2, now));
    }

    // On a real link with supplies 1 and 2 answering and 5 silent, read in
    // rounds as the watch reads them: the silent one is tried three times,
    // then once every 4 s, its other reads coming back at once as not
    // asked; the others are answered every round. The owner's own direct
    // reads keep to the same back-off.
    void realLinkBacksOffASilentAddressOnce()
    {
        VirtualSupply::Options options;
        options.moreAddresses = {2, 5};
        options.silentAddresses = {5};
        LinkFixture f(options);
        QVERIFY(f.opened);
        f.link.SetTraceStream(nullptr);
        LineSchedule &schedule = f.link.Schedule();
        const auto sentTo5 = [&] {
            int count = 0;
            for (const QByteArray &line : f.supply->receivedLines())
                count += line.startsWith("#05") ? 1 : 0;
            return count;
        };
        int rounds = 0;
        int notAsked = 0;
        int answered = 0;
        QElapsedTimer took;
        took.start();
        while (took.elapsed() < 6000) {
            for (quint8 a : {1, 2, 5}) {
                schedule.Submit(0, Read(a), [&, a](const LineOutcome &o) {
                    if (a == 5)
                        notAsked += o.notAsked ? 1 : 0;
                    else
                        answered += o.result == LinkResult::GoodReply ? 1 : 0;
                });
            }
            schedule.RunAll();
            ++rounds;
        }
        // 3 misses by about 0.7 s, then a try at about 4.7 s.
        int tries = sentTo5();
        QVERIFY2(tries >= 4 && tries <= 5, qPrintable(QString::number(tries)));
        QCOMPARE(std::make_pair(answered, notAsked + tries), std::make_pair(2 * rounds, rounds));
        QVERIFY(f.link.Backoff().IsBackingOff(5));

        // A direct read while another address was asked since the last try:
        // answered at once, nothing sent. A write is always made.
        StatusRecord status;
        f.link.GetStatus(5, status);  // the last round's 5 may have been due
        QCOMPARE(f.link.GetStatus(LinkFixture::Address, status), LinkResult::GoodReply);
        tries = sentTo5();
        QVERIFY(f.link.BackoffWaitMs(5) > 1000);
        took.restart();
        QCOMPARE(f.link.GetStatus(5, status), LinkResult::NoReply);
        QVERIFY(f.link.LastNotAsked());
        QVERIFY(took.elapsed() < 100);
        QCOMPARE(sentTo5(), tries);
        QCOMPARE(f.link.SetOutput(5, OutputOnValue), LinkResult::NoReply);
        QVERIFY(!f.link.LastNotAsked());
        QCOMPARE(sentTo5(), tries + 1);
        // Alone on the line now: each read goes out.
        QCOMPARE(f.link.GetStatus(5, status), LinkResult::NoReply);
        QCOMPARE(f.link.GetStatus(5, status), LinkResult::NoReply);
        QCOMPARE(sentTo5(), tries + 3);
    }

    // The line's owner found supply 5 silent: a program attached to the line
    // meets the same back-off, its read waiting for the owner's next try of
    // the address (or until just before it gives up) instead of asking again.
    void attachedProgramsShareTheOwnersBackoff()
    {
        VirtualSupply::Options options;
        options.moreAddresses = {5};
        options.silentAddresses = {5};
        LinkFixture f(options);
        QVERIFY(f.opened);
        const QString path = f.supply->portPath();
        f.port.close();
        QSerialPort ownerPort;
        DeviceLink ownerLink;
        ownerLink.SetTraceStream(nullptr);
        SharedLine owner(ownerPort, ownerLink);
        QString reason;
        QVERIFY2(owner.Open(path, false, &reason), qPrintable(reason));
        QSerialPort attachedPort;
        DeviceLink attachedLink;
        attachedLink.SetTraceStream(nullptr);
        SharedLine attached(attachedPort, attachedLink);
        QVERIFY2(attached.Open(path, false, &reason), qPrintable(reason));
        QCOMPARE(attached.CurrentRole(), SharedLine::Role::Attached);

        StatusRecord status;
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(ownerLink.GetStatus(LinkFixture::Address, status), LinkResult::GoodReply);
            QCOMPARE(ownerLink.GetStatus(5, status), LinkResult::NoReply);
        }
        QCOMPARE(ownerLink.GetStatus(LinkFixture::Address, status), LinkResult::GoodReply);
        QVERIFY(ownerLink.Backoff().IsBackingOff(5));
        // Its program would give up before the next try: held until just
        // before it does, then answered as not asked, nothing sent.
        QVERIFY(ownerLink.BackoffWaitMs(5) > 3000);
        int before = f.supply->receivedLines().size();
        QElapsedTimer took;
        took.start();
        QCOMPARE(attachedLink.GetStatus(5, status), LinkResult::NoReply);
        QVERIFY(attachedLink.LastNotAsked());
        const qint64 heldMs = LineClient::ExchangeBoundMs - LineServer::StartMarginMs;
        QVERIFY2(took.elapsed() >= heldMs - 100 && took.elapsed() < LineClient::ExchangeBoundMs,
                 qPrintable(QString::number(took.elapsed())));
        QCOMPARE(f.supply->receivedLines().size(), before);
        // Nearer the next try: held until it, then that one try is made.
        QTRY_VERIFY_WITH_TIMEOUT(ownerLink.BackoffWaitMs(5) < 2000, 4000);
        const qint64 waitMs = ownerLink.BackoffWaitMs(5);
        before = f.supply->receivedLines().size();
        took.restart();
        QCOMPARE(attachedLink.GetStatus(5, status), LinkResult::NoReply);
        QVERIFY(!attachedLink.LastNotAsked());
        QVERIFY2(took.elapsed() >= waitMs - 50, qPrintable(QString::number(took.elapsed())));
        const QList<QByteArray> sent = f.supply->receivedLines().mid(before);
        QCOMPARE(sent.size(), 1);
        QVERIFY(sent.first().startsWith("#05"));
        QCOMPARE(ownerLink.GetStatus(LinkFixture::Address, status), LinkResult::GoodReply);
        QVERIFY(ownerLink.BackoffWaitMs(5) > 3000);
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
        LineSchedule &schedule = f.link.Schedule();

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
