#include "testmain.h"
#include "windowdriver.h"

#include <QLineEdit>

class PortBoxTest : public QObject
{
    Q_OBJECT

private slots:
    // A typed path is used to connect but never joins the list of ports.
    void typedPathIsUsedNotKept()
    {
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        QComboBox *box = d.portBox();
        const int listed = box->count();
        box->lineEdit()->setText(d.supply->portPath());
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(box->count(), listed);
        QCOMPARE(box->currentText(), d.supply->portPath());
        d.connectAction()->trigger();
        QVERIFY(d.disconnectAction()->isEnabled());
    }
};

PANEL_TEST_MAIN(PortBoxTest)
#include "tst_portbox.moc"
