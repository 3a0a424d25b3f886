#include "mainwindowform.h"
#include "testmain.h"

#include <QMainWindow>

namespace {

// A main window with the form built on it.
struct BuiltWindow {
    BuiltWindow() { form.setup(&window); }
    QMainWindow window;
    MainWindowForm form;
};

template <typename T>
T *child(const BuiltWindow &built, const char *name)
{
    T *object = built.window.findChild<T *>(QLatin1String(name));
    if (!object)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return object;
}

} // namespace

class TestMainWindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void membersAreNamedTypedAndDeclaredInBuildOrder();
    void windowFrame();
    void integerSpinBoxes_data();
    void integerSpinBoxes();
    void doubleSpinBoxes_data();
    void doubleSpinBoxes();
    void displays();
    void fontsAndEnabledStates();
    void userParameterRowsStayWhereTheyArePlaced();
};

void TestMainWindowLayout::membersAreNamedTypedAndDeclaredInBuildOrder()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    struct Member {
        const char *address;  // where the member sits in the form
        const QObject *object;
        const QSpacerItem *spacer;
        const char *name;
        const char *className;
    };
#define W(m, cls) {reinterpret_cast<const char *>(&f.m), f.m, nullptr, #m, #cls}
#define S(m) {reinterpret_cast<const char *>(&f.m), nullptr, f.m, #m, "QSpacerItem"}
    const Member members[] = {
        W(centralWidget, QWidget), W(tabWidget, QTabWidget),
        W(tab, QWidget), W(gridLayout_6, QGridLayout), W(groupBox, QGroupBox), W(gridLayout_5, QGridLayout),
        W(gridLayout, QGridLayout), W(label_cv_3, QLabel), W(label_cv, QLabel), W(gridLayout_2, QGridLayout),
        W(label_cv_4, QLabel), W(label_cc, QLabel), W(lcdNumberA, QLCDNumber), W(lcdNumberV, QLCDNumber),
        W(labelAmA, QLabel), W(label, QLabel), W(groupBox_2, QGroupBox), W(gridLayout_3, QGridLayout),
        W(doubleSpinBoxV, QDoubleSpinBox), S(horizontalSpacer), W(pushButtonApply, QPushButton),
        W(doubleSpinBoxA, QDoubleSpinBox), S(horizontalSpacer_2), W(pushButtonOnOff, QPushButton),
        W(tab_4, QWidget), W(gridLayout_8, QGridLayout), W(pushButtonLogSave, QPushButton),
        W(pushButtonLogParam, QPushButton), W(pushButtonLogClear, QPushButton),
        W(pushButtonLogStart, QPushButton), W(pushButtoLogStop, QPushButton), W(textEditLog, QTextEdit),
        S(horizontalSpacer_3), S(horizontalSpacer_4),
        W(tab_2, QWidget), W(gridLayout_4, QGridLayout),
        W(horizontalLayout_3, QHBoxLayout), W(label_2, QLabel), S(horizontalSpacer_5), W(doubleSpinBoxVsdadc, QDoubleSpinBox),
        W(horizontalLayout_4, QHBoxLayout), W(label_3, QLabel), S(horizontalSpacer_6), W(doubleSpinBoxCsdadc, QDoubleSpinBox),
        W(horizontalLayout_5, QHBoxLayout), W(label_7, QLabel), S(horizontalSpacer_7), W(doubleSpinBoxTemp, QDoubleSpinBox),
        W(horizontalLayout_6, QHBoxLayout), W(label_4, QLabel), S(horizontalSpacer_8), W(doubleSpinBoxVin, QDoubleSpinBox),
        W(horizontalLayout_7, QHBoxLayout), W(label_5, QLabel), S(horizontalSpacer_9), W(doubleSpinBoxVpwm, QDoubleSpinBox),
        W(horizontalLayout_8, QHBoxLayout), W(label_6, QLabel), S(horizontalSpacer_10), W(doubleSpinBoxVref, QDoubleSpinBox),
        W(horizontalLayout_30, QHBoxLayout), W(label_30, QLabel), S(horizontalSpacer_11), W(spinBox, QSpinBox),
        W(tab_3, QWidget), W(gridLayout_7, QGridLayout),
        W(horizontalLayout, QHBoxLayout), W(label_8, QLabel), S(horizontalSpacer_12), W(spinBoxKuAdcVolt, QSpinBox),
        W(horizontalLayout_2, QHBoxLayout), W(label_9, QLabel), S(horizontalSpacer_13), W(spinBoxOffAdcVolt, QSpinBox),
        W(horizontalLayout_9, QHBoxLayout), W(label_10, QLabel), S(horizontalSpacer_14), W(spinBoxKuAdcCurr, QSpinBox),
        W(horizontalLayout_10, QHBoxLayout), W(label_11, QLabel), S(horizontalSpacer_15), W(spinBoxOffAdcCurr, QSpinBox),
        W(horizontalLayout_11, QHBoxLayout), W(label_13, QLabel), S(horizontalSpacer_16), W(spinBoxKuAdcCurrFune, QSpinBox),
        W(horizontalLayout_12, QHBoxLayout), W(label_12, QLabel), S(horizontalSpacer_17), W(spinBoxOffAdcCurrFine, QSpinBox),
        W(horizontalLayout_13, QHBoxLayout), W(label_16, QLabel), S(horizontalSpacer_18), W(spinBoxKuDacVolt, QSpinBox),
        W(horizontalLayout_14, QHBoxLayout), W(label_17, QLabel), S(horizontalSpacer_19), W(spinBoxOffDacVolt, QSpinBox),
        W(horizontalLayout_15, QHBoxLayout), W(label_14, QLabel), S(horizontalSpacer_20), W(spinBoxKuDacCurr, QSpinBox),
        W(horizontalLayout_16, QHBoxLayout), W(label_15, QLabel), S(horizontalSpacer_21), W(spinBoxOffDacCurr, QSpinBox),
        W(horizontalLayout_17, QHBoxLayout), W(label_18, QLabel), S(horizontalSpacer_22), S(horizontalSpacer_23),
        W(pushButtonReadCalibr, QPushButton), W(pushButtonApplyCalibr, QPushButton), W(spinBoxRout, QSpinBox),
        W(pushButtonReadCalibr_2, QPushButton), W(pushButtonApplyCalibr_2, QPushButton),
        W(tab_5, QWidget),
        W(layoutWidget, QWidget), W(horizontalLayout_18, QHBoxLayout), W(label_19, QLabel), S(horizontalSpacer_24), W(spinBoxNVPstatus, QSpinBox),
        W(layoutWidget_2, QWidget), W(horizontalLayout_19, QHBoxLayout), W(label_20, QLabel), S(horizontalSpacer_25), W(spinBoxLifeCounter, QSpinBox),
        W(layoutWidget_3, QWidget), W(horizontalLayout_20, QHBoxLayout), W(label_21, QLabel), S(horizontalSpacer_26), W(spinBoxCurrTrigStat, QSpinBox),
        W(layoutWidget_4, QWidget), W(horizontalLayout_21, QHBoxLayout), W(label_22, QLabel), S(horizontalSpacer_27), W(spinBoxCurrTrigTime, QSpinBox),
        W(layoutWidget_5, QWidget), W(horizontalLayout_22, QHBoxLayout), W(label_23, QLabel), S(horizontalSpacer_28), W(spinBoxAdjStatus, QSpinBox),
        W(layoutWidget_6, QWidget), W(horizontalLayout_23, QHBoxLayout), W(label_24, QLabel), S(horizontalSpacer_29), W(spinBoxCurrAdgStatus, QSpinBox),
        W(layoutWidget_7, QWidget), W(horizontalLayout_24, QHBoxLayout), W(label_25, QLabel), S(horizontalSpacer_30), W(spinBoxVoltmetrStatus, QSpinBox),
        W(layoutWidget_8, QWidget), W(horizontalLayout_25, QHBoxLayout), W(label_26, QLabel), S(horizontalSpacer_31), W(spinBoxVoltmetrTime, QSpinBox),
        W(layoutWidget_9, QWidget), W(horizontalLayout_26, QHBoxLayout), W(label_27, QLabel), S(horizontalSpacer_32), W(spinBoxCurrentTrigger, QSpinBox),
        W(layoutWidget_10, QWidget), W(horizontalLayout_27, QHBoxLayout), W(label_28, QLabel), S(horizontalSpacer_33), W(spinBoxFanDutyOff, QSpinBox),
        W(layoutWidget_11, QWidget), W(horizontalLayout_28, QHBoxLayout), W(label_29, QLabel), S(horizontalSpacer_34), W(spinBoxRoutUser, QSpinBox),
        W(layoutWidget1, QWidget), W(horizontalLayout_29, QHBoxLayout), S(horizontalSpacer_35),
        W(pushButtonReadUserParam, QPushButton), W(pushButtonApplyUserParam, QPushButton),
        W(tab_6, QWidget), W(verticalLayoutChart, QVBoxLayout), W(qwtPlotChart, QwtPlot),
        W(horizontalLayoutChart, QHBoxLayout), W(comboBoxChartSpan, QComboBox),
        W(pushButtonChartPause, QPushButton), W(pushButtonChartSave, QPushButton),
        W(pushButtonChartWindow, QPushButton),
        W(menuBar, QMenuBar), W(mainToolBar, QToolBar), W(statusBar, QStatusBar),
    };
#undef W
#undef S
    // The form holds nothing but these pointers.
    QCOMPARE(int(std::size(members)), 187);
    QCOMPARE(sizeof(MainWindowForm), std::size(members) * sizeof(void *));

    const char *previous = nullptr;
    int spacers = 0;
    for (const Member &m : members) {
        const QString name = QLatin1String(m.name);
        QVERIFY2(!previous || m.address > previous, qPrintable(name + " is declared out of order"));
        previous = m.address;
        if (m.spacer) {
            ++spacers;
            continue;
        }
        QVERIFY2(m.object, qPrintable(name + " is not set"));
        QCOMPARE(m.object->objectName(), name);
        QCOMPARE(m.object->metaObject()->className(), m.className);
        if (name != QLatin1String("tab") && !name.startsWith(QLatin1String("tab_")))
            QVERIFY2(built.window.findChild<QObject *>(name) == m.object,
                     qPrintable(name + " is not the window's only object of that name"));
    }
    QCOMPARE(spacers, 35);
    QCOMPARE(built.window.objectName(), QStringLiteral("MainWindow"));
}

void TestMainWindowLayout::windowFrame()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    QCOMPARE(built.window.size(), QSize(340, 470));
    QCOMPARE(built.window.maximumSize(), QSize(340, 470));
    QCOMPARE(built.window.sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
    QCOMPARE(built.window.centralWidget(), f.centralWidget);
    QCOMPARE(built.window.menuBar(), f.menuBar);
    QCOMPARE(built.window.statusBar(), f.statusBar);
    QCOMPARE(built.window.toolBarArea(f.mainToolBar), Qt::TopToolBarArea);
    // The other parts of the program reach the pages by index.
    const QList<QWidget *> pages = {f.tab, f.tab_4, f.tab_2, f.tab_3, f.tab_5, f.tab_6};
    QCOMPARE(f.tabWidget->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
        QCOMPARE(f.tabWidget->widget(i), pages.at(i));
    QCOMPARE(f.tabWidget->currentIndex(), 0);
}

void TestMainWindowLayout::integerSpinBoxes_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("spinBox") << 0 << 99 << 0 << false << true;
    QTest::newRow("spinBoxKuAdcVolt") << 800 << 1200 << 1000 << false << true;
    QTest::newRow("spinBoxOffAdcVolt") << -200 << 200 << 0 << false << true;
    QTest::newRow("spinBoxKuAdcCurr") << 800 << 1200 << 1000 << false << true;
    QTest::newRow("spinBoxOffAdcCurr") << -200 << 200 << 0 << false << true;
    QTest::newRow("spinBoxKuAdcCurrFune") << 800 << 1200 << 1000 << false << false;
    QTest::newRow("spinBoxOffAdcCurrFine") << -900 << 900 << 0 << false << false;
    QTest::newRow("spinBoxKuDacVolt") << 800 << 1200 << 1000 << false << true;
    QTest::newRow("spinBoxOffDacVolt") << -200 << 200 << 0 << false << true;
    QTest::newRow("spinBoxKuDacCurr") << 800 << 1200 << 1000 << false << true;
    QTest::newRow("spinBoxOffDacCurr") << -200 << 200 << 0 << false << true;
    QTest::newRow("spinBoxRout") << 0 << 10 << 0 << false << true;
    QTest::newRow("spinBoxNVPstatus") << 0 << 1 << 1 << false << true;
    QTest::newRow("spinBoxLifeCounter") << 0 << 10000 << 0 << true << true;
    QTest::newRow("spinBoxCurrTrigStat") << 0 << 1 << 0 << false << true;
    // The trigger time travels as one byte, so the box stops at 255.
    QTest::newRow("spinBoxCurrTrigTime") << 0 << 255 << 20 << false << true;
    QTest::newRow("spinBoxAdjStatus") << 0 << 1 << 1 << false << true;
    QTest::newRow("spinBoxCurrAdgStatus") << 3 << 4 << 3 << false << true;
    QTest::newRow("spinBoxVoltmetrStatus") << 0 << 1 << 0 << false << true;
    QTest::newRow("spinBoxVoltmetrTime") << 5 << 100 << 100 << false << true;
    QTest::newRow("spinBoxCurrentTrigger") << 0 << 1 << 0 << false << true;
    QTest::newRow("spinBoxFanDutyOff") << 0 << 600 << 400 << false << false;
    QTest::newRow("spinBoxRoutUser") << 0 << 200 << 0 << false << false;
}

void TestMainWindowLayout::integerSpinBoxes()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(bool, readOnly);
    QFETCH(bool, enabled);
    BuiltWindow built;
    const QSpinBox *box = child<QSpinBox>(built, QTest::currentDataTag());
    QCOMPARE(box->minimum(), minimum);
    QCOMPARE(box->maximum(), maximum);
    QCOMPARE(box->value(), value);
    QCOMPARE(box->isReadOnly(), readOnly);
    QCOMPARE(box->isEnabled(), enabled);
}

void TestMainWindowLayout::doubleSpinBoxes_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("enabled");
    // The current box keeps 0.005 and 0.001 only if it has 3 decimals before they are set.
    QTest::newRow("doubleSpinBoxV") << 0.01 << 30.0 << 2 << 0.01 << 15.0 << false << true;
    QTest::newRow("doubleSpinBoxA") << 0.005 << 9.999 << 3 << 0.001 << 5.0 << false << true;
    QTest::newRow("doubleSpinBoxVsdadc") << 0.0 << 30.0 << 3 << 1.0 << 15.0 << true << true;
    QTest::newRow("doubleSpinBoxCsdadc") << 0.0 << 10.0 << 3 << 1.0 << 3.0 << true << true;
    QTest::newRow("doubleSpinBoxTemp") << 0.0 << 100.0 << 1 << 1.0 << 50.0 << true << false;
    QTest::newRow("doubleSpinBoxVin") << 0.0 << 45.0 << 3 << 1.0 << 15.0 << true << true;
    QTest::newRow("doubleSpinBoxVpwm") << 0.0 << 45.0 << 3 << 1.0 << 15.0 << true << true;
    QTest::newRow("doubleSpinBoxVref") << 0.0 << 45.0 << 3 << 1.0 << 15.0 << true << true;
}

void TestMainWindowLayout::doubleSpinBoxes()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, decimals);
    QFETCH(double, step);
    QFETCH(double, value);
    QFETCH(bool, readOnly);
    QFETCH(bool, enabled);
    BuiltWindow built;
    const QDoubleSpinBox *box = child<QDoubleSpinBox>(built, QTest::currentDataTag());
    QCOMPARE(box->decimals(), decimals);
    QCOMPARE(box->minimum(), minimum);
    QCOMPARE(box->maximum(), maximum);
    QCOMPARE(box->singleStep(), step);
    QCOMPARE(box->value(), value);
    QCOMPARE(box->isReadOnly(), readOnly);
    QCOMPARE(box->isEnabled(), enabled);
}

void TestMainWindowLayout::displays()
{
    BuiltWindow built;
    const QLCDNumber *volts = built.form.lcdNumberV;
    const QLCDNumber *amps = built.form.lcdNumberA;
    QCOMPARE(volts->value(), 15.0);
    QCOMPARE(volts->intValue(), 15);
    QCOMPARE(amps->value(), 6.0);
    QCOMPARE(amps->intValue(), 6);
    // Only the current display sets its style; the voltage one keeps the default.
    QCOMPARE(volts->segmentStyle(), QLCDNumber().segmentStyle());
    QCOMPARE(amps->segmentStyle(), QLCDNumber::Filled);
    // Five digits hold the four-digit readings with their point.
    QCOMPARE(volts->digitCount(), 5);
    QCOMPARE(amps->digitCount(), 5);
}

void TestMainWindowLayout::fontsAndEnabledStates()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    // One widget for each of the form's four font settings.
    QCOMPARE(f.label_cv_3->font().family(), QStringLiteral("Calibri"));
    QCOMPARE(f.label_cv_3->font().pointSize(), 14);
    QCOMPARE(f.doubleSpinBoxV->font().pointSize(), 16);
    QCOMPARE(f.pushButtonOnOff->font().pointSize(), 11);
    QCOMPARE(f.spinBoxKuAdcVolt->font().pointSize(), 10);

    QVERIFY(f.textEditLog->isReadOnly());
    for (const QLabel *disabled : {f.label_13, f.label_12, f.label_28, f.label_29})
        QVERIFY2(!disabled->isEnabled(), qPrintable(disabled->objectName()));
    // The memory buttons are never wired, so they must stay disabled.
    QVERIFY(!f.pushButtonReadCalibr_2->isEnabled());
    QVERIFY(!f.pushButtonApplyCalibr_2->isEnabled());
    for (const QPushButton *button : {f.pushButtonReadCalibr, f.pushButtonApplyCalibr,
                                      f.pushButtonReadUserParam, f.pushButtonApplyUserParam})
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
}

void TestMainWindowLayout::userParameterRowsStayWhereTheyArePlaced()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    const QWidget *rows[] = {f.layoutWidget, f.layoutWidget_2, f.layoutWidget_3, f.layoutWidget_4,
                             f.layoutWidget_5, f.layoutWidget_6, f.layoutWidget_7, f.layoutWidget_8,
                             f.layoutWidget_9, f.layoutWidget_10, f.layoutWidget_11};
    // Shown, the layouts are active; rows placed by geometry must not move.
    f.tabWidget->setCurrentWidget(f.tab_5);
    // The offscreen platform says it cannot pass size hints on; harmless here.
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    built.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&built.window));
    for (int i = 0; i < int(std::size(rows)); ++i) {
        QCOMPARE(rows[i]->parentWidget(), f.tab_5);
        QCOMPARE(rows[i]->geometry(), QRect(10, 10 + 30 * i, 271, 24));
    }
    QCOMPARE(f.layoutWidget1->geometry(), QRect(10, 340, 271, 25));
}

PANEL_TEST_MAIN(TestMainWindowLayout)
#include "tst_mainwindowlayout.moc"
