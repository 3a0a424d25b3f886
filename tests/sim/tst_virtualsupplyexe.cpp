// The virtual-supply program as a user runs it: path on the first line,
// serving a serial port, clean exit on SIGTERM and SIGINT.

#include "devicelink.h"
#include "supplyprogram.h"
#include "testmain.h"

#include <QProcess>
#include <QSerialPort>

#include <csignal>

namespace {

quint16 crcOver(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::CrcStep(crc, quint8(byte));
    return crc;
}

}  // namespace

class TestVirtualSupplyExe : public QObject
{
    Q_OBJECT

private slots:
    void servesUntilTerminated_data();
    void servesUntilTerminated();
    void rejectsABadProbability();

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
    while (!reply.contains('\r') && port.waitForReadyRead(1000))
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

    // Switch on: 5 V into 2 ohm is above the 1 A limit, so CC.
    const QByteArray ack = exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("038007119A1B")));
    QCOMPARE(ack.size(), 6);
    QCOMPARE(quint8(ack.at(3)), quint8(0x1F));
    const QByteArray status = exchange(port, DeviceLink::EncodeFrame(QByteArray::fromHex("03800101")));
    QCOMPARE(status.size(), 14);
    QCOMPARE(crcOver(status), quint16(0));
    QCOMPARE(status.left(4), QByteArray::fromHex("80030101"));
    QCOMPARE(int(status.at(9)), 1);   // CC
    QCOMPARE(int(status.at(11)), 1);  // output on
    port.close();

    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(process.readAllStandardError().contains("serving at address 3"));
}

void TestVirtualSupplyExe::rejectsABadProbability()
{
    QProcess process;
    process.start(QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--drop", "1.5"});
    QVERIFY(process.waitForFinished(5000));
    QVERIFY(process.exitCode() != 0);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(process.readAllStandardError().contains("--drop"));
}

PANEL_TEST_MAIN(TestVirtualSupplyExe)
#include "tst_virtualsupplyexe.moc"
