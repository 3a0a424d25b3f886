// The supply's side of the port vanishes while the window is connected: the
// supply is a separate program, killed outright, so that the terminal's
// master closes under the window as when an adapter is pulled. The one rule
// that tells a lost port, and velkaroctl seeing the loss as the window does.

#include "lostportwatch.h"
#include "supplyprogram.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QDoubleSpinBox>
#include <QProcess>
#include <QSerialPort>

#include <sys/resource.h>

namespace {

// Processor time, user and system, this process has used so far.
qint64 processorMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

}  // namespace

class PortLossTest : public QObject
{
    Q_OBJECT

private slots:

    // The window disconnects once, tells the loss once and goes quiet; a
    // supply that is back can be connected to again. velkaroctl watching
    // another supply that is killed too tells the same reason.
    void killedSupplyDisconnectsOnceAndGoesQuiet()
    {
        MessageBoxCloser boxes;
        WindowDriver d;
        auto *vin = d.widget<QDoubleSpinBox>("doubleSpinBoxVin");
        auto connectTo = [&d](QProcess &supply) {
            const QString path = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_PATH),
                                                    {QStringLiteral("--traceable")});
            d.portBox()->setEditText(path);
            d.connectAction()->trigger();
            return !path.isEmpty() && d.disconnectAction()->isEnabled();
        };

        QProcess first;
        QVERIFY(connectTo(first));
        // Traceable readings are never all zero: a shown input voltage proves
        // the window is polling.
        QTRY_VERIFY(vin->value() != 0);
        QProcess ctlSupply;
        const QString ctlPort = StartSupplyProgram(ctlSupply, QStringLiteral(VIRTUAL_SUPPLY_PATH), {});
        QVERIFY(!ctlPort.isEmpty());
        QProcess watch;
        watch.start(QStringLiteral(VELKAROCTL_EXE), {"--port", ctlPort, "watch", "--interval", "0.05"});
        QVERIFY(watch.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(watch.bytesAvailable() > 0, 10000);
        QVERIFY(boxes.seen.isEmpty());

        first.kill();
        ctlSupply.kill();
        QVERIFY(first.waitForFinished(5000) && ctlSupply.waitForFinished(5000));
        QTRY_COMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.at(0).icon, QMessageBox::Critical);
        QCOMPARE(boxes.seen.at(0).text, QStringLiteral("Потеряна связь с портом"));
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
        auto *windowSerial = d.window->findChild<QSerialPort *>();
        QVERIFY(!windowSerial->isOpen());
        const QString windowReason = LostPortWatch::For(windowSerial)->Reason();
        QVERIFY(!windowReason.isEmpty());
        QVERIFY(watch.waitForFinished(5000));
        QCOMPARE(watch.exitCode(), 1);
        const QString ctlError = QString::fromUtf8(watch.readAllStandardError());
        QVERIFY2(ctlError.contains(QStringLiteral("the port failed: %1 (").arg(windowReason)), qPrintable(ctlError));

        // A port that keeps reporting its error would spin the event loop flat out.
        const qint64 before = processorMs();
        QTest::qWait(1000);
        const qint64 used = processorMs() - before;
        QVERIFY2(used < 100, qPrintable(QStringLiteral("%1 ms").arg(used)));
        QCOMPARE(boxes.seen.size(), 1);

        QProcess second;
        vin->setValue(0);
        QVERIFY(connectTo(second));
        QTRY_VERIFY(vin->value() != 0);
        QCOMPARE(boxes.seen.size(), 1);
        second.terminate();
        QVERIFY(second.waitForFinished(5000));
    }
};

PANEL_TEST_MAIN(PortLossTest)
#include "tst_portloss.moc"
