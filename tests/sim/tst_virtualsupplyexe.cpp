// The virtual-supply program as a user runs it: path on the first line,
// serving a serial port, clean exit on SIGTERM and SIGINT; refusing to start
// with one status for every usage error, another with the system's reason when
// its link cannot be made.

#include "devicelink.h"
#include "supplyprogram.h"
#include "testmain.h"

#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>

#include <csignal>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray error;
    QByteArray output;
};

Outcome Run(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VIRTUAL_SUPPLY_EXE), arguments);
    Outcome outcome;
    if (!process.waitForFinished(5000))
        return outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.error = process.readAllStandardError();
    outcome.output = process.readAllStandardOutput();
    return outcome;
}

}  // namespace

class TestVirtualSupplyExe : public QObject
{
    Q_OBJECT

private slots:
    void servesUntilTerminated_data();
    void servesUntilTerminated();
    void usageErrorsShareOneStatus_data();
    void usageErrorsShareOneStatus();
    void linkThatCannotBeMadeSaysWhy();
    void servesSeveralAddresses();

private:
    // Starts the program and returns the first line of its output.
    QString start(QProcess &process, const QStringList &arguments);
    QByteArray exchange(QSerialPort &port, const QByteArray &request);
};

QString TestVirtualSupplyExe::start(QProcess &process, const QStringList &arguments)
{
    return StartSupplyProgram(process, QStringLiteral(VIRTUAL_SUPPLY_EXE), arguments);
}

QByteArray TestVirtualSupplyExe::exchange(QSerialPort &port, const QByteArray &request)
{
    port.write(request);
    QByteArray reply;
    while (!reply.contains('\r') && port.waitForReadyRead(500))
        reply += port.readAll();
    QByteArray bytes;
    DeviceLink::DecodeLine(reply, bytes);
    return bytes;
}

void TestVirtualSupplyExe::servesUntilTerminated_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestVirtualSupplyExe::servesUntilTerminated()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString link = dir.filePath("psu");
    QProcess process;
    const QString path = start(process, {"--address", "3", "--load", "2", "--link", link});
    QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    QSerialPort port;
    port.setPortName(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.setBaudRate(QSerialPort::Baud9600));

    // Served through the link (its replies: servesSeveralAddresses).
    QCOMPARE(exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("03800101"))).left(4),
             QByteArray::fromHex("80030101"));
    port.close();

    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(process.readAllStandardError().contains("serving at address 3"));
}

void TestVirtualSupplyExe::usageErrorsShareOneStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("named");
    QTest::newRow("stray argument") << QStringList{"--pace", "extra"} << QByteArray("\"extra\"");
    QTest::newRow("unknown option") << QStringList{"--fast"} << QByteArray("fast");
    QTest::newRow("missing value") << QStringList{"--address"} << QByteArray("address");
    QTest::newRow("bad probability") << QStringList{"--drop", "1.5"} << QByteArray("--drop");
    QTest::newRow("address twice") << QStringList{"--address", "1,2,1"} << QByteArray("address 1 is given twice");
    QTest::newRow("address list") << QStringList{"--address", "1,,2"} << QByteArray("--address");
    QTest::newRow("load of another") << QStringList{"--address", "1,2", "--load", "3=4.7"}
                                     << QByteArray("address 3 is not served");
    QTest::newRow("load value") << QStringList{"--load", "2=x"} << QByteArray("N=OHMS");
    QTest::newRow("silent address") << QStringList{"--silent-address", "256"}
                                    << QByteArray("--silent-address");
}

void TestVirtualSupplyExe::usageErrorsShareOneStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, named);
    const Outcome outcome = Run(arguments);
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY(outcome.output.isEmpty());
    QVERIFY2(outcome.error.startsWith("virtual-supply: "), outcome.error.constData());
    QVERIFY2(outcome.error.contains(named), outcome.error.constData());
    QCOMPARE(outcome.error.count('\n'), 1);
}

void TestVirtualSupplyExe::linkThatCannotBeMadeSaysWhy()
{
    QTemporaryDir dir;
    const Outcome missing = Run({"--link", dir.filePath("no/such/folder/psu")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.error.contains("No such file or directory"), missing.error.constData());

    QFile regular(dir.filePath("taken"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    const Outcome taken = Run({"--link", regular.fileName()});
    QCOMPARE(taken.exitCode, 1);
    QVERIFY2(taken.error.contains("not a symbolic link"), taken.error.constData());
    QVERIFY(QFileInfo(regular.fileName()).isFile());
}

void TestVirtualSupplyExe::servesSeveralAddresses()
{
    QProcess process;
    const QString path = start(process, {"--address", "1,2,5", "--load", "4", "--load", "2=2",
                                         "--silent-address", "5", "--silent-address", "9"});
    QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
    QSerialPort port;
    port.setPortName(path);
    QVERIFY(port.open(QIODevice::ReadWrite));

    // Switching 2 on leaves 1 off: each supply has its own model and load.
    // 5 V into 2 ohm is above the 1 A limit (CC); into 4 ohm it is 1.25 A,
    // CC as well, but only once switched on.
    const QByteArray ack = exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("028007119A1B")));
    QCOMPARE(ack.left(4), QByteArray::fromHex("8002071F"));
    const QByteArray two = exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("02800101")));
    QCOMPARE(two.left(4), QByteArray::fromHex("80020101"));
    auto u16 = [](const QByteArray &bytes, int at) { return quint8(bytes.at(at)) | quint8(bytes.at(at + 1)) << 8; };
    QCOMPARE((QList<int>{u16(two, 4), u16(two, 6), two.at(9), two.at(11)}), (QList<int>{200, 1000, 1, 1}));
    const QByteArray one = exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("01800101")));
    QCOMPARE(one.left(4), QByteArray::fromHex("80010101"));
    QCOMPARE(int(one.at(11)), 0);
    QCOMPARE(exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("018007119A1B"))).size(), 6);
    const QByteArray oneOn = exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("01800101")));
    // 5 V into 4 ohm: 1.25 A wanted, held at 1 A: CC at 4 V.
    QCOMPARE((QList<int>{u16(oneOn, 4), u16(oneOn, 6), oneOn.at(9), oneOn.at(11)}),
             (QList<int>{400, 1000, 1, 1}));

    // Silent supplies, and addresses not served, never answer.
    for (const char *request : {"05800101", "09800101", "03800101"})
        QVERIFY(exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex(request))).isEmpty());
    port.close();
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardError().contains("serving at addresses 1, 2, 5, 9"));
}

PANEL_TEST_MAIN(TestVirtualSupplyExe)
#include "tst_virtualsupplyexe.moc"
