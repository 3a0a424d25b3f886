#include "commandset.h"
#include "devicelink.h"
#include "livechart.h"
#include "replyframe.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

using namespace CommandSet;

namespace {

QByteArray Reply(quint8 command, quint8 access, const QByteArray &data)
{
    return ReplyFrame(0, command, access, data);
}

QImage Lamp(const WindowDriver &d, const char *name)
{
    return d.widget<QLabel>(name)->pixmap(Qt::ReturnByValue).toImage();
}

const char LampOff[] = ":/new/prefix1/rec/LED_OFF.png";
const char LampGreen[] = ":/new/prefix1/rec/LED_ON_GREEN.png";

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
        QVERIFY(!d.portBox()->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(d.commands().size() >= 7, 3000);
        QCOMPARE(d.commands().mid(0, 7), (QList<int>{Setpoints, Setpoints, UserParams, Status,
                                                     Measurements, Status, Measurements}));
        QCOMPARE(d.supply->receivedLines().at(0), QByteArray("#00800301FAE8\r"));

        d.disconnectAction()->trigger();
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonApplyCalibr")->isEnabled());
        const int sent = d.supply->receivedLines().size();
        QTest::qWait(600);
        QCOMPARE(d.supply->receivedLines().size(), sent);
    }

    void readingsShowOnDisplaysLampsAndPages()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        QTRY_COMPARE(d.commands().size(), 3);  // set-points twice, user parameters
        // Voltage 1234, Current 567, fine 0, CC 1, CV 0, output off; then the
        // measurements 12345 mV, 1500 mA, 25.3 degC, Vin 24000, Vref 2500 and
        // Vpwm 13000 mV.
        d.supply->queueRawReply({Reply(Status, AccessRead, QByteArray::fromHex("D204370200010000"))});
        d.supply->queueRawReply({Reply(Measurements, AccessRead, QByteArray::fromHex("3930DC05FD00C05DC409C832"))});
        QTRY_COMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 12.34);
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberA")->value(), 0.567);
        QVERIFY(!Lamp(d, "label_cc").isNull());
        QCOMPARE(Lamp(d, "label_cc"), QImage(":/new/prefix1/rec/LED_ON_RED.png"));
        QCOMPARE(Lamp(d, "label_cv"), QImage(LampOff));
        QCOMPARE(d.widget<QPushButton>("pushButtonOnOff")->text(), QStringLiteral("Включить"));
        QTRY_COMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxVsdadc")->value(), 12.345);
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxVref")->value(), 2.5);  // before Vpwm
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxVpwm")->value(), 13.0);
        // The largest voltage fills the four digits; a current below zero shows 0.
        d.supply->queueRawReply({Reply(Status, AccessRead, QByteArray::fromHex("FFFFFFFF00000000"))});
        QTRY_COMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 99.99);
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberA")->value(), 0.0);
        QVERIFY(!d.widget<QLCDNumber>("lcdNumberV")->checkOverflow(99.99));
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
        QCOMPARE(d.supply->receivedLines().at(0), QByteArray("#008003113430ED038F1C\r"));
        QTRY_COMPARE(d.supply->model().currentSetMa(), 1005);
        QTRY_COMPARE(d.commands().size(), 2);
        QVERIFY(d.commands().at(1) == Status || d.commands().at(1) == Measurements);
    }

    void silentSupplyFailsWritesFourTimesThenSaysSo()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.connectToSupply();
        // The set-points are known, then the supply falls silent.
        QTRY_VERIFY(d.commands().contains(Status));
        d.supply->setOptions(Silent());

        // Four tries a tick apart, then one box; the soak holds every failed
        // request to one box under random faults, tst_linktransactions the
        // line to its cap of unanswered requests.
        QElapsedTimer timer;
        timer.start();
        d.widget<QPushButton>("pushButtonApply")->click();
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 1, 3000);
        QVERIFY(timer.elapsed() >= 3 * 250);
        // Under the message: the port, the address and what happened.
        const QString failure = QStringLiteral("Ошибка записи\n%1, адрес 0: нет ответа за 200 мс").arg(d.supply->portPath());
        QCOMPARE(closer.seen.at(0).text, failure);
        // Back to monitoring afterwards, with no further write or box.
        const auto writes = [&d] {
            int n = 0;
            for (const QByteArray &line : d.supply->receivedLines())
                n += line.startsWith("#00800311");
            return n;
        };
        const int written = writes();
        QTest::qWait(1100);
        QCOMPARE(writes(), written);
        QCOMPARE(closer.seen.size(), 1);

        // A second Apply during the tries starts four new ones.
        timer.restart();
        d.widget<QPushButton>("pushButtonApply")->click();
        QTimer::singleShot(400, d.widget<QPushButton>("pushButtonApply"), &QPushButton::click);
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 2, 4000);
        QVERIFY(timer.elapsed() >= 400 + 3 * 250);
        QCOMPARE(closer.seen.at(1).text, failure);

        // Another request replaces the retrying write: the calibration read
        // and its own failure only.
        d.widget<QPushButton>("pushButtonApply")->click();
        QTimer::singleShot(400, d.widget<QPushButton>("pushButtonReadCalibr"), &QPushButton::click);
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 3, 3000);
        QVERIFY(closer.seen.at(2).text.startsWith(QStringLiteral("Ошибка чтения\n")));
        QTest::qWait(1100);
        QCOMPARE(closer.seen.size(), 3);
    }

    // With a notice open and active, the output switch can still be clicked,
    // and its shortcut (named in its tool tip) switches the output off from
    // any page; the shortcut never switches it on.
    void outputSwitchReachableWhileANoticeIsOpen()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.supply->model().setOutputOn(true);
        d.connectToSupply();
        auto *onOff = d.widget<QPushButton>("pushButtonOnOff");
        QTRY_COMPARE(onOff->text(), QStringLiteral("Выключить"));
        QVERIFY2(onOff->toolTip().contains(QStringLiteral("F12")), qPrintable(onOff->toolTip()));
        d.supply->setOptions(Silent());
        d.widget<QPushButton>("pushButtonReadUserParam")->click();
        QTRY_COMPARE(VisibleNotices(d.window.get()).size(), 1);
        QMessageBox *notice = VisibleNotices(d.window.get()).at(0);
        d.supply->setOptions({});
        d.widget<QTabWidget>("tabWidget")->setCurrentIndex(3);
        QApplication::setActiveWindow(notice);
        QVERIFY(QTest::qWaitForWindowActive(notice));
        QTest::keyClick(notice, Qt::Key_F12);
        QTRY_VERIFY(!d.supply->model().outputOn());
        QTRY_COMPARE(onOff->text(), QStringLiteral("Включить"));
        // Off stays off.
        QTest::keyClick(notice, Qt::Key_F12);
        QTRY_COMPARE(d.commands().count(Output), 2);
        QVERIFY(!d.supply->model().outputOn());
        // The window is not blocked: the switch itself works with the box open.
        d.widget<QTabWidget>("tabWidget")->setCurrentIndex(0);
        QTest::mouseClick(onOff, Qt::LeftButton);
        QTRY_VERIFY(d.supply->model().outputOn());
        QVERIFY(notice->isVisible());
        notice->done(QMessageBox::Ok);
        // The log options hold the window while open, not the shortcut.
        d.widget<QPushButton>("pushButtonLogParam")->click();
        auto *options = d.window->findChild<QDialog *>(QStringLiteral("DialogSettingsLog"));
        QApplication::setActiveWindow(options);
        QVERIFY(QTest::qWaitForWindowActive(options));
        QTest::keyClick(options, Qt::Key_F12);
        QTRY_VERIFY(!d.supply->model().outputOn());
        options->close();
        // Over the About box too, modal as it is.
        QTest::mouseClick(onOff, Qt::LeftButton);
        QTRY_VERIFY(d.supply->model().outputOn());
        bool pressed = false;
        QElapsedTimer open;
        WhenModal<QMessageBox>([&pressed, &open, &d](QMessageBox *about) {
            QTest::keyClick(about, Qt::Key_F12);
            pressed = true;
            open.start();
            // Left open until the output is off (the poll goes on meanwhile),
            // or five seconds at most.
            auto *wait = new QTimer(about);
            QObject::connect(wait, &QTimer::timeout, about, [about, &open, &d] {
                if (!d.supply->model().outputOn() || open.elapsed() > 5000)
                    about->done(QMessageBox::Ok);
            });
            wait->start(10);
        });
        d.action(QStringLiteral("О программе"))->trigger();
        QVERIFY(pressed);
        QVERIFY(!d.supply->model().outputOn());
        QVERIFY(open.elapsed() < 5000);
    }

    // A failed page read keeps what the page showed and is not retried; its
    // box, left open, holds neither the poll nor the chart, and a second
    // failure of its kind adds no second box.
    void failedReadKeepsThePageAndItsBoxHoldsNothing()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        QTRY_VERIFY(d.commands().contains(Measurements));
        d.supply->setOptions(Silent());
        d.widget<QSpinBox>("spinBoxRout")->setValue(4);
        d.widget<QPushButton>("pushButtonReadCalibr")->click();
        QTRY_COMPARE(VisibleNotices(d.window.get()).size(), 1);
        QMessageBox *box = VisibleNotices(d.window.get()).at(0);
        QVERIFY(box->text().startsWith(QStringLiteral("Ошибка чтения\n")));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(d.widget<QSpinBox>("spinBoxRout")->value(), 4);
        QVERIFY(!d.widget<QPushButton>("pushButtonApplyCalibr")->isEnabled());
        const int calibrationReads = d.commands().count(Calibration);

        // Two measurement reads in a row unanswered: the page looks stale;
        // the calibration read was not tried again meanwhile.
        QTRY_VERIFY(!d.widget<QWidget>("doubleSpinBoxVsdadc")->isEnabled());
        QCOMPARE(d.commands().count(Calibration), calibrationReads);

        d.supply->setOptions({});
        auto *chart = d.window->findChild<LiveChart *>();
        const int samples = chart->History().Size();
        const int statusReads = d.commands().count(Status);
        QTRY_VERIFY(d.commands().count(Status) >= statusReads + 2);
        QTRY_VERIFY(chart->History().Size() >= samples + 2);
        QTRY_VERIFY(d.widget<QWidget>("doubleSpinBoxVsdadc")->isEnabled());
        QVERIFY(box->isVisible());

        d.supply->setOptions(Silent());
        d.widget<QPushButton>("pushButtonReadCalibr")->click();
        QTRY_COMPARE(d.commands().count(Calibration), 2);
        QTRY_VERIFY(d.commands().lastIndexOf(Calibration) < d.commands().size() - 2);
        QCOMPARE(VisibleNotices(d.window.get()), {box});
        box->done(QMessageBox::Ok);
    }

    // Until a set-point read succeeds the boxes are dimmed and cannot be
    // applied; the read is retried in place of a monitor read once a second.
    // Another address is another supply: its set-points are read, and the
    // pages' write buttons wait for a read of it.
    void setpointsUnknownUntilReadAlsoAfterAnAddressChange()
    {
        WindowDriver d(Silent());
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.supply->model().setSetpoints(7000, 2500);
        d.connectToSupply();
        auto *volts = d.widget<QDoubleSpinBox>("doubleSpinBoxV");
        QVERIFY(!volts->isEnabled() && !d.widget<QWidget>("doubleSpinBoxA")->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonApply")->isEnabled());
        QTest::qWait(2300);
        // The silent line gets the connect's reads and one request a tick,
        // no more: the first tick after the silence reaches the supply.
        QVERIFY(d.commands().count(Setpoints) >= 1);
        const int requests = d.commands().size();
        QVERIFY2(requests >= 2300 / 250 - 1 && requests <= 2300 / 250 + 3,
                 qPrintable(QString::number(requests)));
        d.supply->setOptions({});
        QTRY_COMPARE_WITH_TIMEOUT(volts->value(), 7.0, 3000);
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxA")->value(), 2.5);
        QVERIFY(volts->isEnabled() && d.widget<QPushButton>("pushButtonApply")->isEnabled());
        QPushButton *writeUser = d.widget<QPushButton>("pushButtonApplyUserParam");
        d.widget<QPushButton>("pushButtonReadUserParam")->click();
        QTRY_VERIFY(writeUser->isEnabled());

        VirtualSupply::Options at3;
        at3.address = 3;
        d.supply->setOptions(at3);
        d.supply->model().setSetpoints(5000, 800);
        d.supply->clearReceived();
        d.slaveBox()->setValue(3);
        QTRY_VERIFY(!d.supply->receivedLines().isEmpty());
        QCOMPARE(d.supply->receivedLines().at(0).left(9), QByteArray("#03800301"));
        QVERIFY(!writeUser->isEnabled());
        QTRY_COMPARE(volts->value(), 5.0);
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxA")->value(), 0.8);
        // Filled once: what the operator types now stays.
        const int filled = d.commands().count(Setpoints);
        volts->setValue(3.3);
        QTest::qWait(1300);
        QCOMPARE(d.commands().count(Setpoints), filled);
        QCOMPARE(volts->value(), 3.3);
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
        QTRY_VERIFY(d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->value() > 0);
        const double vin = d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->value();

        auto *silence = d.widget<QLabel>("silenceLabel");
        QCOMPARE(silence->text(), QString());
        d.supply->setOptions(Silent());
        QTRY_VERIFY(!volts->isEnabled());
        QVERIFY(!d.widget<QLCDNumber>("lcdNumberA")->isEnabled());
        // Said in words too, with the seconds counting up, and no box.
        QTRY_VERIFY(silence->text().startsWith(QStringLiteral("нет ответа ")));
        QTRY_COMPARE_WITH_TIMEOUT(silence->text(), QStringLiteral("нет ответа 2 с"), 4000);
        QCOMPARE(volts->value(), 5.0);
        QCOMPARE(Lamp(d, "label_cv"), QImage(LampOff));
        QCOMPARE(Lamp(d, "label_cc"), QImage(LampOff));
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->value(), vin);

        d.supply->setOptions({});
        QTRY_VERIFY(volts->isEnabled());
        QCOMPARE(Lamp(d, "label_cv"), QImage(LampGreen));
        QCOMPARE(silence->text(), QString());
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
        QCOMPARE(d.commands().mid(0, 4), (QList<int>{Setpoints, Setpoints, Status, Output}));
        QCOMPARE(d.supply->receivedLines().at(3), DeviceLink::EncodeFrame(QByteArray::fromHex("008007110000")));
    }

    // The alternation goes on where it stopped: a monitor read cut short by
    // a disconnect is the next connect's first, the status as the
    // measurements.
    void reconnectResumesTheAlternation()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        for (int cut : {Status, Measurements}) {
            d.connectToSupply();
            QTRY_VERIFY(d.commands().size() >= 5);
            // The operator's click is handled while the read waits.
            bool done = false;
            const auto hook = QObject::connect(
                d.supply.get(), &VirtualSupply::lineReceived, d.window.get(), [&d, &done, cut](const QByteArray &line) {
                    const int command = QByteArray::fromHex(line.mid(5, 2)).at(0) & 0xFF;
                    if (!done && command == cut) {
                        done = true;
                        d.disconnectAction()->trigger();
                    }
                });
            QTRY_VERIFY(done);
            QObject::disconnect(hook);
            QTRY_VERIFY(d.connectAction()->isEnabled());
            d.supply->clearReceived();
            d.connectToSupply();
            QTRY_VERIFY(d.commands().size() >= 4);
            QCOMPARE(d.commands().mid(0, 4), (QList<int>{Setpoints, Setpoints, UserParams, cut}));
            d.disconnectAction()->trigger();
            d.supply->clearReceived();
        }
    }

    void disconnectDuringConnectStopsThere()
    {
        WindowDriver d(Silent());
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
        QVERIFY(lines.contains("#0080A8013B6C\r"));
    }
};

PANEL_TEST_MAIN(PollCycleTest)
#include "tst_pollcycle.moc"
