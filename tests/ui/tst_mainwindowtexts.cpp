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
        {C::Tab, "tab_6", QStringLiteral("График")},
    };
}

QString shownCaption(const QMainWindow &window, const MainWindowForm &form, const ExpectedCaption &c)
{
    if (c.kind == Caption::WindowTitle)
        return window.windowTitle();
    QWidget *w = window.findChild<QWidget *>(QLatin1String(c.object));
    if (!w)
        return QStringLiteral("<missing>");
    if (c.kind == Caption::Tab) {
        const int index = form.tabWidget->indexOf(w);
        return index < 0 ? QStringLiteral("<not a page>") : form.tabWidget->tabText(index);
    }
    // A widget of the wrong class lacks the property and shows nothing.
    static const char *const property[] = {nullptr, "title", "text", "suffix"};
    return w->property(property[int(c.kind)]).toString();
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
    void blanksAndLettersAreExact();
    void captionsAreSourceTextsAndRetranslateRestoresThem();
};

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
    QCOMPARE(form.pushButtonApply->text().toUtf8(),
             QByteArray("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd0\xbd\xd0\xb8\xd1\x82\xd1\x8c"));
}

void TestMainWindowTexts::captionsAreSourceTextsAndRetranslateRestoresThem()
{
    QMainWindow window;
    MainWindowForm form;
    form.setup(&window);
    verifyAllCaptions(window, form);
    // The window renames the tabs and some captions at run time; move the
    // first page to the end so that tab captions must be found by page.
    form.tabWidget->tabBar()->moveTab(0, 4);
    QCOMPARE(form.tabWidget->widget(4), form.tab);
    for (int i = 0; i < form.tabWidget->count(); ++i)
        form.tabWidget->setTabText(i, QStringLiteral("Панель"));
    form.labelAmA->setText(QStringLiteral("   A"));
    form.pushButtonOnOff->setText(QStringLiteral("Выключить"));
    form.doubleSpinBoxTemp->setSuffix(QStringLiteral(" C"));
    window.setWindowTitle(QString());

    form.retranslate(&window);
    verifyAllCaptions(window, form);
    form.retranslate(&window);  // safe to repeat
    verifyAllCaptions(window, form);
}

PANEL_TEST_MAIN(TestMainWindowTexts)
#include "tst_mainwindowtexts.moc"
