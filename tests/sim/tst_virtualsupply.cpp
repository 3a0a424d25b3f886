// The virtual supply: its model, and on its pseudo-terminal through the
// shared link fixture's port (written to directly, not through the link), its
// exact replies, silences and faults. Writes, layouts and late replies are
// driven through the link in its own tests.

#include "linkfixture.h"
#include "testmain.h"
#include "traceablepattern.h"

#include <QSignalSpy>

namespace {

// Writes text, then returns what came back up to a carriage return, or what
// came within a second.
QByteArray exchange(LinkFixture &f, const QByteArray &text)
{
    f.port.write(text);
    f.port.flush();
    QByteArray received;
    static_cast<void>(QTest::qWaitFor([&] {
        received += f.port.readAll();
        return received.contains('\r');
    }, 1000));
    return received + f.port.readAll();
}

}  // namespace

class TestVirtualSupply : public QObject
{
    Q_OBJECT

private slots:
    // The model's regulation is judged through every program that reads it
    // (CV and CC in tst_velkaroctl, tst_scpiserver, PyVISA).
    void tracesItsReplies()
    {
        // The soak tells a reply's origin by this pattern: any altered byte,
        // or another command, breaks it.
        const QByteArray status = TraceablePattern::data(0x01, 8, 0x1234);
        QCOMPARE(status.toHex(), QByteArray("341291b6db00254a"));
        QVERIFY(TraceablePattern::matches(0x01, status) && !TraceablePattern::matches(0x10, status));
        for (int k = 0; k < status.size(); ++k) {
            QByteArray altered = status;
            altered[k] = char(altered.at(k) ^ 0x04);
            QVERIFY(!TraceablePattern::matches(0x01, altered));
        }
    }

    void exactReplyAndSilenceForWhatIsNotForIt()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        QVERIFY(f.supply->portPath().startsWith("/dev/pts/"));
        f.supply->model().setOutputOn(true);  // 5 V into 10 ohm: 500 mA, CV
        f.supply->model().setNoiseEnabled(false);
        QSignalSpy lines(f.supply.get(), &VirtualSupply::lineReceived);
        const QList<QByteArray> ignored = {
            "#01800101EA3F\r",     // bad CRC
            "#02800101" "71E2\r",  // another supply's address, good CRC
            "#01800155" "2845\r",  // unknown command, good CRC
            "#01800101ea3e\r",     // lowercase: does not decode
            "#0180010\r",          // odd length
        };
        for (const QByteArray &line : ignored)
            f.port.write(line);
        QTRY_COMPARE(lines.count(), ignored.size());
        QCOMPARE(std::make_pair(f.supply->requestsIgnored(), f.supply->repliesSent()), std::make_pair(int(ignored.size()), 0));

        // The one good request after them gets the only reply on the line.
        QCOMPARE(exchange(f, "junk before #01800101EA3E\r"), QByteArray("#80010101F401881301000101EEB8\r"));
        QCOMPARE(f.supply->receivedLines(), ignored + QList<QByteArray>{"#01800101EA3E\r"});
        QCOMPARE(f.supply->repliesSent(), 1);
    }

    void faultsAreReproducible()
    {
        // Each run: 16 status requests, one at a time; what the port gets for
        // each, empty when the reply was dropped.
        auto run = [](quint32 seed) {
            VirtualSupply::Options options;
            options.seed = seed;
            options.drop = options.corrupt = options.split = options.noise = 0.3;
            LinkFixture f(options);
            f.supply->model().setNoiseEnabled(false);
            QList<QByteArray> seen;
            QSignalSpy lines(f.supply.get(), &VirtualSupply::lineReceived);
            for (int i = 0; f.opened && i < 16; ++i) {
                const int sentBefore = f.supply->repliesSent();
                f.port.write("#01800101EA3E\r");
                if (!QTest::qWaitFor([&] { return lines.count() == i + 1 && f.supply->isIdle(); }, 1000))
                    break;
                seen.append(f.supply->repliesSent() > sentBefore ? exchange(f, {}) : QByteArray());
            }
            return seen;
        };
        const QList<QByteArray> first = run(5);
        QCOMPARE(first.size(), 16);
        QCOMPARE(run(5), first);
        QVERIFY(run(6) != first);

        const QByteArray clean = "#80010101000000000100000004C3\r";
        // Some dropped, some intact and some damaged.
        const int dropped = first.count(QByteArray()), intact = first.count(clean);
        QVERIFY2(dropped > 0 && intact > 0 && dropped + intact < first.size(),
                 qPrintable(QStringLiteral("%1 dropped, %2 intact").arg(dropped).arg(intact)));
        // Noise never holds the start character: a frame is found from its '#'.
        for (const QByteArray &reply : first)
            QVERIFY(reply.count('#') <= 1);
    }
};

PANEL_TEST_MAIN(TestVirtualSupply)
#include "tst_virtualsupply.moc"
