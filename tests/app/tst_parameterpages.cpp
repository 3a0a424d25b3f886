#include "commandset.h"
#include "devicelink.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QPushButton>

using namespace CommandSet;

class ParameterPagesTest : public QObject
{
    Q_OBJECT

private slots:
    void calibrationRoundTrip()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        // In field order: KuDacCurr 1300 is outside its box's 800 to 1200,
        // OffDacVolt -250 below its box's -200, Rout 15 above its box's 10.
        const CalibrationRecord held{1100, 900, 1300, 1000, 1010, -250, 7, -200, 200, -900, 15};
        d.supply->model().setCalibration(held);
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);
        // Nothing read from this page yet: writing would send the form's values.
        QPushButton *write = d.widget<QPushButton>("pushButtonApplyCalibr");
        QVERIFY(!write->isEnabled());

        d.widget<QPushButton>("pushButtonReadCalibr")->click();
        QTRY_COMPARE(d.widget<QSpinBox>("spinBoxKuDacVolt")->value(), 1100);
        QVERIFY(write->isEnabled());
        // Each field in its own box (the soak test checks every box against
        // the reply's layout); those beyond their box's range as read.
        QCOMPARE(d.widget<QSpinBox>("spinBoxKuDacCurr")->value(), 1300);
        QCOMPARE(d.widget<QSpinBox>("spinBoxOffDacVolt")->value(), -250);
        // The box holds the value read, and the operator no more than that.
        d.widget<QSpinBox>("spinBoxRout")->setValue(40);
        QCOMPARE(d.widget<QSpinBox>("spinBoxRout")->value(), 15);

        d.widget<QSpinBox>("spinBoxOffAdcVolt")->setValue(-17);
        d.widget<QPushButton>("pushButtonApplyCalibr")->click();
        QTRY_COMPARE(d.supply->model().calibration().OffAdcVolt, -17);
        const CalibrationRecord written = d.supply->model().calibration();
        CalibrationRecord expected = held;  // exactly what was read goes back
        expected.OffAdcVolt = -17;
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&written), sizeof written),
                 QByteArray(reinterpret_cast<const char *>(&expected), sizeof expected));

        // A new connection has read nothing of this page yet.
        d.disconnectAction()->trigger();
        QVERIFY(!write->isEnabled());
        d.connectToSupply();
        QVERIFY(!write->isEnabled());
    }

    void userParamsRoundTrip()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        // In field order, the life counter the supply's own.
        d.supply->model().setUserParams({1, d.supply->model().userParams().LifeCounter, 2, 200, 3, 50, 5, 4, 6});
        QPushButton *write = d.widget<QPushButton>("pushButtonApplyUserParam");
        QVERIFY(!write->isEnabled());
        d.connectToSupply();
        // Connecting reads the page by itself, and then it may be written.
        QTRY_COMPARE(d.widget<QSpinBox>("spinBoxCurrTrigTime")->value(), 200);
        QVERIFY(write->isEnabled());
        // The trigger time travels as one byte: the box cannot hold more.
        QSpinBox *trigTime = d.widget<QSpinBox>("spinBoxCurrTrigTime");
        QCOMPARE(trigTime->maximum(), 255);
        trigTime->setValue(300);
        QCOMPARE(trigTime->value(), 255);
        d.widget<QSpinBox>("spinBoxCurrentTrigger")->setValue(1);
        d.supply->clearReceived();
        write->click();
        QTRY_COMPARE(d.supply->model().userParams().CurrTrigTime, 255);
        QCOMPARE(d.supply->model().userParams().CurrentTrigger, 1);
        const QByteArray line = d.supply->receivedLines().at(0);
        QCOMPARE(line.mid(1, 8), QByteArray("0080AB11"));
        QCOMPARE(line.mid(11, 4), QByteArray("0000"));  // life counter never written
    }

    // A write whose acknowledgement is lost is read back once: no box when
    // the supply holds what was written, the write failure when it does not.
    void unacknowledgedWriteIsReadBack()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.connectToSupply();
        d.widget<QPushButton>("pushButtonReadCalibr")->click();
        QPushButton *write = d.widget<QPushButton>("pushButtonApplyCalibr");
        QTRY_VERIFY(write->isEnabled());

        // The supply takes the values; only its reply is lost.
        VirtualSupply::Options dropping;
        dropping.drop = 1.0;
        d.supply->setOptions(dropping);
        QObject::connect(d.supply.get(), &VirtualSupply::lineReceived, d.window.get(),
                         [&d](const QByteArray &line) {
                             if (line.startsWith("#0080A811"))
                                 d.supply->setOptions({});
                         });
        d.widget<QSpinBox>("spinBoxOffAdcVolt")->setValue(-17);
        d.supply->clearReceived();
        write->click();
        QTRY_COMPARE(d.commands().count(Calibration), 2);
        QCOMPARE(d.supply->receivedLines().at(d.commands().indexOf(Calibration)).mid(1, 8),
                 QByteArray("0080A811"));
        QCOMPARE(d.supply->receivedLines().at(d.commands().lastIndexOf(Calibration)).mid(1, 8),
                 QByteArray("0080A801"));
        QCOMPARE(d.supply->model().calibration().OffAdcVolt, -17);
        QTRY_VERIFY(d.commands().lastIndexOf(Calibration) < d.commands().size() - 2);
        QCOMPARE(closer.seen.size(), 0);

        // The write is refused with a reply that does not acknowledge it: the
        // read back finds the old value.
        d.supply->queueRawReply({QByteArray("#zz\r")});
        d.widget<QSpinBox>("spinBoxOffAdcVolt")->setValue(-18);
        write->click();
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Ошибка записи\n%1, адрес 0: источник не принял значения")
                                             .arg(d.supply->portPath()));
        QCOMPARE(d.supply->model().calibration().OffAdcVolt, -17);
    }
};

PANEL_TEST_MAIN(ParameterPagesTest)
#include "tst_parameterpages.moc"
