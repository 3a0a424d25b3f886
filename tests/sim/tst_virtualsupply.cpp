// The virtual supply: its model, and on its pseudo-terminal through a real
// serial port in the same process, its exact replies, silences and faults.
// Writes, layouts and late replies are driven through the link in its tests.

#include "devicelink.h"
#include "traceablepattern.h"
#include "virtualsupply.h"
#include "testmain.h"

#include <QSerialPort>
#include <QSignalSpy>

namespace {

// The panel's side of the line.
class Client
{
public:
    bool attach(VirtualSupply &supply) { return supply.open(nullptr) && open(supply.portPath()); }
    bool open(const QString &path)
    {
        port.setPortName(path);
        return port.open(QIODevice::ReadWrite) && port.setBaudRate(QSerialPort::Baud9600);
    }

    void send(const QByteArray &text)
    {
        port.write(text);
        port.flush();
    }

    // Everything received until a carriage return, or the time runs out.
    QByteArray collect()
    {
        // On a time-out the caller sees what did arrive and judges that.
        static_cast<void>(QTest::qWaitFor([&] {
            received += port.readAll();
            return received.contains('\r');
        }, 1000));
        received += port.readAll();
        const QByteArray all = received;
        received.clear();
        return all;
    }

    QByteArray exchange(const QByteArray &text) { send(text); return collect(); }

    QSerialPort port;
    QByteArray received;
};

QByteArray decoded(const QByteArray &text)
{
    QByteArray bytes;
    if (DeviceLink::DecodeLine(text, bytes) < 0)
        return {};
    return bytes;
}

quint16 crcOver(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::CrcStep(crc, quint8(byte));
    return crc;
}

VirtualSupply::Options atAddress(quint8 address)
{
    VirtualSupply::Options options;
    options.address = address;
    return options;
}

}  // namespace

class TestVirtualSupply : public QObject
{
    Q_OBJECT

private slots:
    void modelRegulatesAndTracesItsReplies();
    void statusReplyIsExact();
    void silentForWhatIsNotForIt();
    void faultsAreReproducible();
};

void TestVirtualSupply::modelRegulatesAndTracesItsReplies()
{
    // 5 V with a 1 A limit: on, ohms; then 10 mV, current, fine, CC, CV.
    const struct { bool on; double ohms; int row[5]; } cases[] = {
        {true, 10.0, {500, 5000, 1, 0, 1}},  // CV, 500 mA counted in 0.1 mA
        {true, 2.0, {200, 1000, 0, 1, 0}},   // CC at 1 A, 2 V
        {true, 0.0, {500, 0, 1, 0, 1}},      // open circuit
        {false, 10.0, {0, 0, 1, 0, 0}}};     // off: nothing, no lamp
    for (const auto &c : cases) {
        SupplyModel model;
        model.setOutputOn(c.on);
        model.setLoadOhms(c.ohms);
        const StatusRecord s = model.status();
        QCOMPARE((QList<int>{s.Voltage, s.Current, s.CurrentFine, s.CcFlag, s.CvFlag}),
                 (QList<int>{c.row[0], c.row[1], c.row[2], c.row[3], c.row[4]}));
    }

    // The soak tells a reply's origin by this pattern: any altered byte, or
    // another command, breaks it.
    const QByteArray status = TraceablePattern::data(0x01, 8, 0x1234);
    QCOMPARE(status.toHex(), QByteArray("341291b6db00254a"));
    QVERIFY(TraceablePattern::matches(0x01, status) && !TraceablePattern::matches(0x10, status));
    for (int k = 0; k < status.size(); ++k) {
        QByteArray altered = status;
        altered[k] = char(altered.at(k) ^ 0x04);
        QVERIFY(!TraceablePattern::matches(0x01, altered));
    }
}

void TestVirtualSupply::statusReplyIsExact()
{
    VirtualSupply supply(atAddress(1));
    QString error;
    QVERIFY2(supply.open(&error), qPrintable(error));
    QVERIFY(supply.portPath().startsWith("/dev/pts/"));
    supply.model().setOutputOn(true);  // 5 V into 10 ohm: 500 mA, CV
    supply.model().setNoiseEnabled(false);
    Client client;
    QVERIFY(client.open(supply.portPath()));
    QSignalSpy lines(&supply, &VirtualSupply::lineReceived);

    const QByteArray reply = client.exchange("#01800101EA3E\r");
    QCOMPARE(reply, QByteArray("#80010101F401881301000101EEB8\r"));
    QCOMPARE(crcOver(decoded(reply)), quint16(0));
    QCOMPARE(lines.count(), 1);
    QCOMPARE(supply.receivedLines(), QList<QByteArray>{"#01800101EA3E\r"});
    QCOMPARE(supply.repliesSent(), 1);
}

void TestVirtualSupply::silentForWhatIsNotForIt()
{
    VirtualSupply supply(atAddress(1));
    Client client;
    QVERIFY(client.attach(supply));
    QSignalSpy lines(&supply, &VirtualSupply::lineReceived);

    const QList<QByteArray> ignored = {
        "#01800101EA3F\r",           // bad CRC
        "#02800101" "71E2\r",        // another supply's address, good CRC
        "#01800155" "2845\r",        // unknown command, good CRC
        "#01800101ea3e\r",           // lowercase: does not decode
        "#0180010\r",                // odd length
    };
    for (const QByteArray &line : ignored)
        client.send(line);
    QTRY_COMPARE(lines.count(), ignored.size());
    QCOMPARE(supply.requestsIgnored(), ignored.size());
    QCOMPARE(supply.repliesSent(), 0);

    // The one good request after them gets the only reply on the line.
    const QByteArray reply = client.exchange("junk before #01800101EA3E\r");
    QCOMPARE(reply.count('#'), 1);
    QCOMPARE(decoded(reply).size(), 14);
    QCOMPARE(supply.receivedLines(), ignored + QList<QByteArray>{"#01800101EA3E\r"});
}

void TestVirtualSupply::faultsAreReproducible()
{
    // Each run: 16 status requests, one at a time; what the client sees for
    // each, empty when the reply was dropped.
    auto run = [](quint32 seed) {
        VirtualSupply::Options options = atAddress(1);
        options.seed = seed;
        options.drop = options.corrupt = options.split = options.noise = 0.3;
        VirtualSupply supply(options);
        supply.model().setNoiseEnabled(false);
        QList<QByteArray> seen;
        Client client;
        if (!client.attach(supply))
            return seen;
        QSignalSpy lines(&supply, &VirtualSupply::lineReceived);
        for (int i = 0; i < 16; ++i) {
            const int sentBefore = supply.repliesSent();
            client.send("#01800101EA3E\r");
            if (!QTest::qWaitFor([&] { return lines.count() == i + 1 && supply.isIdle(); }, 1000))
                return seen;
            seen.append(supply.repliesSent() > sentBefore ? client.collect() : QByteArray());
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

PANEL_TEST_MAIN(TestVirtualSupply)
#include "tst_virtualsupply.moc"
