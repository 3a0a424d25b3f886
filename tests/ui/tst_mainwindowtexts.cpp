#include "mainwindowform.h"
#include "testmain.h"

#include <QMainWindow>
#include <QTabBar>

namespace {

enum class Caption { WindowTitle, Title, Text, Suffix, Tab };

struct ExpectedCaption {
    Caption kind;
    const char *object;  // object name; empty for the window
    QString text;
};

// Every caption of the form, in the order the text pass sets them.
QVector<ExpectedCaption> expectedCaptions()
{
    using C = Caption;
    return {
        {C::WindowTitle, "", QStringLiteral("Velkaro")},
        {C::Title, "groupBox", QStringLiteral("Дисплей")},
        {C::Text, "label_cv_3", QStringLiteral("CV")},
        {C::Text, "label_cv", QStringLiteral("CV")},
        {C::Text, "label_cv_4", QStringLiteral("CC")},
        {C::Text, "label_cc", QStringLiteral("CC")},
        {C::Text, "labelAmA", QStringLiteral("A  ")},
        {C::Text, "label", QStringLiteral("   V")},
        {C::Title, "groupBox_2", QStringLiteral("Управление")},
        {C::Suffix, "doubleSpinBoxV", QStringLiteral(" V")},
        {C::Text, "pushButtonApply", QStringLiteral("Применить")},
        {C::Suffix, "doubleSpinBoxA", QStringLiteral(" A")},
        {C::Text, "pushButtonOnOff", QStringLiteral("Off/On")},
        {C::Tab, "tab", QStringLiteral("Tab 1")},
        {C::Text, "pushButtonLogSave", QString()},
        {C::Text, "pushButtonLogParam", QString()},
        {C::Text, "pushButtonLogClear", QString()},
        {C::Text, "pushButtonLogStart", QString()},
        {C::Text, "pushButtoLogStop", QString()},
        {C::Tab, "tab_4", QStringLiteral("Страница")},
        {C::Text, "label_2", QStringLiteral("Напряжение")},
        {C::Suffix, "doubleSpinBoxVsdadc", QStringLiteral(" V")},
        {C::Text, "label_3", QStringLiteral("Ток")},
        {C::Suffix, "doubleSpinBoxCsdadc", QStringLiteral(" A")},
        {C::Text, "label_7", QStringLiteral("Температура")},
        {C::Suffix, "doubleSpinBoxTemp", QStringLiteral(" С")},
        {C::Text, "label_4", QStringLiteral("Напряжение Uin")},
        {C::Suffix, "doubleSpinBoxVin", QStringLiteral(" V")},
        {C::Text, "label_5", QStringLiteral("Напряжение Upwm")},
        {C::Suffix, "doubleSpinBoxVpwm", QStringLiteral(" V")},
        {C::Text, "label_6", QStringLiteral("Напряжение Uref")},
        {C::Suffix, "doubleSpinBoxVref", QStringLiteral(" V")},
        {C::Text, "label_30", QStringLiteral("Rezerv")},
        {C::Tab, "tab_2", QStringLiteral("Tab 2")},
        {C::Text, "label_8", QStringLiteral("Ku ADC Voltage")},
        {C::Text, "label_9", QStringLiteral("Off ADC Voltage")},
        {C::Text, "label_10", QStringLiteral("Ku ADC Current")},
        {C::Text, "label_11", QStringLiteral("Off ADC Current")},
        {C::Text, "label_13", QStringLiteral("Ku ADC Current Fine")},
        {C::Text, "label_12", QStringLiteral("Off ADC Current Fine")},
        {C::Text, "label_16", QStringLiteral("Ku DAC Voltage")},
        {C::Text, "label_17", QStringLiteral("Off DAC Voltage")},
        {C::Text, "label_14", QStringLiteral("Ku DAC Current")},
        {C::Text, "label_15", QStringLiteral("Off DAC Current")},
        {C::Text, "label_18", QStringLiteral("Rout")},
        {C::Text, "pushButtonReadCalibr", QStringLiteral("Read Ram")},
        {C::Text, "pushButtonApplyCalibr", QStringLiteral("Write Ram")},
        {C::Text, "pushButtonReadCalibr_2", QStringLiteral("Read Eprom")},
        {C::Text, "pushButtonApplyCalibr_2", QStringLiteral("Write Eprom")},
        {C::Tab, "tab_3", QStringLiteral("Страница")},
        {C::Text, "label_19", QStringLiteral("NVP status")},
        {C::Text, "label_20", QStringLiteral("Life counter")},
        {C::Text, "label_21", QStringLiteral("Current trigger status")},
        {C::Text, "label_22", QStringLiteral("Current trigger time")},
        {C::Text, "label_23", QStringLiteral("AdjStatus")},
        {C::Text, "label_24", QStringLiteral("CurrentAdj34Status")},
        {C::Text, "label_25", QStringLiteral("VoltmetrStatus")},
        {C::Text, "label_26", QStringLiteral("VoltmetrTime")},
        {C::Text, "label_27", QStringLiteral("Current trigger flag")},
        {C::Text, "label_28", QStringLiteral("Reserv")},
        {C::Text, "label_29", QStringLiteral("Reserv")},
        {C::Text, "pushButtonReadUserParam", QStringLiteral("Считать")},
        {C::Text, "pushButtonApplyUserParam", QStringLiteral("Применить")},
        {C::Tab, "tab_5", QStringLiteral("Страница")},
    };
}

QString shownCaption(const QMainWindow &window, const MainWindowForm &form, const ExpectedCaption &c)
{
    if (c.kind == Caption::WindowTitle)
        return window.windowTitle();
    QWidget *w = window.findChild<QWidget *>(QLatin1String(c.object));
    if (!w)
        return QStringLiteral("<missing %1>").arg(QLatin1String(c.object));
    switch (c.kind) {
    case Caption::Title:
        return qobject_cast<QGroupBox *>(w)->title();
    case Caption::Text:
        if (auto *label = qobject_cast<QLabel *>(w))
            return label->text();
        return qobject_cast<QAbstractButton *>(w)->text();
    case Caption::Suffix:
        return qobject_cast<QDoubleSpinBox *>(w)->suffix();
    case Caption::Tab:
        return form.tabWidget->indexOf(w) < 0 ? QStringLiteral("<not a page>")
                                               : form.tabWidget->tabText(form.tabWidget->indexOf(w));
    case Caption::WindowTitle:
        break;
    }
    return QString();
}

void verifyAllCaptions(const QMainWindow &window, const MainWindowForm &form)
{
    for (const ExpectedCaption &c : expectedCaptions()) {
        const QString shown = shownCaption(window, form, c);
        QVERIFY2(shown == c.text, qPrintable(QStringLiteral("%1: \"%2\" instead of \"%3\"")
                                                 .arg(QLatin1String(c.object), shown, c.text)));
    }
}

} // namespace

class TestMainWindowTexts : public QObject
{
    Q_OBJECT

private slots:
    void everyCaptionIsItsSourceText();
    void blanksAndLettersAreExact();
    void retranslateRestoresReplacedTexts();
    void tabCaptionsFollowTheirPages();
};

void TestMainWindowTexts::everyCaptionIsItsSourceText()
{
    QMainWindow window;
    MainWindowForm form;
    form.setup(&window);
    verifyAllCaptions(window, form);
}

void TestMainWindowTexts::blanksAndLettersAreExact()
{
    QMainWindow window;
    MainWindowForm form;
    form.setup(&window);
    // Spelled out by code point, independently of the source encoding.
    const QChar blank(' ');
    QCOMPARE(form.doubleSpinBoxTemp->suffix(), QString(blank) + QChar(0x0421));
    QCOMPARE(form.labelAmA->text(), QChar('A') + QString(2, blank));
    QCOMPARE(form.label->text(), QString(3, blank) + QChar('V'));
    QCOMPARE(form.label_4->text().toUtf8(), QByteArray("\xd0\x9d\xd0\xb0\xd0\xbf\xd1\x80\xd1\x8f\xd0\xb6"
                                                       "\xd0\xb5\xd0\xbd\xd0\xb8\xd0\xb5 Uin"));
    QCOMPARE(form.pushButtonApply->text().toUtf8(),
             QByteArray("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd0\xbd\xd0\xb8\xd1\x82\xd1\x8c"));
    // The log buttons show nothing, not their object names.
    QVERIFY(form.pushButtoLogStop->text().isEmpty());
}

void TestMainWindowTexts::retranslateRestoresReplacedTexts()
{
    QMainWindow window;
    MainWindowForm form;
    form.setup(&window);
    const QStringList runtimeTabs = {QStringLiteral("Панель"), QStringLiteral("Лог"), QStringLiteral("АЦП"),
                                     QStringLiteral("Калибр."), QStringLiteral("UserMenu")};
    for (int i = 0; i < runtimeTabs.size(); ++i)
        form.tabWidget->setTabText(i, runtimeTabs.at(i));
    form.labelAmA->setText(QStringLiteral("   A"));
    form.pushButtonOnOff->setText(QStringLiteral("Выключить"));
    form.doubleSpinBoxTemp->setSuffix(QStringLiteral(" C"));
    window.setWindowTitle(QString());

    form.retranslate(&window);
    verifyAllCaptions(window, form);
    form.retranslate(&window);
    verifyAllCaptions(window, form);
    QCOMPARE(form.tabWidget->currentIndex(), 0);
}

void TestMainWindowTexts::tabCaptionsFollowTheirPages()
{
    QMainWindow window;
    MainWindowForm form;
    form.setup(&window);
    // Move the first page to the end, then let the text pass run again.
    form.tabWidget->tabBar()->moveTab(0, 4);
    QCOMPARE(form.tabWidget->widget(1), form.tab_2);
    QCOMPARE(form.tabWidget->widget(4), form.tab);
    for (int i = 0; i < form.tabWidget->count(); ++i)
        form.tabWidget->setTabText(i, QString());

    form.retranslate(&window);
    QCOMPARE(form.tabWidget->tabText(4), QStringLiteral("Tab 1"));
    QCOMPARE(form.tabWidget->tabText(1), QStringLiteral("Tab 2"));
    verifyAllCaptions(window, form);
}

PANEL_TEST_MAIN(TestMainWindowTexts)
#include "tst_mainwindowtexts.moc"
