// The run's one way to the supply over a real link and port, against the
// virtual supply in this process: what a damaged reading back makes of a
// write, as the run driver sees it.

#include "linkfixture.h"
#include "lineruntransport.h"
#include "sharedline.h"
#include "testmain.h"

namespace {

// The supply's set-point read reply for mV and mA with its CRC broken.
QByteArray DamagedSetpoints(int millivolts, int milliamperes)
{
    QByteArray data;
    for (int v : {millivolts, milliamperes}) {
        data.append(char(v & 0xFF));
        data.append(char(v >> 8 & 0xFF));
    }
    data.append(4, '\0');
    QByteArray frame = LinkFixture::Reply(CommandSet::Setpoints, CommandSet::AccessRead, data);
    // The last CRC digit, before the terminator.
    const int last = frame.size() - 2;
    frame[last] = frame[last] == '0' ? '1' : '0';
    return frame;
}

}  // namespace

class TestLineRunTransport : public QObject
{
    Q_OBJECT

private slots:
    void aDamagedReadingBackIsNoRefusal()
    {
        // The write is acknowledged and lands; every reply to its reading
        // back is damaged. The write's effect is unknown, not refused: the
        // driver writes again instead of ending the run "write not
        // confirmed". One damaged reply among good ones confirms it.
        for (int damaged : {1, 8}) {
            LinkFixture f;
            QVERIFY(f.opened);
            f.link.SetTraceStream(nullptr);
            SharedLine line(f.port, f.link);
            LineRunTransport transport;
            transport.Attach(f.link, line);
            transport.SetAddress(LinkFixture::Address);
            f.supply->queueRawReply({LinkFixture::Reply(CommandSet::Setpoints, CommandSet::AccessAccepted, {})});
            for (int i = 0; i < damaged; ++i)
                f.supply->queueRawReply({DamagedSetpoints(4500, 1200)});
            f.supply->model().setSetpoints(4500, 1200);
            const RunTransport::Result result = transport.writeSetpoints(SetpointRecord{4500, 1200});
            if (damaged == 1)
                QVERIFY(result != RunTransport::Result::Refused);
            else
                QCOMPARE(result, RunTransport::Result::NoAnswer);
        }
    }

    void aReadingBackOfOtherValuesIsARefusal()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.link.SetTraceStream(nullptr);
        SharedLine line(f.port, f.link);
        LineRunTransport transport;
        transport.Attach(f.link, line);
        transport.SetAddress(LinkFixture::Address);
        // Acknowledged, but the supply keeps what it held.
        f.supply->model().setSetpoints(2000, 500);
        f.supply->queueRawReply({LinkFixture::Reply(CommandSet::Setpoints, CommandSet::AccessAccepted, {})});
        QCOMPARE(transport.writeSetpoints(SetpointRecord{4500, 1200}), RunTransport::Result::Refused);
        // A write that lands is done.
        QCOMPARE(transport.writeSetpoints(SetpointRecord{4500, 1200}), RunTransport::Result::Done);
        QCOMPARE(f.supply->model().setpoints().VoltageSet, 4500);
    }
};

PANEL_TEST_MAIN(TestLineRunTransport)
#include "tst_lineruntransport.moc"
