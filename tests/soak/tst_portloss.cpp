// The supply's side of the port vanishes while the window is connected: the
// supply is a separate program, killed outright, so that the terminal's
// master closes under the window as when an adapter is pulled.

#include "boxwatcher.h"
#include "mainwindow.h"
#include "supplyprogram.h"
#include "testmain.h"

#include <QAction>
#include <QComboBox>
#include <QToolBar>
#include <QDoubleSpinBox>
#include <QProcess>

#include <sys/resource.h>

#include <memory>

namespace {

const QString LostText = QStringLiteral("Потеряна связь с портом");

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
    void killedSupplyDisconnectsOnceAndGoesQuiet();

private:
    // Starts the supply program; its port path, or empty.
    QString startSupply(QProcess &process);
    QAction *action(MainWindow &window, const QString &text);
    void connectTo(MainWindow &window, const QString &path);
};

QString PortLossTest::startSupply(QProcess &process)
{
    return StartSupplyProgram(process, QStringLiteral(VIRTUAL_SUPPLY_PATH),
                              {QStringLiteral("--traceable")});
}

QAction *PortLossTest::action(MainWindow &window, const QString &text)
{
    for (QAction *a : window.findChildren<QAction *>()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

void PortLossTest::connectTo(MainWindow &window, const QString &path)
{
    window.findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(path);
    action(window, QStringLiteral("Подключить"))->trigger();
}

void PortLossTest::killedSupplyDisconnectsOnceAndGoesQuiet()
{
    BoxWatcher boxes;
    MainWindow window;
    window.show();
    auto *vin = window.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxVin"));
    QAction *connectAction = action(window, QStringLiteral("Подключить"));
    QAction *disconnectAction = action(window, QStringLiteral("Отключить"));

    QProcess first;
    const QString firstPath = startSupply(first);
    QVERIFY(!firstPath.isEmpty());
    connectTo(window, firstPath);
    QVERIFY(disconnectAction->isEnabled());
    // Traceable readings are never all zero: a shown input voltage proves the
    // window is polling.
    QTRY_VERIFY(vin->value() != 0);
    QVERIFY(boxes.seen.isEmpty());

    first.kill();
    QVERIFY(first.waitForFinished(5000));
    QTRY_COMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen.at(0).text, LostText);
    QVERIFY(connectAction->isEnabled());
    QVERIFY(!disconnectAction->isEnabled());

    // A port that keeps reporting its error would spin the event loop flat out.
    const qint64 before = processorMs();
    QTest::qWait(1000);
    const qint64 used = processorMs() - before;
    qInfo("processor time in the second after the loss: %lld ms", used);
    QVERIFY2(used < 100, qPrintable(QStringLiteral("%1 ms").arg(used)));
    QCOMPARE(boxes.seen.size(), 1);

    // A supply that is back can be connected to again.
    QProcess second;
    const QString secondPath = startSupply(second);
    QVERIFY(!secondPath.isEmpty());
    vin->setValue(0);
    connectTo(window, secondPath);
    QVERIFY(disconnectAction->isEnabled());
    QTRY_VERIFY(vin->value() != 0);
    QCOMPARE(boxes.seen.size(), 1);

    second.terminate();
    QVERIFY(second.waitForFinished(5000));
}

PANEL_TEST_MAIN(PortLossTest)
#include "tst_portloss.moc"
