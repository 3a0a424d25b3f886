// The window on a line shared with velkaroctl: attached to a run's line, its
// panel held while that run drives its address, the line's supplies in a view
// of their own, and a takeover when the owner is killed. Real processes on
// the virtual supply's pseudo-terminal.

#include "connection.h"
#include "ctlprocess.h"
#include "filetext.h"
#include "panelsetpoints.h"
#include "setpointspinbox.h"
#include "sharedline.h"
#include "supplyport.h"
#include "supplystate.h"
#include "supplyprogram.h"
#include "testmain.h"
#include "units.h"
#include "windowdriver.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <csignal>

namespace {

// velkaroctl going on beside the test, terminated when the test leaves it,
// by a failed check too.
struct Program {
    explicit Program(const QStringList &arguments) { StartCtl(process, arguments); }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }
    qint64 pid() const { return process.processId(); }
    QProcess process;
};

struct Supply : LinkedSupply {
    explicit Supply(const QString &addresses)
        : LinkedSupply(QStringLiteral(VIRTUAL_SUPPLY_EXE), {QStringLiteral("--address"), addresses, QStringLiteral("--pace")})
    {
    }
};

// velkaroctl's arguments on the supply's line, for one address.
QStringList At(const QString &port, int address, const QStringList &command)
{
    return QStringList{QStringLiteral("--port"), port, QStringLiteral("--address"), QString::number(address)}
           + command;
}

// velkaroctl's exit status; the test's events go on meanwhile, so that a
// window owning the line serves it.
int RunCtl(const QString &port, int address, const QStringList &command)
{
    const CtlRun run = Ctl(At(port, address, command));
    if (run.status != 0)
        qWarning("%s", run.told().constData());
    return run.status;
}

// What velkaroctl get prints under --json: the set-points and the output.
QByteArray Setpoints(const QString &port, int address)
{
    return Ctl(At(port, address, {"--json", "get"})).out.trimmed();
}

void ConnectWindow(WindowDriver &d, const QString &port, int address)
{
    d.portBox()->setEditText(port);
    d.slaveBox()->setValue(address);
    d.connectAction()->trigger();
}

QString LineRole(const WindowDriver &d)
{
    return d.widget<QLabel>("lineRoleLabel")->text();
}

}  // namespace

class LineViewTest : public QObject
{
    Q_OBJECT

private slots:
    // The window finds the port held by velkaroctl's run, attaches and reads
    // its address; the panel is read-only with the reason while that run
    // drives the address, free for another address, and free again once the
    // run has ended (the window then holds the line itself).
    void attachedToARunThePanelIsHeldUntilItEnds()
    {
        Supply supply(QStringLiteral("1,2"));
        QVERIFY(supply.up());
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,1:00\n");
        Program run(At(supply.link(), 1,
                        {"run", dir.filePath("p.csv"), "--record", dir.filePath("r.csv"), "--keep-output"}));
        QTRY_VERIFY2_WITH_TIMEOUT(ReadFile(dir.filePath("r.csv")).contains("\n"),
                                  run.process.readAllStandardError().constData(), 10000);

        WindowDriver d;
        MessageBoxCloser closer;
        QPushButton *apply = d.widget<QPushButton>("pushButtonApply");
        QPushButton *onOff = d.widget<QPushButton>("pushButtonOnOff");
        const QString idleTip = onOff->toolTip();
        ConnectWindow(d, supply.link(), 1);
        QTRY_COMPARE(LineRole(d), QStringLiteral("Через velkaroctl %1").arg(run.pid()));
        // The run's set-point and output, read through the run's program.
        QTRY_COMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 5.0);
        QTRY_COMPARE(onOff->text(), QStringLiteral("Выключить"));
        const QString why = QStringLiteral("Источником управляет velkaroctl, прогон r.csv (pid %1)").arg(run.pid());
        for (QWidget *w : std::initializer_list<QWidget *>{apply, onOff, d.widget<QDoubleSpinBox>("doubleSpinBoxV")}) {
            QVERIFY(!w->isEnabled());
            QCOMPARE(w->toolTip(), why);
        }
        QVERIFY(d.slaveBox()->isEnabled());

        // Another supply of the line is the panel's to change.
        d.slaveBox()->setValue(2);
        QTRY_VERIFY(apply->isEnabled());
        QVERIFY(onOff->isEnabled());
        QCOMPARE(onOff->toolTip(), idleTip);
        d.slaveBox()->setValue(1);
        QTRY_VERIFY(!onOff->isEnabled());
        // Nor does the window start a run of its own there.
        WriteFile(dir.filePath("w.csv"), "voltage,current,duration\n9,1,1:00\n");
        d.widget<QLineEdit>("runProgramEdit")->setText(dir.filePath("w.csv"));
        d.widget<QLineEdit>("runRecordEdit")->setText(dir.filePath("w-r.csv"));
        d.widget<QPushButton>("runStartButton")->click();
        QCOMPARE(d.widget<QLabel>("runMessageLabel")->text(), why);
        QVERIFY(!QFile::exists(dir.filePath("w-r.csv")));

        // The run ends (with its output kept): the window takes the line
        // over, and the panel is free and reading.
        run.process.terminate();
        QVERIFY(run.process.waitForFinished(10000));
        QTRY_COMPARE(LineRole(d), QStringLiteral("Порт свой"));
        QTRY_VERIFY(apply->isEnabled());
        QVERIFY(onOff->isEnabled());
        QCOMPARE(onOff->toolTip(), idleTip);
        QVERIFY(d.widget<QLCDNumber>("lcdNumberV")->isEnabled());
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 5.0);
        QVERIFY(closer.seen.isEmpty());
    }

    // The view lists the supplies a scan found, with the programs working
    // with each, reads them live, and puts the chosen one into the panel.
    void lineViewListsTheScannedSupplies()
    {
        Supply supply(QStringLiteral("1,2,5"));
        QVERIFY(supply.up());
        WindowDriver d;
        MessageBoxCloser closer;
        ConnectWindow(d, supply.link(), 1);
        QTRY_COMPARE(LineRole(d), QStringLiteral("Порт свой"));
        // Attached to the window's line.
        Program watch(At(supply.link(), 2, {"watch", "--interval", "0.5"}));
        QTRY_COMPARE_WITH_TIMEOUT(LineRole(d), QStringLiteral("Порт свой, +1"), 10000);

        d.window->findChild<QAction *>(QStringLiteral("actionOpenLine"))->trigger();
        d.widget<QSpinBox>("lineScanTo")->setValue(6);
        d.widget<QPushButton>("lineScanButton")->click();
        auto *table = d.widget<QTableWidget>("lineTable");
        QTRY_COMPARE_WITH_TIMEOUT(d.widget<QLabel>("lineScanLabel")->text(), QStringLiteral("Найдено: 3"), 20000);
        auto cell = [table](int row, int column) { return table->item(row, column)->text(); };
        QCOMPARE(QStringList({cell(0, 0), cell(1, 0), cell(2, 0)}), QStringList({"1", "2", "5"}));
        QCOMPARE(cell(0, 5), QStringLiteral("velkaro, окно (pid %1)").arg(QCoreApplication::applicationPid()));
        QCOMPARE(cell(1, 5), QStringLiteral("velkaroctl, наблюдение (pid %1)").arg(watch.pid()));
        QCOMPARE(cell(2, 5), QString());
        QCOMPARE(cell(2, 4), QStringLiteral("выкл"));

        // Live: another program switches supply 5 on at 3 V.
        QCOMPARE(RunCtl(supply.link(), 5, {"set", "--voltage", "3"}), 0);
        QCOMPARE(RunCtl(supply.link(), 5, {"on"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(cell(2, 1), QStringLiteral("3.00"), 10000);
        QCOMPARE(cell(2, 3), QStringLiteral("CV"));
        QCOMPARE(cell(2, 4), QStringLiteral("вкл"));
        // Closed, the view is not read: its readings are dimmed until read
        // again.
        table->window()->close();
        QVERIFY(!(table->item(2, 1)->flags() & Qt::ItemIsEnabled));
        d.window->findChild<QAction *>(QStringLiteral("actionOpenLine"))->trigger();
        QTRY_VERIFY(table->item(2, 1)->flags() & Qt::ItemIsEnabled);

        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(2, 3)).center());
        QCOMPARE(d.slaveBox()->value(), 5);
        QTRY_COMPARE(d.widget<QPushButton>("pushButtonOnOff")->text(), QStringLiteral("Выключить"));
        QVERIFY(closer.seen.isEmpty());
    }

    // A set-point another program writes shows in the panel's boxes, the
    // window owning the line (it makes that program's exchanges) or attached
    // to another owner (which tells it what it heard); a box the operator
    // has changed keeps the operator's value, and Apply writes what the boxes
    // show, never a value the supply no longer holds.
    void setpointsWrittenByOthersShowInTheBoxes()
    {
        Supply supply(QStringLiteral("1,2"));
        QVERIFY(supply.up());
        WindowDriver d;
        MessageBoxCloser closer;
        auto *volts = d.widget<QDoubleSpinBox>("doubleSpinBoxV");
        auto *amperes = d.widget<QDoubleSpinBox>("doubleSpinBoxA");
        ConnectWindow(d, supply.link(), 1);
        QTRY_COMPARE(LineRole(d), QStringLiteral("Порт свой"));
        QTRY_VERIFY(volts->isEnabled());
        QCOMPARE(RunCtl(supply.link(), 1, {"set", "--voltage", "3", "--current", "0.5"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(volts->value(), 3.0, 1000);
        QCOMPARE(amperes->value(), 0.5);

        amperes->setValue(2.25);  // the operator's, not yet applied
        QCOMPARE(RunCtl(supply.link(), 1, {"set", "--voltage", "4.5", "--current", "1.2"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(volts->value(), 4.5, 1000);
        QCOMPARE(amperes->value(), 2.25);
        d.widget<QPushButton>("pushButtonApply")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Setpoints(supply.link(), 1), QByteArray(R"({"current":2.25,"output":false,"voltage":4.5})"),
                                  5000);

        // Attached: velkaroctl watch owns the line; another velkaroctl's
        // write goes through it, and the owner tells the window: it shows
        // within a tick, sooner than the window's own read would (once a
        // second).
        d.disconnectAction()->trigger();
        Program watch(At(supply.link(), 2, {"watch", "--interval", "0.5"}));
        QTRY_VERIFY(watch.process.canReadLine());
        d.connectAction()->trigger();
        QTRY_COMPARE(LineRole(d), QStringLiteral("Через velkaroctl %1").arg(watch.pid()));
        QTRY_VERIFY(volts->isEnabled());
        QCOMPARE(RunCtl(supply.link(), 1, {"set", "--voltage", "7.25"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(volts->value(), 7.25, 250);
        QCOMPARE(amperes->value(), 2.25);
        QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
    }

    // The panel's set-points, attached through an owner that stops: a read
    // fails within the line's bound, the next within the short probe, and
    // the boxes keep what the supply last said. The stopped owner wakes with
    // the abandoned reads still queued; their late replies are not taken for
    // the next read's, which shows what another program wrote meanwhile.
    void setpointReadsThroughAStalledOwner()
    {
        Supply supply(QStringLiteral("1"));
        QVERIFY(supply.up());
        Program watch(At(supply.link(), 1, {"watch", "--interval", "0.5"}));
        QTRY_VERIFY(watch.process.canReadLine());
        QCOMPARE(RunCtl(supply.link(), 1, {"set", "--voltage", "3", "--current", "0.5"}), 0);

        Connection connection;
        PortFailure failure;
        QVERIFY(connection.Open(supply.link(), &failure));
        QCOMPARE(connection.Line().CurrentRole(), SharedLine::Role::Attached);
        connection.SetAddress(1);
        SetpointSpinBox volts, amperes;
        volts.setRange(0.01, 30);
        amperes.setDecimals(3);
        amperes.setRange(0.005, 5);
        QPushButton apply;
        PanelSetpoints setpoints(connection, {&volts, &amperes, &apply}, [] { return QString(); });
        QVERIFY(setpoints.Load());
        QCOMPARE(volts.value(), 3.0);
        QVERIFY(apply.isEnabled());

        ::kill(pid_t(watch.pid()), SIGSTOP);
        QElapsedTimer took;
        took.start();
        QVERIFY(!setpoints.Load());
        const qint64 firstMs = took.restart();
        QVERIFY(!setpoints.Load());
        const qint64 nextMs = took.elapsed();
        QVERIFY2(firstMs < 5000 && nextMs < 1500, qPrintable(QStringLiteral("%1 ms, %2 ms").arg(firstMs).arg(nextMs)));
        QCOMPARE(volts.value(), 3.0);
        QCOMPARE(amperes.value(), 0.5);
        QVERIFY(setpoints.Known());

        ::kill(pid_t(watch.pid()), SIGCONT);
        QCOMPARE(RunCtl(supply.link(), 1, {"set", "--voltage", "6.5", "--current", "1.25"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(setpoints.Load(), 5000);
        QCOMPARE(volts.value(), 6.5);
        QCOMPARE(amperes.value(), 1.25);
        QCOMPARE(SetpointVolts(*connection.States()->At(1).setpoints.value), 6.5);
    }

    // The program serving the line is killed while the window is attached
    // and runs: the window takes the line over, its run records the gap and
    // goes on, and the window reads again.
    void theOwnerKilledTheWindowTakesOver()
    {
        Supply supply(QStringLiteral("1,2"));
        QVERIFY(supply.up());
        Program watch(At(supply.link(), 2, {"watch", "--interval", "0.5"}));
        QTRY_VERIFY(watch.process.canReadLine());

        QTemporaryDir dir;
        WindowDriver d;
        MessageBoxCloser closer;
        ConnectWindow(d, supply.link(), 1);
        QTRY_COMPARE(LineRole(d), QStringLiteral("Через velkaroctl %1").arg(watch.pid()));
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n4,1,1:00\n");
        d.widget<QLineEdit>("runProgramEdit")->setText(dir.filePath("p.csv"));
        d.widget<QLineEdit>("runRecordEdit")->setText(dir.filePath("r.csv"));
        QTRY_VERIFY(d.widget<QPushButton>("runStartButton")->isEnabled());
        d.widget<QPushButton>("runStartButton")->click();
        QTRY_COMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 4.0);

        ::kill(pid_t(watch.pid()), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(LineRole(d), QStringLiteral("Порт свой"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(ReadFile(dir.filePath("r.csv")).contains(",reconnected"), 5000);
        QVERIFY(ReadFile(dir.filePath("r.csv")).contains(",port lost"));
        // Read again: a set-point that another program writes now shows.
        QCOMPARE(RunCtl(supply.link(), 2, {"set", "--voltage", "6"}), 0);
        QCOMPARE(RunCtl(supply.link(), 2, {"on"}), 0);
        d.widget<QPushButton>("runStopButton")->click();
        QTRY_VERIFY(d.slaveBox()->isEnabled());
        d.slaveBox()->setValue(2);
        QTRY_COMPARE(d.widget<QLCDNumber>("lcdNumberV")->value(), 6.0);
        QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
    }
    // The owner and the supply's terminal go together: nobody can take the
    // line over, and the window tells a lost port and disconnects.
    void noTakeoverIsALostPort()
    {
        Supply supply(QStringLiteral("1"));
        QVERIFY(supply.up());
        // Reached through a name of the test's own: the terminal's number is
        // soon another program's, the name is gone for good.
        QTemporaryDir dir;
        const QString port = dir.filePath(QStringLiteral("ttyV"));
        QVERIFY(QFile::link(supply.link(), port));
        Program watch(At(port, 1, {"watch", "--interval", "0.5"}));
        QTRY_VERIFY(watch.process.canReadLine());
        WindowDriver d;
        MessageBoxCloser closer;
        ConnectWindow(d, port, 1);
        QTRY_COMPARE(LineRole(d), QStringLiteral("Через velkaroctl %1").arg(watch.pid()));
        // The connect's page read done: what fails from now on is the line.
        QTRY_VERIFY(d.widget<QPushButton>("pushButtonApplyUserParam")->isEnabled());
        QVERIFY(QFile::remove(port));
        supply.process.kill();
        QVERIFY(supply.process.waitForFinished(5000));
        ::kill(pid_t(watch.pid()), SIGKILL);
        // Taken over within SharedLine::TakeoverBoundMs, or lost.
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 1, 10000);
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Потеряна связь с портом"));
        QVERIFY(d.connectAction()->isEnabled());
        QCOMPARE(LineRole(d), QString());
    }

    // A watch reading back to back keeps the window serving the line; the
    // operator disconnects while the window makes one of its exchanges: the
    // window lets the line go, and the watch takes it over and samples on.
    void disconnectWhileServingAnotherProgram()
    {
        Supply supply(QStringLiteral("1,2"));
        QVERIFY(supply.up());
        WindowDriver d;
        MessageBoxCloser closer;
        for (int i = 0; i < 3; ++i) {
            ConnectWindow(d, supply.link(), 1);
            QTRY_COMPARE(LineRole(d), QStringLiteral("Порт свой"));
            QTRY_VERIFY(d.widget<QPushButton>("pushButtonApplyUserParam")->isEnabled());
            // Reading back to back, it fails at once while it takes the
            // line over: it is let fail as often as it must.
            Program watch(At(supply.link(), 2, {"watch", "--interval", "0", "--max-failures", "100000"}));
            QTRY_COMPARE_WITH_TIMEOUT(LineRole(d), QStringLiteral("Порт свой, +1"), 10000);
            if (i == 0) {
                // The window's ticks and the watch's requests share the line
                // without a lost reply.
                int samples = 0;
                QTRY_VERIFY_WITH_TIMEOUT((samples += watch.process.readAllStandardOutput().count('\n')) >= 30, 10000);
                QCOMPARE(watch.process.readAllStandardError(), QByteArray());
                QVERIFY(d.widget<QLCDNumber>("lcdNumberV")->isEnabled());
            }
            // Handled within an exchange, as a click would be.
            QTimer::singleShot(200 + 50 * i, d.disconnectAction(), &QAction::trigger);
            QTRY_VERIFY(d.connectAction()->isEnabled());
            QCOMPARE(LineRole(d), QString());
            watch.process.readAllStandardOutput();
            QTRY_VERIFY(watch.process.canReadLine());
            QCOMPARE(watch.process.state(), QProcess::Running);
        }
        QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
    }

    // Closing the window during its run with another program on the line
    // asks about leaving the line to it; the run's end switches off this
    // window's supply only, and the other program goes on with the line.
    void closingDuringARunLeavesTheLineToTheOthers()
    {
        Supply supply(QStringLiteral("1,2"));
        QVERIFY(supply.up());
        QTemporaryDir dir;
        auto d = std::make_unique<WindowDriver>();
        ConnectWindow(*d, supply.link(), 1);
        QTRY_COMPARE(LineRole(*d), QStringLiteral("Порт свой"));
        QCOMPARE(RunCtl(supply.link(), 2, {"on"}), 0);
        Program watch(At(supply.link(), 2, {"watch", "--interval", "0.5"}));
        QTRY_COMPARE_WITH_TIMEOUT(LineRole(*d), QStringLiteral("Порт свой, +1"), 10000);
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n4,1,1:00\n");
        d->widget<QLineEdit>("runProgramEdit")->setText(dir.filePath("p.csv"));
        d->widget<QLineEdit>("runRecordEdit")->setText(dir.filePath("r.csv"));
        QTRY_VERIFY(d->widget<QPushButton>("runStartButton")->isEnabled());
        d->widget<QPushButton>("runStartButton")->click();
        QTRY_COMPARE(d->widget<QPushButton>("pushButtonOnOff")->text(), QStringLiteral("Выключить"));

        QString question;
        WhenModal<QMessageBox>([&question](QMessageBox *box) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        QVERIFY(!d->window->close());
        QVERIFY2(question.contains(QStringLiteral("другие программы (1)")), qPrintable(question));
        QTRY_VERIFY(!d->window->isVisible());
        QVERIFY(ReadFile(dir.filePath("r.csv")).contains(",output off"));
        // The watch takes the line over and samples on.
        d.reset();
        watch.process.readAllStandardOutput();
        QTRY_VERIFY(watch.process.canReadLine());
        QCOMPARE(watch.process.state(), QProcess::Running);
        QVERIFY(Ctl(At(supply.link(), 1, {"--json", "status"})).out.contains("\"output\":false"));
        QVERIFY(Ctl(At(supply.link(), 2, {"--json", "status"})).out.contains("\"output\":true"));
    }
};

PANEL_TEST_MAIN(LineViewTest)
#include "tst_lineview.moc"
