#include "recordingrows.h"
#include "runrecording.h"
#include "testmain.h"
#include "uilanguage.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTranslator>

// The "Прогон" page driven through the real window against the virtual
// supply: the run's writes go out through the poll cycle.
class RunPageTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &text)
    {
        const QString path = dir.filePath(name);
        WriteFile(path, text);
        return path;
    }

    static void setLimit(WindowDriver &d, int row, int quantity, int comparison, double value)
    {
        d.widget<QComboBox>(QStringLiteral("runLimitQuantity%1").arg(row).toLatin1())->setCurrentIndex(quantity);
        d.widget<QComboBox>(QStringLiteral("runLimitComparison%1").arg(row).toLatin1())->setCurrentIndex(comparison);
        d.widget<QDoubleSpinBox>(QStringLiteral("runLimitValue%1").arg(row).toLatin1())->setValue(value);
    }

    static QString message(WindowDriver &d) { return d.widget<QLabel>("runMessageLabel")->text(); }

    // Names the program (none when empty) and the recording, connects, and
    // waits until a run can be started.
    static bool ready(WindowDriver &d, const QString &program, const QString &record)
    {
        d.widget<QLineEdit>("runProgramEdit")->setText(program);
        d.widget<QLineEdit>("runRecordEdit")->setText(record);
        d.connectToSupply();
        return QTest::qWaitFor([&d] { return d.widget<QPushButton>("runStartButton")->isEnabled(); }, 5000);
    }

private slots:
    void twoStepProgramReachesTheSupplyAndIsRecorded()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser boxes;
        const QString program = write(QStringLiteral("two.csv"),
                                      "# two steps\nVoltage,current,duration\n5,1,1\n7.5,0.5,1.5\n");
        const QString record = dir.filePath(QStringLiteral("two-record.csv"));
        d.widget<QLineEdit>("runProgramEdit")->setText(program);
        QTest::keyClick(d.widget<QLineEdit>("runProgramEdit"), Qt::Key_Return);
        auto *steps = d.widget<QListWidget>("runStepList");
        QCOMPARE(steps->count(), 2);
        QCOMPARE(steps->item(1)->text(), QStringLiteral("2. 7.50 В 0.500 А 0:02"));
        QVERIFY(ready(d, program, record));

        d.widget<QPushButton>("runStartButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(d.supply->model().voltageSetMv() == 5000 && d.supply->model().outputOn(), 4000);
        QCOMPARE(d.supply->model().currentSetMa(), 1000);
        QVERIFY(steps->item(0)->text().startsWith(QStringLiteral("▶ 1.")));
        QVERIFY(!d.slaveBox()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(d.supply->model().voltageSetMv() == 7500, 2000);
        QCOMPARE(d.supply->model().currentSetMa(), 500);
        // The panel's boxes follow the run: Применить would not send the
        // first step's values back.
        QTRY_COMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxV")->value(), 7.5);
        QCOMPARE(d.widget<QDoubleSpinBox>("doubleSpinBoxA")->value(), 0.5);
        QTRY_VERIFY(steps->item(1)->font().bold());
        // Events in the window's words; the recording keeps its own.
        QTRY_COMPARE(message(d), QStringLiteral("Событие: шаг 2"));
        QVERIFY(d.widget<QLabel>("runProgressLabel")->text().startsWith(QStringLiteral("Шаг 2/2, осталось 0:0")));
        QTRY_VERIFY_WITH_TIMEOUT(!d.supply->model().outputOn(), 3000);
        QTRY_VERIFY(message(d).startsWith(QStringLiteral("Программа выполнена; выход выключен\nИтог за 0:03: "
                                                         "шагов выполнено 2, проход 1 из 1, 0.00")));
        QVERIFY2(message(d).endsWith(QStringLiteral(" Вт·ч, выход: выключен (подтверждено)")), qPrintable(message(d)));
        QVERIFY(d.slaveBox()->isEnabled());
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "step 1", "step 2", "end", "output off"}));
        const QByteArray text = ReadFile(record);
        QVERIFY(text.contains("\n# program file: " + program.toUtf8()));
        // Reading rows between the events: set-points as the supply holds them.
        QVERIFY(text.contains(",5.000,1.000,"));
        QVERIFY(boxes.seen.isEmpty());
    }

    void badProgramIsRefusedBeforeAnyWrite()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        const QString program = write(QStringLiteral("bad.csv"), "voltage,current,duration\n5,1,10\n6,1,-3\n");
        const QString record = dir.filePath(QStringLiteral("bad-record.csv"));
        QVERIFY(ready(d, program, record));
        d.supply->clearReceived();
        d.widget<QPushButton>("runStartButton")->click();
        QCOMPARE(message(d), QStringLiteral("Программа не принята: строка 3: длительность «-3» — не время больше 0 "
                                            "(секунды, мм:сс или чч:мм:сс)"));
        QCOMPARE(d.widget<QListWidget>("runStepList")->count(), 0);
        QVERIFY(!d.widget<QPushButton>("runStopButton")->isEnabled());
        QTest::qWait(600);
        QVERIFY(!QFile::exists(record));
        for (const QByteArray &line : d.supply->receivedLines())
            QVERIFY2(line.mid(7, 2) != "11", line);  // reads only, no write
    }

    // The refusal speaks the window's language, English taken from the
    // translation; velkaroctl's own English is tst_runprogram's.
    void refusalSpeaksTheWindowsLanguage_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("shown");
        const QByteArray refused = "voltage,current,duration,until\n5,1,10,\n5,1,10, power >= 300.5\n";
        const QByteArray fromNothing = "voltage,current,duration\n0,1,10\n";
        const QByteArray empty = "# nothing yet\nvoltage,current,duration\n";
        QTest::newRow("ru condition") << false << refused
                                      << "Программа не принята: строка 3: условие «power >= 300.5» не принято: "
                                         "power 300.5 Вт — больше предела источника, 300 Вт";
        QTest::newRow("en condition") << true << refused
                                      << "Program refused: line 3: condition \"power >= 300.5\" is refused: "
                                         "power 300.5 W is beyond the supply's 300 W";
        QTest::newRow("ru from 0 V") << false << fromNothing
                                     << "Программа не принята: строка 2: напряжение «0» — не число от 0.01 до 30 В; "
                                        "наименьшая уставка источника — 0.01 В, поэтому подъём от 0 начинается "
                                        "с 0.01";
        QTest::newRow("en from 0 V") << true << fromNothing
                                     << "Program refused: line 2: voltage \"0\" is not a number from 0.01 to 30 V; "
                                        "0.01 V is the supply's lowest set-point, so a ramp from 0 starts at 0.01";
        QTest::newRow("ru no steps") << false << empty << "Программа не принята: в программе нет шагов";
        QTest::newRow("en no steps") << true << empty << "Program refused: the program has no steps";
    }

    void refusalSpeaksTheWindowsLanguage()
    {
        QFETCH(bool, english);
        QFETCH(QByteArray, text);
        QFETCH(QString, shown);
        auto russianAgain = qScopeGuard([] {
            for (QTranslator *translator : qApp->findChildren<QTranslator *>())
                qApp->removeTranslator(translator);
        });
        if (english)
            QVERIFY(InstallUiLanguage(qApp, UiLanguage::English));
        WindowDriver d;
        QLineEdit *edit = d.widget<QLineEdit>("runProgramEdit");
        edit->setText(write(QStringLiteral("refused.csv"), text));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(message(d), shown);
        QCOMPARE(d.widget<QListWidget>("runStepList")->count(), 0);
    }

    void aRampKeepsTheReadingsAndTheLimitActsWithinASecond()
    {
        // 1 V to 12 V over 8 s into 10 ohms, a row for every reading, the
        // limit current > 0.8 A (crossed at 8 V, 5.1 s into the ramp).
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser boxes;
        const QString program = write(QStringLiteral("ramp.csv"), "voltage,current,duration,ramp\n1,2,1,\n12,2,20,8\n");
        const QString record = dir.filePath(QStringLiteral("ramp-record.csv"));
        d.widget<QSpinBox>("runIntervalBox")->setValue(0);
        setLimit(d, 1, 2, 2, 0.8);  // current > 0.8
        QVERIFY(ready(d, program, record));
        d.widget<QPushButton>("runStartButton")->click();

        // The panel leaves the supply to the run, and says why.
        for (const char *name : {"doubleSpinBoxV", "doubleSpinBoxA", "pushButtonApply", "pushButtonOnOff"}) {
            QWidget *w = d.widget<QWidget>(name);
            QTRY_VERIFY2(!w->isEnabled(), name);
            QVERIFY2(w->toolTip().contains(QStringLiteral("прогон")), name);
        }
        QVERIFY(!d.slaveBox()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!d.widget<QPushButton>("runStopButton")->isEnabled(), 20000);
        QVERIFY(!d.supply->model().outputOn());
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "step 1", "step 2", "limit current>0.8", "output off"}));
        QVERIFY(message(d).startsWith(QStringLiteral("Сработал предел: current>0.8; выход выключен")));
        // Readings at least once a second all through the ramp; the crossing
        // reading at most a second of ramp past 0.8 A; the off confirmed
        // within a second of it.
        double previous = -1, limitAt = -1, offAt = -1;
        for (const QByteArray &row : RecordingRows(record)) {
            const QList<QByteArray> f = row.split(',');
            const double elapsed = f[1].toDouble();
            if (f[12] == "limit current>0.8") {
                limitAt = elapsed;
                QVERIFY2(f[3].toDouble() > 0.8 && f[3].toDouble() < 0.8 + 0.1375, row);
            }
            if (f[12] == "output off")
                offAt = elapsed;
            if (f[2].isEmpty() || limitAt >= 0)
                continue;
            if (previous >= 0)
                QVERIFY2(elapsed - previous <= 1.0, qPrintable(QStringLiteral("%1 s after %2: ").arg(elapsed).arg(previous) + row));
            previous = elapsed;
        }
        QVERIFY(limitAt > 5.5 && offAt >= limitAt && offAt - limitAt <= 1.0);
        // Stop gave the panel back.
        QVERIFY(d.widget<QWidget>("pushButtonApply")->isEnabled());
        QVERIFY(d.widget<QWidget>("pushButtonOnOff")->isEnabled());
        QVERIFY(!d.widget<QWidget>("pushButtonOnOff")->toolTip().contains(QStringLiteral("прогон")));
        QVERIFY(d.slaveBox()->isEnabled());
        QVERIFY(boxes.seen.isEmpty());
    }

    void anExistingRecordingIsNeverOverwrittenSilently()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        const QString record = dir.filePath(QStringLiteral("kept-record.csv"));
        d.widget<QCheckBox>("runAppendBox")->setChecked(false);
        QVERIFY(ready(d, QString(), record));
        // True when a run started, recorded a few readings and stopped.
        auto runOnce = [&d, &record] {
            auto *stop = d.widget<QPushButton>("runStopButton");
            d.widget<QPushButton>("runStartButton")->click();
            if (!stop->isEnabled())
                return false;
            const bool recorded = QTest::qWaitFor([&] { return RecordingRows(record).size() >= 3; }, 3000);
            stop->click();
            return QTest::qWaitFor([&] { return !stop->isEnabled(); }, 3000) && recorded;
        };
        QVERIFY(runOnce());
        const QByteArray first = ReadFile(record);
        QVERIFY(first.count("# start: ") == 1);

        // Cancel (Escape): nothing starts and the file stays as it was.
        QStringList asked;
        WhenModal<QMessageBox>([&asked](QMessageBox *box) {
            asked << box->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QVERIFY(!runOnce());
        QVERIFY(asked.value(0).contains(record));
        QCOMPARE(ReadFile(record), first);

        // Replace, then No at the second question: still nothing.
        auto clickButton = [](QMessageBox *box, const QString &text) {
            for (QAbstractButton *b : box->buttons())
                if (b->text() == text)
                    b->click();
        };
        WhenModal<QMessageBox>([&](QMessageBox *box) {
            clickButton(box, QStringLiteral("Заменить…"));
            WhenModal<QMessageBox>([](QMessageBox *second) { second->button(QMessageBox::No)->click(); });
        });
        QVERIFY(!runOnce());
        QCOMPARE(ReadFile(record), first);

        // Append: a second block in the same file.
        WhenModal<QMessageBox>([&](QMessageBox *box) { clickButton(box, QStringLiteral("Дописать")); });
        QVERIFY(runOnce());
        QVERIFY(ReadFile(record).startsWith(first));
        QCOMPARE(ReadFile(record).count("# start: "), 2);

        // Replace, confirmed: one block again.
        WhenModal<QMessageBox>([&](QMessageBox *box) {
            clickButton(box, QStringLiteral("Заменить…"));
            WhenModal<QMessageBox>([](QMessageBox *second) { second->button(QMessageBox::Yes)->click(); });
        });
        QVERIFY(runOnce());
        QCOMPARE(ReadFile(record).count("# start: "), 1);
    }

    void closingDuringARunAsksThenSwitchesOff()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        const QString program = write(QStringLiteral("long.csv"), "voltage,current,duration\n6,1,1:00\n");
        const QString record = dir.filePath(QStringLiteral("close-record.csv"));
        setLimit(d, 1, 0, 0, 0);
        QVERIFY(ready(d, program, record));
        d.widget<QPushButton>("runStartButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(d.supply->model().outputOn(), 2000);

        QString asked;
        WhenModal<QMessageBox>([&asked](QMessageBox *box) {
            asked = box->text();
            box->button(QMessageBox::No)->click();
        });
        QVERIFY(!d.window->close());
        QVERIFY(asked.contains(QStringLiteral("выключить выход")));
        QVERIFY(d.window->isVisible());
        QVERIFY(d.supply->model().outputOn());

        // Disconnecting asks the same; Escape keeps the run.
        WhenModal<QMessageBox>([&asked](QMessageBox *box) {
            asked = box->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        d.disconnectAction()->trigger();
        QVERIFY(asked.contains(QStringLiteral("отключиться")));
        QVERIFY(d.widget<QPushButton>("runStopButton")->isEnabled());
        QVERIFY(d.disconnectAction()->isEnabled());
        QTest::qWait(300);
        QVERIFY(d.supply->model().outputOn());

        WhenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
        d.window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!d.window->isVisible(), 3000);
        QVERIFY(!d.supply->model().outputOn());
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "step 1", "stop", "output off"}));
    }

    void silentSupplyDuringARunShowsNoBox()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser boxes;
        const QString program = write(QStringLiteral("silent.csv"), "voltage,current,duration\n5,1,60\n");
        const QString record = dir.filePath(QStringLiteral("silent-record.csv"));
        setLimit(d, 1, 0, 0, 0);
        d.widget<QSpinBox>("runOffRetryBox")->setValue(2);
        QVERIFY(ready(d, program, record));
        d.widget<QPushButton>("runStartButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(d.supply->model().outputOn(), 4000);

        d.supply->setOptions(Silent());
        // After 2 s without a reading the live line says so, and so does the
        // recording, once.
        QTRY_VERIFY_WITH_TIMEOUT(d.widget<QLabel>("runProgressLabel")->text().endsWith(QStringLiteral("нет ответа")), 4000);
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "step 1", "no answer"}));
        // The stop's output-off is never acknowledged: after the time allowed
        // for it the run ends, unsure.
        d.widget<QPushButton>("runStopButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.widget<QPushButton>("runStopButton")->isEnabled(), 4000);
        QVERIFY(message(d).startsWith(QStringLiteral("Прогон остановлен; состояние выхода неизвестно\n")));
        QVERIFY(d.widget<QPushButton>("runStartButton")->isEnabled());
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "step 1", "no answer", "stop", "output unknown"}));
        QVERIFY(boxes.seen.isEmpty());
    }

    void aHeldRecordingOrAnImpossibleLimitIsRefused()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        MessageBoxCloser boxes;
        const QString record = dir.filePath(QStringLiteral("held.csv"));
        setLimit(d, 1, 0, 0, 0);
        QVERIFY(ready(d, QString(), record));
        RecordingHeader header;
        header.software = QStringLiteral("velkaroctl 1.1");
        RunRecording other;
        QVERIFY(other.open(record, RunRecording::Mode::New, header, 0));
        const QByteArray held = ReadFile(record);
        // Appending, so that no overwrite question comes first.
        d.widget<QCheckBox>("runAppendBox")->setChecked(true);
        d.widget<QPushButton>("runStartButton")->click();
        QCOMPARE(message(d), QStringLiteral("Файл записи %1 занят: его пишет velkaroctl (pid %2)")
                                 .arg(record)
                                 .arg(QCoreApplication::applicationPid()));
        QVERIFY(d.widget<QPushButton>("runStartButton")->isEnabled());
        QCOMPARE(ReadFile(record), held);
        other.close();

        // A limit the supply cannot reach is refused before anything starts.
        setLimit(d, 1, 1, 2, 1000);  // voltage > 1000
        d.widget<QPushButton>("runStartButton")->click();
        QVERIFY2(message(d).startsWith(QStringLiteral("Предел voltage>1000 не принят: ")), qPrintable(message(d)));
        QCOMPARE(ReadFile(record), held);

        QVERIFY(boxes.seen.isEmpty());
    }

    void lostPortIsReopenedByItsName()
    {
        MessageBoxCloser boxes;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        QVERIFY(d.supply->makeLink(link, nullptr));
        const QString record = dir.filePath(QStringLiteral("lost-record.csv"));
        d.widget<QLineEdit>("runProgramEdit")->clear();
        d.widget<QLineEdit>("runRecordEdit")->setText(record);
        setLimit(d, 1, 0, 0, 0);
        d.portBox()->setEditText(link);
        d.connectAction()->trigger();
        QTRY_VERIFY(d.widget<QPushButton>("runStartButton")->isEnabled());
        d.widget<QPushButton>("runStartButton")->click();
        QTRY_VERIFY(ReadFile(record).count('\n') > 12);  // a few readings

        // The adapter pulled: its terminal and its name go together, as the
        // system's links to a device do; the name comes back with the next.
        d.supply->closeMaster();
        QVERIFY(QFile::remove(link));
        QTRY_VERIFY(RecordingEvents(record).contains(QStringLiteral("port lost")));
        VirtualSupply second;
        QVERIFY(second.open(nullptr));
        QVERIFY(second.makeLink(link, nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(RecordingEvents(record).contains(QStringLiteral("reconnected")), 4000);
        // After the reconnection the set-points are read again, then the
        // first status reading closes the gap.
        QTRY_VERIFY_WITH_TIMEOUT(RecordingEvents(record).contains(QStringLiteral("gap")), 4000);
        QVERIFY(second.repliesSent() >= 1);
        QVERIFY(d.disconnectAction()->isEnabled());
        // The reopened port serves the pages as a connect does.
        QVERIFY(d.widget<QPushButton>("pushButtonReadCalibr")->isEnabled());
        d.widget<QPushButton>("runStopButton")->click();
        QTRY_VERIFY(message(d).startsWith(QStringLiteral("Прогон остановлен; выход выключен\nИтог за ")));
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "port lost", "reconnected", "gap", "stop", "output off"}));
        QVERIFY(boxes.seen.isEmpty());
    }

    void choicesAreRemembered()
    {
        const QList<QPair<const char *, QVariant>> choices = {
            {"runRecordEdit", "/tmp/kept.csv"}, {"runRepeatBox", 3}, {"runIntervalBox", 5},
            {"runKeepOutputBox", true}, {"runAppendBox", true}, {"runSilenceBox", 25}, {"runReconnectBox", false},
            {"runReconnectWithinBox", 45}, {"runOffRetryBox", 90}, {"runLimitQuantity3", 6},
            {"runLimitComparison3", 3}, {"runLimitValue3", 120.5}};
        // The property each kind of box shows its choice in.
        const auto shown = [](const QWidget *w) {
            return w->inherits("QLineEdit") ? "text" : w->inherits("QCheckBox") ? "checked"
                   : w->inherits("QComboBox") ? "currentIndex" : "value";
        };
        {
            WindowDriver d;
            for (const auto &c : choices)
                QVERIFY(d.widget<QWidget>(c.first)->setProperty(shown(d.widget<QWidget>(c.first)), c.second));
        }
        WindowDriver d;
        for (const auto &c : choices)
            QCOMPARE(d.widget<QWidget>(c.first)->property(shown(d.widget<QWidget>(c.first))), c.second);
    }
};

PANEL_TEST_MAIN(RunPageTest)

#include "tst_runpage.moc"
