#include "testmain.h"
#include "windowsportname.h"

class TestWindowsPortName : public QObject
{
    Q_OBJECT

private slots:
    void namesAsTypedBecomeWhatQSerialPortOpens_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("opened");
        QTest::newRow("COM3") << "COM3" << "COM3";
        QTest::newRow("lower case") << "com3" << "COM3";
        QTest::newRow("COM10 and up") << "com10" << "COM10";
        QTest::newRow("device namespace") << "\\\\.\\COM10" << "COM10";
        QTest::newRow("device namespace, lower case") << "\\\\.\\com256" << "COM256";
        QTest::newRow("forward slashes") << "//./COM12" << "COM12";
        QTest::newRow("trailing colon") << "COM4:" << "COM4";
        QTest::newRow("spaces around") << " COM5 " << "COM5";
        // Anything else is handed on untouched.
        QTest::newRow("no number") << "COM" << "COM";
        QTest::newRow("COM0") << "COM0" << "COM0";
        QTest::newRow("another device") << "\\\\.\\CNCA0" << "\\\\.\\CNCA0";
        QTest::newRow("a file name") << "C:\\ports\\COM3" << "C:\\ports\\COM3";
        QTest::newRow("a POSIX device") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
        QTest::newRow("empty") << "" << "";
    }
    void namesAsTypedBecomeWhatQSerialPortOpens()
    {
        QFETCH(QString, typed);
        QFETCH(QString, opened);
        QCOMPARE(WindowsPortName(typed), opened);
    }
};

PANEL_TEST_MAIN(TestWindowsPortName)
#include "tst_windowsportname.moc"
