// The virtual supply on its pseudo-terminal, driven through a real serial port
// in the same process, as the control panel and its tests drive it.

#include "devicelink.h"
#include "virtualsupply.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSignalSpy>

namespace {

// The panel's side of the line.
class Client
{
public:
    bool open(const QString &path)
    {
        port.setPortName(path);
        if (!port.open(QIODevice::ReadWrite))
            return false;
        return port.setBaudRate(QSerialPort::Baud9600) && port.setDataBits(QSerialPort::Data8)
            && port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop);
    }

    void send(const QByteArray &text)
    {
        port.write(text);
        port.flush();
    }

    // Everything received until it holds `count` carriage returns, or the
    // time runs out.
    QByteArray collect(int count = 1, int timeoutMs = 1000)
    {
        // On a time-out the caller sees what did arrive and judges that.
        static_cast<void>(QTest::qWaitFor([&] {
            received += port.readAll();
            return received.count('\r') >= count;
        }, timeoutMs));
        received += port.readAll();
        const QByteArray all = received;
        received.clear();
        return all;
    }

    QByteArray exchange(const QByteArray &text)
    {
        send(text);
        return collect();
    }

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

QByteArray readRequest(quint8 address, quint8 command)
{
    return DeviceLink::EncodeFrame(QByteArray() + char(address) + char(0x80) + char(command) + char(0x01));
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
    void initTestCase();
    void statusReplyIsExact();
    void silentForWhatIsNotForIt();
    void writesAreAcknowledgedAndTaken();
    void loadFlipsCvAndCc();
    void rawRepliesArriveAsQueued();
    void faultsAreReproducible();
    void lateReplyMissesTheTimeOut();
    void pacedReplyTakesTheLineTime();
    void closedMasterFailsTheClient();
};

void TestVirtualSupply::initTestCase()
{
    qRegisterMetaType<QSerialPort::SerialPortError>();
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
    const QByteArray bytes = decoded(reply);
    QCOMPARE(bytes.size(), 14);
    QCOMPARE(crcOver(bytes), quint16(0));
    QCOMPARE(lines.count(), 1);
    QCOMPARE(supply.receivedLines(), QList<QByteArray>{"#01800101EA3E\r"});
    QCOMPARE(supply.repliesSent(), 1);
    supply.clearReceived();
    QVERIFY(supply.receivedLines().isEmpty());
}

void TestVirtualSupply::silentForWhatIsNotForIt()
{
    VirtualSupply supply(atAddress(1));
    QVERIFY(supply.open(nullptr));
    Client client;
    QVERIFY(client.open(supply.portPath()));
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

    // Silence as an option: lines are still received and listed.
    VirtualSupply::Options silent = supply.options();
    silent.silent = true;
    supply.setOptions(silent);
    client.send("#01800101EA3E\r");
    QTRY_COMPARE(lines.count(), ignored.size() + 2);
    QCOMPARE(supply.repliesSent(), 1);
}

void TestVirtualSupply::writesAreAcknowledgedAndTaken()
{
    VirtualSupply supply(atAddress(1));
    QVERIFY(supply.open(nullptr));
    Client client;
    QVERIFY(client.open(supply.portPath()));

    // 12.34 V, 1.5 A.
    QByteArray ack = client.exchange("#018003113430DC059EAD\r");
    QCOMPARE(ack, QByteArray("#8001031FD845\r"));
    QCOMPARE(supply.model().voltageSetMv(), 12340);
    QCOMPARE(supply.model().currentSetMa(), 1500);
    const QByteArray setpoints = decoded(client.exchange(readRequest(1, 0x03)));
    QCOMPARE(setpoints.mid(4, 4), QByteArray::fromHex("3430DC05"));

    ack = client.exchange("#018007119A1B1864\r");
    QCOMPARE(ack, QByteArray("#8001071F1481\r"));
    QVERIFY(supply.model().outputOn());
    QCOMPARE(supply.receivedLines().first(), QByteArray("#018003113430DC059EAD\r"));
    QCOMPARE(supply.receivedLines().last(), QByteArray("#018007119A1B1864\r"));
}

void TestVirtualSupply::loadFlipsCvAndCc()
{
    VirtualSupply supply(atAddress(0));
    QVERIFY(supply.open(nullptr));
    supply.model().setOutputOn(true);
    Client client;
    QVERIFY(client.open(supply.portPath()));
    auto flags = [&client] {
        const QByteArray bytes = decoded(client.exchange(readRequest(0, 0x01)));
        return bytes.size() == 14 ? QPair<int, int>(bytes.at(9), bytes.at(10)) : QPair<int, int>(-1, -1);
    };
    QCOMPARE(flags(), qMakePair(0, 1));  // 10 ohm: CV
    supply.model().setLoadOhms(1.0);
    QCOMPARE(flags(), qMakePair(1, 0));  // 1 ohm would draw 5 A: CC
    supply.model().setLoadOhms(0);
    QCOMPARE(flags(), qMakePair(0, 1));
}

void TestVirtualSupply::rawRepliesArriveAsQueued()
{
    VirtualSupply supply(atAddress(1));
    QVERIFY(supply.open(nullptr));
    Client client;
    QVERIFY(client.open(supply.portPath()));

    supply.queueRawReply({"#80", "0101", "F4\r"}, 30);
    supply.queueRawReply({"#8001031F0000\r", "#8001031FD845\r"});  // two frames in one write
    QCOMPARE(supply.queuedRawReplies(), 2);

    QElapsedTimer clock;
    clock.start();
    client.send("#FF not even a frame\r");  // any line takes a queued reply
    QCOMPARE(client.collect(), QByteArray("#800101F4\r"));
    QVERIFY2(clock.elapsed() >= 55, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(client.exchange("#01800101EA3E\r"), QByteArray("#8001031F0000\r#8001031FD845\r"));
    QCOMPARE(supply.queuedRawReplies(), 0);
    QCOMPARE(decoded(client.exchange("#01800101EA3E\r")).size(), 14);  // the model again
    QCOMPARE(supply.repliesSent(), 3);
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
        if (!supply.open(nullptr))
            return seen;
        Client client;
        if (!client.open(supply.portPath()))
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
    int dropped = 0, damaged = 0, intact = 0;
    for (const QByteArray &text : first) {
        if (text.isEmpty())
            ++dropped;
        else if (text == clean)
            ++intact;
        else
            ++damaged;
    }
    QVERIFY2(dropped > 0 && damaged > 0 && intact > 0,
             qPrintable(QStringLiteral("%1 %2 %3").arg(dropped).arg(damaged).arg(intact)));
}

void TestVirtualSupply::lateReplyMissesTheTimeOut()
{
    VirtualSupply::Options options = atAddress(1);
    options.late = 1.0;
    VirtualSupply supply(options);
    QVERIFY(supply.open(nullptr));
    Client client;
    QVERIFY(client.open(supply.portPath()));
    QElapsedTimer clock;
    clock.start();
    const QByteArray reply = client.exchange("#01800101EA3E\r");
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(decoded(reply).size(), 14);
    QVERIFY2(elapsed >= 205 && elapsed < 400, qPrintable(QString::number(elapsed)));
}

void TestVirtualSupply::pacedReplyTakesTheLineTime()
{
    VirtualSupply::Options options = atAddress(1);
    options.pace9600 = true;
    VirtualSupply supply(options);
    QVERIFY(supply.open(nullptr));
    Client client;
    QVERIFY(client.open(supply.portPath()));
    QElapsedTimer clock;
    clock.start();
    const QByteArray reply = client.exchange(readRequest(1, 0xA8));  // 58 characters
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(reply.size(), 58);
    QCOMPARE(crcOver(decoded(reply)), quint16(0));
    // 57 character times after the first: 59.4 ms.
    QVERIFY2(elapsed >= 58 && elapsed < 250, qPrintable(QString::number(elapsed)));
}

void TestVirtualSupply::closedMasterFailsTheClient()
{
    VirtualSupply supply(atAddress(1));
    QVERIFY(supply.open(nullptr));
    Client client;
    QVERIFY(client.open(supply.portPath()));
    QCOMPARE(decoded(client.exchange("#01800101EA3E\r")).size(), 14);

    QSignalSpy errors(&client.port, &QSerialPort::errorOccurred);
    supply.closeMaster();
    client.send("#01800101EA3E\r");
    QTRY_VERIFY(!errors.isEmpty());
    QCOMPARE(errors.first().first().value<QSerialPort::SerialPortError>(), QSerialPort::ResourceError);
    QCOMPARE(supply.repliesSent(), 1);
}

PANEL_TEST_MAIN(TestVirtualSupply)
#include "tst_virtualsupply.moc"
