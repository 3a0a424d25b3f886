#include "commandset.h"
#include "devicelink.h"
#include "replyframe.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>

using namespace CommandSet;

namespace {

QByteArray Reply(quint8 command, quint8 access, const QByteArray &data)
{
    return ReplyFrame(0, command, access, data);
}

}  // namespace

class PollCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void connectReadsSetpointsThenPolls()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.supply->model().setSetpoints(12340, 1500);
        d.connectToSupply();
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxV")->value(), 12.34);
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxA")->value(), 1.5);
        QVERIFY(!d.connectAction()->isEnabled());
        QVERIFY(d.disconnectAction()->isEnabled());
        QVERIFY(!d.portBox()->isEnabled());
        QVERIFY(d.widget<QWidget>("tab")->isEnabled());
        QVERIFY(d.widget<QPushButton>("pushButtonReadCalibr")->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(d.commands().size() >= 7, 3000);
        QCOMPARE(d.commands().mid(0, 7), (QList<int>{Setpoints, Setpoints, UserParams, Status,
                                                     Measurements, Status, Measurements}));
        QCOMPARE(d.supply->receivedLines().at(0), QByteArray("#00800301") + d.supply->receivedLines().at(0).mid(9));

        d.disconnectAction()->trigger();
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonApplyCalibr")->isEnabled());
        const int sent = d.supply->receivedLines().size();
        QTest::qWait(600);
        QCOMPARE(d.supply->receivedLines().size(), sent);
    }

    void statusShowsOnDisplaysLampsAndButton()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);  // set-points twice, user parameters
        // Voltage 1234, Current 567, fine 0, CC 0, CV 1, output on.
        d.supply->queueRawReply({Reply(Status, AccessRead, QByteArray::fromHex("D204370200000101"))});
        QTRY_COMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 12.34);
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberA")->value(), 0.567);
        QCOMPARE(d.widget<QLabel>("label_cc")->pixmap(Qt::ReturnByValue).toImage(),
                 QImage(":/new/prefix1/rec/LED_OFF.png"));
        QCOMPARE(d.widget<QLabel>("label_cv")->pixmap(Qt::ReturnByValue).toImage(),
                 QImage(":/new/prefix1/rec/LED_ON_GREEN.png"));
        QCOMPARE(d.widget<QPushButton>("pushButtonOnOff")->text(), QStringLiteral("Выключить"));

        // The output is on, so the switch sends 0.
        d.supply->clearReceived();
        d.widget<QPushButton>("pushButtonOnOff")->click();
        QTRY_VERIFY(!d.supply->receivedLines().isEmpty());
        QCOMPARE(d.supply->receivedLines().at(0), DeviceLink::EncodeFrame(QByteArray::fromHex("008007110000")));
    }

    void applySendsSetpointsOnTheNextTick()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);
        d.widget<QDoubleSpinBox>("doubleSpinBoxV")->setValue(12.34);
        d.widget<QDoubleSpinBox>("doubleSpinBoxA")->setValue(1.005);
        d.supply->clearReceived();
        d.widget<QPushButton>("pushButtonApply")->click();
        QTRY_VERIFY(!d.supply->receivedLines().isEmpty());
        // 1.005 A must go out as 1005 mA, not 1004.
        QCOMPARE(d.supply->receivedLines().at(0),
                 DeviceLink::EncodeFrame(QByteArray::fromHex("008003113430ED03")));
        QTRY_COMPARE(d.supply->model().currentSetMa(), 1005);
        QTRY_COMPARE(d.commands().size(), 2);
        QVERIFY(d.commands().at(1) == Status || d.commands().at(1) == Measurements);
    }

    void silentSupplyFailsWritesFourTimesThenSaysSo()
    {
        VirtualSupply::Options options;
        options.silent = true;
        WindowDriver d(options);
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.connectToSupply();
        // The first tick's user-parameter read has no answer.
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Ошибка чтения"));

        d.supply->clearReceived();
        d.widget<QPushButton>("pushButtonApply")->click();
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 2, 3000);
        QCOMPARE(closer.seen.at(1).title, QStringLiteral("Error"));
        QCOMPARE(closer.seen.at(1).text, QStringLiteral("Ошибка записи"));
        QCOMPARE(d.commands().count(Setpoints), 4);
        // Back to monitoring afterwards, with no further box.
        QTRY_VERIFY(d.commands().contains(Status));
        QCOMPARE(d.commands().count(Setpoints), 4);
        QCOMPARE(closer.seen.size(), 2);
    }

    void disconnectDuringConnectStopsThere()
    {
        VirtualSupply::Options options;
        options.silent = true;
        WindowDriver d(options);
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        QObject::connect(d.supply.get(), &VirtualSupply::lineReceived, d.window.get(),
                         [&d] { d.disconnectAction()->trigger(); });
        d.connectToSupply();
        QCOMPARE(d.supply->receivedLines().size(), 1);
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonReadCalibr")->isEnabled());
        // No tick runs: nothing is read and no read failure is reported.
        QTest::qWait(700);
        QCOMPARE(closer.seen.size(), 0);
    }

    void clickDuringAnOperationIsNotLost()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);
        // The calibration read is requested while the user-parameter write
        // waits for its reply.
        QObject::connect(d.supply.get(), &VirtualSupply::lineReceived, d.window.get(),
                         [&d](const QByteArray &line) {
                             if (line.startsWith("#0080AB11"))
                                 d.widget<QPushButton>("pushButtonReadCalibr")->click();
                         });
        d.widget<QPushButton>("pushButtonApplyUserParam")->click();
        QTRY_VERIFY_WITH_TIMEOUT(d.commands().contains(Calibration), 2000);
        const QList<QByteArray> lines = d.supply->receivedLines();
        QVERIFY(lines.contains(DeviceLink::EncodeFrame(QByteArray::fromHex("0080A801"))));
    }

    void lostPortDisconnectsOnce()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 4);
        d.supply->closeMaster();
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.at(0).icon, QMessageBox::Critical);
        QCOMPARE(closer.seen.at(0).title, QStringLiteral("Error"));
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Потеряна связь с портом"));
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(!d.disconnectAction()->isEnabled());
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
        QTest::qWait(600);
        QCOMPARE(closer.seen.size(), 1);

        // A supply that is back can be connected again.
        d.supply = std::make_unique<VirtualSupply>();
        QString error;
        QVERIFY(d.supply->open(&error));
        d.connectToSupply();
        QVERIFY(d.disconnectAction()->isEnabled());
        QTRY_VERIFY(d.commands().size() >= 4);
        QCOMPARE(closer.seen.size(), 1);
    }
};

PANEL_TEST_MAIN(PollCycleTest)
#include "tst_pollcycle.moc"
