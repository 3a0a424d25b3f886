#include "commandset.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTextEdit>
#include <QToolTip>


using CommandSet::Setpoints;
using CommandSet::Status;

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    // A typed path is used to connect but never joins the list of ports; the
    // port and address of the last connection are offered at the next start,
    // a port the system does not list included.
    void rememberedPortAndAddressAfterRestart()
    {
        VirtualSupply::Options at5;
        at5.address = 5;
        WindowDriver d(at5);
        QVERIFY(d.supplyOpen);
        d.slaveBox()->setValue(5);
        QCOMPARE(d.slaveBox()->maximum(), 255);  // every address of the wire's one byte
        QComboBox *box = d.portBox();
        const int listed = box->count();
        box->lineEdit()->setText(d.supply->portPath());
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(box->count(), listed);
        d.connectAction()->trigger();
        QVERIFY(d.disconnectAction()->isEnabled());
        d.disconnectAction()->trigger();
        d.window.reset();

        d.window = std::make_unique<MainWindow>();
        d.window->show();
        QCOMPARE(d.portBox()->currentText(), d.supply->portPath());
        QCOMPARE(d.slaveBox()->value(), 5);
        d.supply->clearReceived();
        d.connectAction()->trigger();
        QVERIFY(d.disconnectAction()->isEnabled());
        QTRY_VERIFY(d.commands().contains(Status));
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxV")->value(),
                 d.supply->model().voltageSetMv() / 1000.0);
        for (const QByteArray &line : d.supply->receivedLines())
            QVERIFY2(line.startsWith("#0580"), line.constData());
    }

    // Tab goes voltage, current, apply, output switch.
    void tabFollowsThePage()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        QTRY_VERIFY(d.commands().contains(Status));
        auto *volts = d.widget<QDoubleSpinBox>("doubleSpinBoxV");
        auto *amperes = d.widget<QDoubleSpinBox>("doubleSpinBoxA");
        QApplication::setActiveWindow(d.window.get());
        QVERIFY(QTest::qWaitForWindowActive(d.window.get()));
        volts->setFocus();
        const QList<QWidget *> order = {amperes, d.widget<QWidget>("pushButtonApply"),
                                        d.widget<QWidget>("pushButtonOnOff")};
        for (QWidget *next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *focused = QApplication::focusWidget();
            QVERIFY2(focused == next || next->isAncestorOf(focused),
                     qPrintable(focused ? focused->objectName() : QStringLiteral("none")));
        }
    }

    // What is typed is applied by Enter, or nothing is: a number the box
    // does not take stays as typed, the box says what it takes, and neither
    // Enter nor Apply sends anything. A comma serves as the decimal separator.
    void typedSetpointIsAppliedOrNothingIs_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("applied");  // mV or mA; -1: refused
        for (const char *box : {"doubleSpinBoxV", "doubleSpinBoxA"}) {
            QTest::addRow("%s 35", box) << box << "35" << -1;
            QTest::addRow("%s 3,5", box) << box << "3,5" << 3500;
            QTest::addRow("%s -1", box) << box << "-1" << -1;
            QTest::addRow("%s 30.01", box) << box << "30.01" << -1;
        }
    }

    void typedSetpointIsAppliedOrNothingIs()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(int, applied);
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.supply->model().setSetpoints(7000, 700);
        d.connectToSupply();
        QTRY_VERIFY(d.commands().contains(Status));
        auto *field = d.widget<QDoubleSpinBox>(box.toLatin1());
        const bool volts = box == QLatin1String("doubleSpinBoxV");
        QApplication::setActiveWindow(d.window.get());
        QVERIFY(QTest::qWaitForWindowActive(d.window.get()));
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, typed);
        // Enter on the keypad and Return alike.
        QTest::keyClick(field, volts ? Qt::Key_Return : Qt::Key_Enter);
        if (applied >= 0) {
            QTRY_COMPARE(volts ? d.supply->model().voltageSetMv() : d.supply->model().currentSetMa(), applied);
            return;
        }
        // Every keystroke kept, the range said next to the box.
        QCOMPARE(field->findChild<QLineEdit *>()->text(), typed + field->suffix());
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), volts ? QStringLiteral("Допустимо от 0.01 до 30.00 V, шаг 0.01")
                                         : QStringLiteral("Допустимо от 0.005 до 9.999 A, шаг 0.001"));
        d.widget<QPushButton>("pushButtonApply")->click();
        // Two more status reads: the ticks went on, and no write came.
        const int statusReads = d.commands().count(Status);
        QTRY_VERIFY(d.commands().count(Status) >= statusReads + 2);
        QCOMPARE(d.commands().count(Setpoints), 2);  // the two reads at the connect
        QCOMPARE(std::make_pair(d.supply->model().voltageSetMv(), d.supply->model().currentSetMa()), std::make_pair(7000, 700));
    }

    // A log saved under a name without a suffix gets the filter's.
    void savedLogGetsTheFiltersSuffix()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        d.widget<QPushButton>("pushButtonLogStart")->click();
        QTRY_VERIFY(!d.widget<QTextEdit>("textEditLog")->toPlainText().isEmpty());
        QTemporaryDir dir;
        WhenModal<QFileDialog>([&dir](QFileDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(dir.filePath("log1"));
            static_cast<QDialog *>(dialog)->accept();
        });
        d.widget<QPushButton>("pushButtonLogSave")->click();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"log1.txt"});

        // The same name again: the file it would replace is asked about
        // first, and a No leaves it as it was.
        QFile saved(dir.filePath("log1.txt"));
        QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write("kept\n") == 5);
        saved.close();
        bool asked = false;
        WhenModal<QFileDialog>([&dir, &asked](QFileDialog *dialog) {
            WhenModal<QMessageBox>([&asked, dialog](QMessageBox *question) {
                asked = true;
                question->button(QMessageBox::No)->click();
                dialog->reject();
            });
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(dir.filePath("log1"));
            static_cast<QDialog *>(dialog)->accept();
        });
        d.widget<QPushButton>("pushButtonLogSave")->click();
        QVERIFY(asked);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("kept\n"));
    }

    // Recorded lines not saved: closing asks, and only Discard closes.
    void closingWithAnUnsavedLogAsks()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.connectToSupply();
        d.widget<QPushButton>("pushButtonLogStart")->click();
        auto *pane = d.widget<QTextEdit>("textEditLog");
        QTRY_VERIFY(!pane->toPlainText().isEmpty());

        QString asked;
        WhenModal<QMessageBox>([&asked](QMessageBox *box) {
            asked = box->text();
            box->button(QMessageBox::Cancel)->click();
        });
        QVERIFY(!d.window->close() && d.window->isVisible());
        QVERIFY(!asked.isEmpty());

        // Save, then no file chosen: nothing was saved, so it stays open.
        WhenModal<QMessageBox>([](QMessageBox *box) {
            WhenModal<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
            box->button(QMessageBox::Save)->click();
        });
        QVERIFY(!d.window->close() && d.window->isVisible());

        WhenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Discard)->click(); });
        QVERIFY(d.window->close());
    }

    // A read that fails at the connect says which port and address it tried
    // and what happened: nothing came back, or a reply failed its checks.
    void readFailureAtConnectNamesPortAddressAndWhat_data()
    {
        QTest::addColumn<bool>("wrongAddress");
        QTest::addColumn<QString>("what");
        QTest::newRow("wrong address") << true << QStringLiteral("нет ответа за 200 мс");
        QTest::newRow("corrupt replies") << false << QStringLiteral("ответ не прошёл проверку");
    }

    void readFailureAtConnectNamesPortAddressAndWhat()
    {
        QFETCH(bool, wrongAddress);
        QFETCH(QString, what);
        VirtualSupply::Options options;
        options.address = 5;
        options.corrupt = wrongAddress ? 0 : 1;
        WindowDriver d(options);
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        d.slaveBox()->setValue(wrongAddress ? 3 : 5);
        d.connectToSupply();
        QTRY_VERIFY(!closer.seen.isEmpty());
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Ошибка чтения\n%1, адрес %2: %3")
                                             .arg(d.supply->portPath())
                                             .arg(wrongAddress ? 3 : 5)
                                             .arg(what));
    }

    void portThatCannotBeOpenedSaysSoAndStaysDisconnected_data()
    {
        QTest::addColumn<bool>("held");
        QTest::newRow("no such port") << false;
        QTest::newRow("held by another program") << true;
    }

    void portThatCannotBeOpenedSaysSoAndStaysDisconnected()
    {
        QFETCH(bool, held);
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser closer;
        // The holder polls another address, once every ten seconds, and
        // shares the port with nobody: the supply then hears from it, never
        // from the window at address 0.
        QProcess holder;
        if (held) {
            holder.start(QStringLiteral(VELKAROCTL_EXE),
                         {"--exclusive", "--port", d.supply->portPath(), "--address", "7", "watch", "--interval", "10"});
            QTRY_VERIFY(!d.supply->receivedLines().isEmpty());
        }
        d.portBox()->setEditText(held ? d.supply->portPath() : QStringLiteral("/dev/no-such-port"));
        d.connectAction()->trigger();
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(std::make_pair(closer.seen.at(0).icon, closer.seen.at(0).title),
                 std::make_pair(QMessageBox::Critical, QStringLiteral("Error")));
        // The message, then which port and why, in the window's language.
        const QString port = held ? d.supply->portPath() : QStringLiteral("/dev/no-such-port");
        const QString why = held ? QStringLiteral("порт занят: его держит velkaroctl (pid %1)").arg(holder.processId())
                                 : QStringLiteral("нет такого порта");
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Не удается открыть порт\n") + port + ": " + why);
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(d.portBox()->isEnabled());
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
        // Nothing from the window reached the supply, and the holder goes on.
        for (const QByteArray &line : d.supply->receivedLines())
            QVERIFY2(line.startsWith("#07"), line.constData());
        if (held) {
            QCOMPARE(holder.state(), QProcess::Running);
            holder.terminate();
            QVERIFY(holder.waitForFinished(5000) && holder.exitCode() == 0);
        }
    }
};

PANEL_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
