// The panel's protocol engine against the virtual supply in one process: the
// engine pumps the event loop while it waits, and the supply answers then.

#include "devicelink.h"
#include "stdoutcapture.h"
#include "traceablepattern.h"
#include "virtualsupply.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <memory>

class TestLinkWithSupply : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandsRoundTrip();
    void pacedAndSplitRepliesAreGood();
    void silentSupplyTimesOut();
    void traceableRecordsCheck();

private:
    void connectTo(const VirtualSupply::Options &options);

    std::unique_ptr<StdoutCapture> capture;  // keeps the engine's trace out of the test log
    std::unique_ptr<VirtualSupply> supply;
    std::unique_ptr<QSerialPort> port;
    DeviceLink link;
};

void TestLinkWithSupply::init()
{
    capture = std::make_unique<StdoutCapture>();
}

void TestLinkWithSupply::cleanup()
{
    port.reset();
    supply.reset();
    // The test's own failure report went into the capture too.
    const QByteArray captured = QTest::currentTestFailed() ? capture->text() : QByteArray();
    capture.reset();
    if (!captured.isEmpty())
        qWarning("%s", captured.constData());
}

void TestLinkWithSupply::connectTo(const VirtualSupply::Options &options)
{
    supply = std::make_unique<VirtualSupply>(options);
    QString error;
    QVERIFY2(supply->open(&error), qPrintable(error));
    port = std::make_unique<QSerialPort>(supply->portPath());
    QVERIFY(port->open(QIODevice::ReadWrite));
    QVERIFY(port->setBaudRate(QSerialPort::Baud9600));
    link.SetPort(port.get());
}

void TestLinkWithSupply::commandsRoundTrip()
{
    VirtualSupply::Options options;
    options.address = 7;
    connectTo(options);
    supply->model().setNoiseEnabled(false);

    QCOMPARE(link.SetSetpoints(7, 12340, 1500), GoodReply);
    QCOMPARE(link.SetOutput(7, 7066), GoodReply);
    SetpointRecord setpoints;
    QCOMPARE(link.GetSetpoints(7, setpoints), GoodReply);
    QCOMPARE(setpoints.VoltageSet, 12340);
    QCOMPARE(setpoints.CurrentSet, 1500);

    StatusRecord status;
    QCOMPARE(link.GetStatus(7, status), GoodReply);  // 12.34 V into 10 ohm: 1.234 A, CV
    QCOMPARE(status.Voltage, 1234);
    QCOMPARE(status.Current, 1234);
    QCOMPARE(status.CurrentFine, 0);
    QCOMPARE(status.CvFlag, 1);
    QCOMPARE(status.CcFlag, 0);
    QCOMPARE(status.OutputOn, 1);

    UserParamRecord user;
    QCOMPARE(link.GetUserParams(7, user, 0x01), GoodReply);
    QCOMPARE(user.CurrAdgStatus, 3);
    user.CurrAdgStatus = 4;
    QCOMPARE(link.SetUserParams(7, user, 0x11), GoodReply);
    QCOMPARE(supply->model().userParams().CurrAdgStatus, 4);

    // Another address: nobody answers.
    QCOMPARE(link.GetStatus(8, status), NoReply);
}

void TestLinkWithSupply::pacedAndSplitRepliesAreGood()
{
    VirtualSupply::Options options;
    options.pace9600 = true;
    options.split = 1.0;
    options.noise = 1.0;
    connectTo(options);
    for (int i = 0; i < 3; ++i) {
        CalibrationRecord calibration;
        QCOMPARE(link.GetCalibration(0, calibration, 0x01), GoodReply);  // 58 characters
        QCOMPARE(calibration.KuAdcVolt, 1000);
    }
    QCOMPARE(supply->repliesSent(), 3);
}

void TestLinkWithSupply::silentSupplyTimesOut()
{
    VirtualSupply::Options options;
    options.silent = true;
    connectTo(options);
    StatusRecord status;
    status.Voltage = 4321;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link.GetStatus(0, status), NoReply);
    QVERIFY(clock.elapsed() >= 200);
    QCOMPARE(status.Voltage, 4321);
    QCOMPARE(supply->receivedLines(), QList<QByteArray>{"#008001019C8A\r"});
}

void TestLinkWithSupply::traceableRecordsCheck()
{
    VirtualSupply::Options options;
    options.traceable = true;
    connectTo(options);
    StatusRecord status;
    MeasurementRecord measured;
    UserParamRecord user;
    QCOMPARE(link.GetStatus(0, status), GoodReply);
    QCOMPARE(link.GetMeasurements(0, measured), GoodReply);
    QCOMPARE(link.GetUserParams(0, user, 0x01), GoodReply);
    QVERIFY(TraceablePattern::matches(status));
    QVERIFY(TraceablePattern::matches(measured));
    QVERIFY(TraceablePattern::matches(user));
    QCOMPARE(status.Voltage, 0);   // serial 0
    QCOMPARE(measured.Vsdadc, 1);  // serial 1
}

PANEL_TEST_MAIN(TestLinkWithSupply)
#include "tst_linkwithsupply.moc"
