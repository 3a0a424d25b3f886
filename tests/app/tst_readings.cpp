#include "commandset.h"
#include "devicelink.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>

namespace {

QImage Lamp(const WindowDriver &d, const char *name)
{
    return d.widget<QLabel>(name)->pixmap(Qt::ReturnByValue).toImage();
}

const char LampOff[] = ":/new/prefix1/rec/LED_OFF.png";
const char LampGreen[] = ":/new/prefix1/rec/LED_ON_GREEN.png";

}  // namespace

class ReadingsTest : public QObject
{
    Q_OBJECT

private slots:
    // 5 V on 10 ohms draws 0.5 A, which the supply reports in 0.1 mA; on
    // 2 ohms 2.5 A, in mA.
    void currentShowsInAmperesInBothResolutions()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.supply->model().setSetpoints(5000, 3000);
        d.supply->model().setOutputOn(true);
        d.connectToSupply();
        QLCDNumber *amperes = d.widget<QLCDNumber>("lcdNumberA");
        QTRY_COMPARE(amperes->value(), 0.5);
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 5.0);
        d.supply->model().setLoadOhms(2);
        QTRY_COMPARE(amperes->value(), 2.5);
    }

    // A supply that stops answering leaves the last values dimmed and the
    // lamps dark, without a message; the next good status brings them back.
    void readingsGoStaleWhenTheSupplyFallsSilent()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.supply->model().setOutputOn(true);
        d.connectToSupply();
        QLCDNumber *volts = d.widget<QLCDNumber>("lcdNumberV");
        QTRY_COMPARE(volts->value(), 5.0);
        QTRY_COMPARE(Lamp(d, "label_cv"), QImage(LampGreen));
        QVERIFY(volts->isEnabled());
        QTRY_VERIFY(d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->value() > 0);
        const double vin = d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->value();

        VirtualSupply::Options silent;
        silent.silent = true;
        d.supply->setOptions(silent);
        QTRY_VERIFY(!volts->isEnabled());
        QVERIFY(!d.widget<QLCDNumber>("lcdNumberA")->isEnabled());
        QCOMPARE(volts->value(), 5.0);
        QCOMPARE(Lamp(d, "label_cv"), QImage(LampOff));
        QCOMPARE(Lamp(d, "label_cc"), QImage(LampOff));
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->value(), vin);
        QVERIFY(closer.seen.isEmpty());

        d.supply->setOptions({});
        QTRY_VERIFY(volts->isEnabled());
        QVERIFY(d.widget<QLCDNumber>("lcdNumberA")->isEnabled());
        QCOMPARE(Lamp(d, "label_cv"), QImage(LampGreen));
        QVERIFY(closer.seen.isEmpty());
    }

    // Clicked before any status was read: the switch asks the output's state
    // first, in the same tick, and turns an output that is on off.
    void switchRightAfterConnectingGoesTheRightWay()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.supply->model().setOutputOn(true);
        d.connectToSupply();
        d.widget<QPushButton>("pushButtonOnOff")->click();
        QTRY_VERIFY(!d.supply->model().outputOn());
        using namespace CommandSet;
        QCOMPARE(d.commands().mid(0, 4), (QList<int>{Setpoints, Setpoints, Status, Output}));
        QCOMPARE(d.supply->receivedLines().at(3),
                 DeviceLink::EncodeFrame(QByteArray::fromHex("008007110000")));
    }
};

PANEL_TEST_MAIN(ReadingsTest)
#include "tst_readings.moc"
