#include "testmain.h"
#include "windowdriver.h"

#include <QLCDNumber>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QTabWidget>

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void disconnectedLook()
    {
        WindowDriver d;
        QTabWidget *tabs = d.widget<QTabWidget>("tabWidget");
        const QStringList captions = {QStringLiteral("Панель"), QStringLiteral("Лог"), QStringLiteral("АЦП"),
                                      QStringLiteral("Калибр."), QStringLiteral("UserMenu"),
                                      QStringLiteral("График")};
        for (int i = 0; i < captions.size(); ++i)
            QCOMPARE(tabs->tabText(i), captions.at(i));
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
        QCOMPARE(d.widget<QLabel>("labelAmA")->text(), QStringLiteral("   A"));
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberV")->intValue(), 0);
        QCOMPARE(d.widget<QLCDNumber>("lcdNumberA")->intValue(), 0);
        QCOMPARE(d.widget<QLabel>("label_cc")->pixmap(Qt::ReturnByValue).toImage(),
                 QImage(":/new/prefix1/rec/LED_ON_RED.png"));
        QCOMPARE(d.widget<QLabel>("label_cv")->pixmap(Qt::ReturnByValue).toImage(),
                 QImage(":/new/prefix1/rec/LED_ON_GREEN.png"));

        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(!d.disconnectAction()->isEnabled());
        QCOMPARE(d.connectAction()->statusTip(), QStringLiteral("Подключить прибор"));
        QCOMPARE(d.disconnectAction()->statusTip(), QStringLiteral("Отключить прибор"));
        QVERIFY(d.action(QStringLiteral("О программе"))->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonReadCalibr")->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonApplyCalibr")->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtoLogStop")->isEnabled());
        QVERIFY(d.widget<QPushButton>("pushButtonLogStart")->isEnabled());
        QVERIFY(!d.widget<QPushButton>("pushButtonLogSave")->icon().isNull());
        QVERIFY(d.portBox()->isEnabled());
        QVERIFY(d.portBox()->isEditable());
    }

    void toolBarInOrder()
    {
        WindowDriver d;
        QCOMPARE(d.toolBar()->iconSize(), QSize(30, 30));
        const QList<QAction *> items = d.toolBar()->actions();
        QCOMPARE(items.size(), 11);
        QCOMPARE(items.at(0), d.connectAction());
        QCOMPARE(items.at(1), d.disconnectAction());
        QVERIFY(items.at(2)->isSeparator());
        auto *portLabel = qobject_cast<QLabel *>(d.toolBar()->widgetForAction(items.at(3)));
        QVERIFY(portLabel);
        QCOMPARE(portLabel->text(), QStringLiteral("  Номер\n  порта"));
        QCOMPARE(portLabel->font().weight(), 75);
        QCOMPARE(d.toolBar()->widgetForAction(items.at(4)), d.portBox());
        QVERIFY(items.at(5)->isSeparator());
        auto *slaveLabel = qobject_cast<QLabel *>(d.toolBar()->widgetForAction(items.at(6)));
        QVERIFY(slaveLabel);
        QCOMPARE(slaveLabel->text(), QStringLiteral("Id slave"));
        QCOMPARE(d.toolBar()->widgetForAction(items.at(7)), d.slaveBox());
        QVERIFY(items.at(8)->isSeparator() && items.at(9)->isSeparator());
        QCOMPARE(items.at(10)->text(), QStringLiteral("О программе"));
        QCOMPARE(d.slaveBox()->minimum(), 0);
        QCOMPARE(d.slaveBox()->maximum(), 255);
        QCOMPARE(d.slaveBox()->value(), 0);
        QCOMPARE(d.portBox()->size(), QSize(60, 25));
        QCOMPARE(d.slaveBox()->size(), QSize(45, 25));
    }

    void fourteenSlotsInOrder()
    {
        const QMetaObject &meta = MainWindow::staticMetaObject;
        QCOMPARE(meta.className(), "MainWindow");
        QStringList names;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod m = meta.method(i);
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
            QCOMPARE(m.access(), QMetaMethod::Private);
            QCOMPARE(m.parameterCount(), 0);
            names << QString::fromLatin1(m.name());
        }
        QCOMPARE(names, QStringList({"OpenPort", "ClosePort", "TimeOut", "ApplyParam", "OnOff", "ReadParam",
                                     "WriteParam", "ReadUserParam", "WriteUserParam", "StartLog", "StopLog",
                                     "ClearLog", "SaveAsFile", "About"}));
    }

    void formatDigits_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("point");
        QTest::addColumn<QString>("text");
        QTest::newRow("volts") << 1234 << 1 << "12.34";
        QTest::newRow("leading zeros") << 7 << 1 << "00.07";
        QTest::newRow("amperes") << 1234 << 0 << "1.234";
        QTest::newRow("milliamperes") << 5 << 0 << "0.005";
        QTest::newRow("no point") << 1234 << 4 << "1234";
        QTest::newRow("negative current clamps to zero") << -1 << 0 << "0.000";
        QTest::newRow("most negative") << -32768 << 0 << "0.000";
        QTest::newRow("overflow clamps to 9999") << 12000 << 1 << "99.99";
        QTest::newRow("largest reading") << 65535 << 1 << "99.99";
    }

    void formatDigits()
    {
        QFETCH(int, value);
        QFETCH(int, point);
        QFETCH(QString, text);
        QCOMPARE(MainWindow::FormatDigits(value, point), text);
    }

    void aboutNamesTheVersion()
    {
        WindowDriver d;
        MessageBoxCloser closer;
        d.action(QStringLiteral("О программе"))->trigger();
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.at(0).title, QStringLiteral("О программе"));
        QVERIFY(closer.seen.at(0).text.contains("1.1"));
    }

    void noSuchPortSaysSoAndStaysDisconnected()
    {
        WindowDriver d;
        MessageBoxCloser closer;
        d.portBox()->setEditText("/dev/no-such-port");
        d.connectAction()->trigger();
        QTRY_COMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.at(0).icon, QMessageBox::Critical);
        QCOMPARE(closer.seen.at(0).title, QStringLiteral("Error"));
        QCOMPARE(closer.seen.at(0).text, QStringLiteral("Не удается открыть порт"));
        QVERIFY(d.connectAction()->isEnabled());
        QVERIFY(d.portBox()->isEnabled());
        QVERIFY(!d.widget<QWidget>("tab")->isEnabled());
    }
};

PANEL_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
