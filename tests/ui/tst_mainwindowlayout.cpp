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

QString describe(const QObject *object)
{
    return object ? object->objectName() : QStringLiteral("(null)");
}

} // namespace

class TestMainWindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void membersAreNamedTypedAndDeclaredInBuildOrder();
    void windowFrame();
    void gridCells();
    void layoutSpacingAndMargins();
    void integerSpinBoxes_data();
    void integerSpinBoxes();
    void doubleSpinBoxes_data();
    void doubleSpinBoxes();
    void setpointBoxesKeepTheirFineSteps();
    void displays();
    void fontsAndButtons();
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
        W(menuBar, QMenuBar), W(mainToolBar, QToolBar), W(statusBar, QStatusBar),
    };
#undef W
#undef S
    // The form holds nothing but these pointers.
    QCOMPARE(int(std::size(members)), 179);
    QCOMPARE(sizeof(MainWindowForm), std::size(members) * sizeof(void *));

    const char *previous = nullptr;
    int spacers = 0;
    for (const Member &m : members) {
        const QString name = QLatin1String(m.name);
        QVERIFY2(!previous || m.address > previous, qPrintable(name + " is declared out of order"));
        previous = m.address;
        if (m.spacer) {
            ++spacers;
            QCOMPARE(m.spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            QCOMPARE(m.spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
            QCOMPARE(m.spacer->sizeHint().height(), 20);
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
    QCOMPARE(built.window.minimumSize(), QSize(0, 0));
    QCOMPARE(built.window.sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));

    QCOMPARE(built.window.centralWidget(), f.centralWidget);
    QVERIFY(!f.centralWidget->layout());
    QCOMPARE(f.tabWidget->parentWidget(), f.centralWidget);
    QCOMPARE(f.tabWidget->geometry(), QRect(10, 10, 320, 396));
    QCOMPARE(f.tabWidget->maximumSize(), QSize(330, 500));
    const QList<QWidget *> pages = {f.tab, f.tab_4, f.tab_2, f.tab_3, f.tab_5};
    QCOMPARE(f.tabWidget->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
        QCOMPARE(f.tabWidget->widget(i), pages.at(i));
    QCOMPARE(f.tabWidget->currentIndex(), 0);
    QVERIFY(!f.tab_5->layout());

    QCOMPARE(built.window.menuBar(), f.menuBar);
    QVERIFY(f.menuBar->actions().isEmpty());
    QCOMPARE(built.window.statusBar(), f.statusBar);
    QCOMPARE(built.window.toolBarArea(f.mainToolBar), Qt::TopToolBarArea);
    QVERIFY(f.mainToolBar->actions().isEmpty());
}

void TestMainWindowLayout::gridCells()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    // (row, column, row span, column span) of an item in a grid.
    auto cell = [](QGridLayout *grid, QLayoutItem *item) {
        QVector<int> p(4, -1);
        const int index = grid->indexOf(item);
        if (index >= 0)
            grid->getItemPosition(index, &p[0], &p[1], &p[2], &p[3]);
        return p;
    };
    auto at = [&cell](QGridLayout *grid, QWidget *w) { return cell(grid, grid->itemAt(grid->indexOf(w))); };
    using P = QVector<int>;
    QCOMPARE(at(f.gridLayout_6, f.groupBox_2), P({1, 0, 1, 1}));
    QCOMPARE(at(f.gridLayout_5, f.label), P({0, 0, 1, 1}));
    QCOMPARE(at(f.gridLayout_5, f.lcdNumberV), P({0, 1, 1, 1}));
    QCOMPARE(cell(f.gridLayout_5, f.gridLayout), P({0, 2, 1, 1}));
    QCOMPARE(at(f.gridLayout_5, f.labelAmA), P({1, 0, 1, 1}));
    QCOMPARE(at(f.gridLayout_5, f.lcdNumberA), P({1, 1, 1, 1}));
    QCOMPARE(cell(f.gridLayout_5, f.gridLayout_2), P({1, 2, 1, 1}));
    QCOMPARE(at(f.gridLayout_2, f.label_cc), P({1, 0, 1, 1}));
    QCOMPARE(cell(f.gridLayout_3, f.horizontalSpacer), P({0, 1, 1, 2}));
    QCOMPARE(at(f.gridLayout_3, f.pushButtonApply), P({0, 3, 1, 1}));
    QCOMPARE(at(f.gridLayout_3, f.doubleSpinBoxA), P({1, 0, 1, 2}));
    QCOMPARE(cell(f.gridLayout_3, f.horizontalSpacer_2), P({1, 2, 1, 1}));
    QCOMPARE(at(f.gridLayout_8, f.textEditLog), P({0, 0, 1, 7}));
    QCOMPARE(at(f.gridLayout_8, f.pushButtonLogParam), P({1, 0, 1, 1}));
    QCOMPARE(at(f.gridLayout_8, f.pushButtonLogSave), P({1, 2, 1, 1}));
    QCOMPARE(at(f.gridLayout_8, f.pushButtoLogStop), P({1, 6, 1, 1}));
    QCOMPARE(cell(f.gridLayout_4, f.horizontalLayout_30), P({6, 0, 1, 1}));
    QCOMPARE(cell(f.gridLayout_7, f.horizontalLayout_16), P({9, 0, 1, 5}));
    QCOMPARE(cell(f.gridLayout_7, f.horizontalLayout_17), P({10, 0, 1, 4}));
    QCOMPARE(at(f.gridLayout_7, f.spinBoxRout), P({10, 4, 1, 1}));
    QCOMPARE(cell(f.gridLayout_7, f.horizontalSpacer_23), P({11, 0, 1, 1}));
    QCOMPARE(at(f.gridLayout_7, f.pushButtonApplyCalibr_2), P({11, 1, 1, 1}));
    QCOMPARE(at(f.gridLayout_7, f.pushButtonReadCalibr_2), P({11, 2, 1, 1}));
    QCOMPARE(at(f.gridLayout_7, f.pushButtonReadCalibr), P({11, 3, 1, 1}));
    QCOMPARE(at(f.gridLayout_7, f.pushButtonApplyCalibr), P({11, 4, 1, 1}));
    // A row of pages 2 and 3: label, spacer, value box.
    QCOMPARE(f.horizontalLayout_3->count(), 3);
    QCOMPARE(f.horizontalLayout_3->itemAt(0)->widget(), f.label_2);
    QCOMPARE(f.horizontalLayout_3->itemAt(1), f.horizontalSpacer_5);
    QCOMPARE(f.horizontalLayout_3->itemAt(2)->widget(), f.doubleSpinBoxVsdadc);
    QCOMPARE(f.horizontalSpacer_23->sizeHint().width(), 108);
    QCOMPARE(f.horizontalSpacer->sizeHint().width(), 21);
    QCOMPARE(f.horizontalSpacer_2->sizeHint().width(), 15);
}

void TestMainWindowLayout::layoutSpacingAndMargins()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    for (QLayout *grid : std::initializer_list<QLayout *>{f.gridLayout_6, f.gridLayout_5, f.gridLayout_3,
                                                          f.gridLayout_8, f.gridLayout_4, f.gridLayout_7}) {
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    }
    for (QLayout *nested : std::initializer_list<QLayout *>{f.gridLayout, f.horizontalLayout_3, f.horizontalLayout_17,
                                                            f.horizontalLayout_18, f.horizontalLayout_29}) {
        QCOMPARE(nested->spacing(), 6);
        QCOMPARE(nested->contentsMargins(), QMargins(0, 0, 0, 0));
    }
}

void TestMainWindowLayout::integerSpinBoxes_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("enabled");
    const struct {
        const char *name;
        int minimum, maximum, value;
        bool readOnly, enabled;
    } rows[] = {
        {"spinBox", 0, 99, 0, false, true},
        {"spinBoxKuAdcVolt", 800, 1200, 1000, false, true},
        {"spinBoxOffAdcVolt", -200, 200, 0, false, true},
        {"spinBoxKuAdcCurr", 800, 1200, 1000, false, true},
        {"spinBoxOffAdcCurr", -200, 200, 0, false, true},
        {"spinBoxKuAdcCurrFune", 800, 1200, 1000, false, false},
        {"spinBoxOffAdcCurrFine", -900, 900, 0, false, false},
        {"spinBoxKuDacVolt", 800, 1200, 1000, false, true},
        {"spinBoxOffDacVolt", -200, 200, 0, false, true},
        {"spinBoxKuDacCurr", 800, 1200, 1000, false, true},
        {"spinBoxOffDacCurr", -200, 200, 0, false, true},
        {"spinBoxRout", 0, 10, 0, false, true},
        {"spinBoxNVPstatus", 0, 1, 1, false, true},
        {"spinBoxLifeCounter", 0, 10000, 0, true, true},
        {"spinBoxCurrTrigStat", 0, 1, 0, false, true},
        // The trigger time travels as one byte, so the box stops at 255.
        {"spinBoxCurrTrigTime", 0, 255, 20, false, true},
        {"spinBoxAdjStatus", 0, 1, 1, false, true},
        {"spinBoxCurrAdgStatus", 3, 4, 3, false, true},
        {"spinBoxVoltmetrStatus", 0, 1, 0, false, true},
        {"spinBoxVoltmetrTime", 5, 100, 100, false, true},
        {"spinBoxCurrentTrigger", 0, 1, 0, false, true},
        {"spinBoxFanDutyOff", 0, 600, 400, false, false},
        {"spinBoxRoutUser", 0, 200, 0, false, false},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << r.minimum << r.maximum << r.value << r.readOnly << r.enabled;
}

void TestMainWindowLayout::integerSpinBoxes()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(bool, readOnly);
    QFETCH(bool, enabled);
    BuiltWindow built;
    const bool spare = qstrcmp(QTest::currentDataTag(), "spinBox") == 0;
    const QSpinBox *box = child<QSpinBox>(built, QTest::currentDataTag());
    QCOMPARE(box->minimum(), minimum);
    QCOMPARE(box->maximum(), maximum);
    QCOMPARE(box->value(), value);
    QCOMPARE(box->singleStep(), 1);
    QCOMPARE(box->isReadOnly(), readOnly);
    QCOMPARE(box->isEnabled(), enabled);
    QVERIFY(box->suffix().isEmpty());
    QCOMPARE(box->font().pointSize(), 10);
    QCOMPARE(box->minimumSize(), spare ? QSize(90, 30) : QSize(70, 22));
    // The spare box keeps the toolkit's alignment.
    QCOMPARE(box->alignment(), spare ? QSpinBox().alignment()
                                     : Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
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
    QTest::addColumn<QSize>("minimumSize");
    QTest::addColumn<int>("pointSize");
    QTest::newRow("doubleSpinBoxV") << 0.01 << 30.0 << 2 << 0.01 << 15.0 << false << true << QSize(110, 40) << 16;
    QTest::newRow("doubleSpinBoxA") << 0.005 << 9.999 << 3 << 0.001 << 5.0 << false << true << QSize(110, 40) << 16;
    QTest::newRow("doubleSpinBoxVsdadc") << 0.0 << 30.0 << 3 << 1.0 << 15.0 << true << true << QSize(90, 30) << 10;
    QTest::newRow("doubleSpinBoxCsdadc") << 0.0 << 10.0 << 3 << 1.0 << 3.0 << true << true << QSize(90, 30) << 10;
    QTest::newRow("doubleSpinBoxTemp") << 0.0 << 100.0 << 1 << 1.0 << 50.0 << true << false << QSize(90, 30) << 10;
    QTest::newRow("doubleSpinBoxVin") << 0.0 << 45.0 << 3 << 1.0 << 15.0 << true << true << QSize(90, 30) << 10;
    QTest::newRow("doubleSpinBoxVpwm") << 0.0 << 45.0 << 3 << 1.0 << 15.0 << true << true << QSize(90, 30) << 10;
    QTest::newRow("doubleSpinBoxVref") << 0.0 << 45.0 << 3 << 1.0 << 15.0 << true << true << QSize(90, 30) << 10;
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
    QFETCH(QSize, minimumSize);
    QFETCH(int, pointSize);
    BuiltWindow built;
    const QDoubleSpinBox *box = child<QDoubleSpinBox>(built, QTest::currentDataTag());
    QCOMPARE(box->decimals(), decimals);
    QCOMPARE(box->minimum(), minimum);
    QCOMPARE(box->maximum(), maximum);
    QCOMPARE(box->singleStep(), step);
    QCOMPARE(box->value(), value);
    QCOMPARE(box->isReadOnly(), readOnly);
    QCOMPARE(box->isEnabled(), enabled);
    QCOMPARE(box->minimumSize(), minimumSize);
    QCOMPARE(box->font().pointSize(), pointSize);
    QCOMPARE(box->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    QVERIFY(!box->wrapping());
}

void TestMainWindowLayout::setpointBoxesKeepTheirFineSteps()
{
    BuiltWindow built;
    QDoubleSpinBox *volts = built.form.doubleSpinBoxV;
    QDoubleSpinBox *amps = built.form.doubleSpinBoxA;
    for (QDoubleSpinBox *box : {volts, amps}) {
        QCOMPARE(box->buttonSymbols(), QAbstractSpinBox::PlusMinus);
        QCOMPARE(box->sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        QVERIFY(box->hasFrame());
        QVERIFY(!box->isGroupSeparatorShown());
    }
    QVERIFY(!volts->isAccelerated());
    amps->setValue(0.0);
    QCOMPARE(amps->value(), 0.005);
    amps->stepBy(1);
    QCOMPARE(amps->value(), 0.006);
    amps->setValue(12.0);
    QCOMPARE(amps->value(), 9.999);
    volts->setValue(0.0);
    QCOMPARE(volts->value(), 0.01);
    volts->stepBy(1);
    QCOMPARE(volts->value(), 0.02);
    volts->setValue(12.345);
    QCOMPARE(volts->value(), 12.35);
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
    for (const QLCDNumber *lcd : {volts, amps}) {
        QCOMPARE(lcd->sizePolicy(), QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding));
        QCOMPARE(lcd->minimumSize(), QSize(130, 50));
        QCOMPARE(lcd->maximumSize(), QSize(150, QWIDGETSIZE_MAX));
        QCOMPARE(lcd->frameShape(), QFrame::Box);
        QCOMPARE(lcd->frameShadow(), QFrame::Plain);
        QVERIFY(!lcd->smallDecimalPoint());
        QCOMPARE(lcd->digitCount(), 5);
    }
}

void TestMainWindowLayout::fontsAndButtons()
{
    BuiltWindow built;
    const MainWindowForm &f = built.form;
    QCOMPARE(f.groupBox->font().pointSize(), 10);
    QVERIFY(f.groupBox->isFlat());
    QVERIFY(!f.groupBox->isCheckable());
    QVERIFY(f.groupBox_2->isFlat());
    QCOMPARE(f.groupBox_2->sizePolicy(), QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding));
    for (const QLabel *caption : {f.label_cv_3, f.label_cv_4}) {
        QCOMPARE(caption->font().family(), QStringLiteral("Calibri"));
        QCOMPARE(caption->font().pointSize(), 14);
        QCOMPARE(caption->alignment(), Qt::Alignment(Qt::AlignCenter));
    }
    QCOMPARE(f.label_cv->font().pointSize(), 10);  // inherited from the group box
    QCOMPARE(f.label_cv->alignment(), Qt::Alignment(Qt::AlignCenter));
    QCOMPARE(f.label->font().pointSize(), 16);
    QCOMPARE(f.labelAmA->font().pointSize(), 16);
    QCOMPARE(f.labelAmA->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(f.labelAmA->sizePolicy(), QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred));
    QCOMPARE(f.label_2->minimumSize(), QSize(120, 0));
    QCOMPARE(f.label_30->font().pointSize(), 10);
    for (const QLabel *disabled : {f.label_13, f.label_12, f.label_28, f.label_29})
        QVERIFY2(!disabled->isEnabled(), qPrintable(describe(disabled)));
    for (const QPushButton *button : {f.pushButtonApply, f.pushButtonOnOff}) {
        QCOMPARE(button->font().pointSize(), 11);
        QCOMPARE(button->minimumSize(), QSize(110, 40));
        QCOMPARE(button->sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
    }
    for (const QPushButton *button : {f.pushButtonLogSave, f.pushButtonLogParam, f.pushButtonLogClear,
                                      f.pushButtonLogStart, f.pushButtoLogStop}) {
        QCOMPARE(button->minimumSize(), QSize(45, 45));
        QCOMPARE(button->iconSize(), QSize(40, 40));
    }
    QVERIFY(f.textEditLog->isReadOnly());
    QVERIFY(!f.pushButtonReadCalibr_2->isEnabled());
    QVERIFY(!f.pushButtonApplyCalibr_2->isEnabled());
    for (const QPushButton *button : {f.pushButtonReadCalibr, f.pushButtonApplyCalibr,
                                      f.pushButtonReadUserParam, f.pushButtonApplyUserParam})
        QVERIFY2(button->isEnabled(), qPrintable(describe(button)));
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
    built.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&built.window));
    for (int i = 0; i < int(std::size(rows)); ++i) {
        QCOMPARE(rows[i]->parentWidget(), f.tab_5);
        QCOMPARE(rows[i]->geometry(), QRect(10, 10 + 30 * i, 271, 24));
    }
    QCOMPARE(f.layoutWidget1->geometry(), QRect(10, 340, 271, 25));
    QCOMPARE(f.horizontalLayout_29->itemAt(0), f.horizontalSpacer_35);
    QCOMPARE(f.horizontalLayout_29->itemAt(1)->widget(), f.pushButtonReadUserParam);
    QCOMPARE(f.horizontalLayout_29->itemAt(2)->widget(), f.pushButtonApplyUserParam);
    QCOMPARE(built.window.size(), QSize(340, 470));
}

PANEL_TEST_MAIN(TestMainWindowLayout)
#include "tst_mainwindowlayout.moc"
