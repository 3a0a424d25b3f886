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
        CalibrationRecord held;
        held.KuDacVolt = 1100;
        held.KuAdcVolt = 900;
        held.KuDacCurr = 1300;  // outside its box: shown as 1200
        held.KuAdcCurr = 1000;
        held.KuAdcCurrFine = 1010;
        held.OffDacVolt = -5;
        held.OffAdcVolt = 7;
        held.OffDacCurr = -200;
        held.OffAdcCurr = 200;
        held.OffAdcCurrFine = -900;
        held.Rout = 3;
        d.supply->model().setCalibration(held);
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);

        d.widget<QPushButton>("pushButtonReadCalibr")->click();
        QTRY_COMPARE(d.widget<QSpinBox>("spinBoxKuDacVolt")->value(), 1100);
        QCOMPARE(d.widget<QSpinBox>("spinBoxKuDacCurr")->value(), 1200);
        QCOMPARE(d.widget<QSpinBox>("spinBoxKuAdcCurrFune")->value(), 1010);
        QCOMPARE(d.widget<QSpinBox>("spinBoxOffAdcCurrFine")->value(), -900);
        QCOMPARE(d.widget<QSpinBox>("spinBoxOffDacVolt")->value(), -5);
        QCOMPARE(d.widget<QSpinBox>("spinBoxRout")->value(), 3);

        d.widget<QSpinBox>("spinBoxOffAdcVolt")->setValue(-17);
        d.widget<QPushButton>("pushButtonApplyCalibr")->click();
        QTRY_COMPARE(d.supply->model().calibration().OffAdcVolt, -17);
        const CalibrationRecord written = d.supply->model().calibration();
        QCOMPARE(written.KuDacCurr, 1200);  // the clamped value goes back
        QCOMPARE(written.KuAdcCurrFine, 1010);
        QCOMPARE(written.OffAdcCurrFine, -900);
        QCOMPARE(written.OffDacCurr, -200);
        QCOMPARE(written.Rout, 3);
    }

    void userParamsRoundTrip()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        UserParamRecord held = d.supply->model().userParams();
        held.CurrTrigTime = 200;
        held.VoltmetrTime = 50;
        held.CurrAdgStatus = 4;
        d.supply->model().setUserParams(held);
        d.connectToSupply();
        // Connecting reads the page by itself.
        QTRY_COMPARE(d.widget<QSpinBox>("spinBoxCurrTrigTime")->value(), 200);
        QCOMPARE(d.widget<QSpinBox>("spinBoxVoltmetrTime")->value(), 50);
        QCOMPARE(d.widget<QSpinBox>("spinBoxCurrAdgStatus")->value(), 4);

        // The trigger time travels as one byte: the box cannot hold more.
        QSpinBox *trigTime = d.widget<QSpinBox>("spinBoxCurrTrigTime");
        QCOMPARE(trigTime->maximum(), 255);
        trigTime->setValue(300);
        QCOMPARE(trigTime->value(), 255);
        d.widget<QSpinBox>("spinBoxCurrentTrigger")->setValue(1);
        d.supply->clearReceived();
        d.widget<QPushButton>("pushButtonApplyUserParam")->click();
        QTRY_COMPARE(d.supply->model().userParams().CurrTrigTime, 255);
        QCOMPARE(d.supply->model().userParams().CurrentTrigger, 1);
        const QByteArray line = d.supply->receivedLines().at(0);
        QCOMPARE(line.mid(1, 8), QByteArray("0080AB11"));
        QCOMPARE(line.mid(11, 4), QByteArray("0000"));  // life counter never written
    }

    void failedReadKeepsThePage()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);
        VirtualSupply::Options silent;
        silent.silent = true;
        d.supply->setOptions(silent);
        d.widget<QSpinBox>("spinBoxRout")->setValue(4);
        d.widget<QPushButton>("pushButtonReadCalibr")->click();
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Ошибка чтения"));
        QCOMPARE(d.widget<QSpinBox>("spinBoxRout")->value(), 4);
        // Not retried: monitoring resumes.
        const int calibrationReads = d.commands().count(Calibration);
        QTest::qWait(600);
        QCOMPARE(d.commands().count(Calibration), calibrationReads);
        QCOMPARE(closer.seen.size(), 1);
    }
};

PANEL_TEST_MAIN(ParameterPagesTest)
#include "tst_parameterpages.moc"
