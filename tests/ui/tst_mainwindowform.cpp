// The main window form's captions, byte for byte. Names, ranges and images are
// used, and so checked, by the window's own tests (tests/app).

#include "mainwindowform.h"
#include "testmain.h"

#include <QMainWindow>
#include <QTabBar>

namespace {

struct BuiltWindow {
    BuiltWindow() { form.setup(&window); }
    QMainWindow window;
    MainWindowForm form;
};

// The caption a widget shows: a group's title, a spin box's suffix, else its text.
QString caption(const QMainWindow &window, const char *name)
{
    const QObject *w = window.findChild<QObject *>(QLatin1String(name));
    if (!w)
        return QStringLiteral("<missing>");
    const char *property = w->inherits("QGroupBox") ? "title"
                           : w->inherits("QAbstractSpinBox") ? "suffix" : "text";
    return w->property(property).toString();
}

const struct { const char *object; const char *text; } Captions[] = {
    {"groupBox", "Дисплей"}, {"label_cv_3", "CV"}, {"label_cv", "CV"}, {"label_cv_4", "CC"},
    {"label_cc", "CC"}, {"labelAmA", "A  "}, {"label", "   V"}, {"groupBox_2", "Управление"},
    {"doubleSpinBoxV", " V"}, {"pushButtonApply", "Применить"}, {"doubleSpinBoxA", " A"},
    {"pushButtonOnOff", "Off/On"}, {"pushButtonLogSave", ""}, {"pushButtonLogStart", ""},
    {"label_2", "Напряжение"}, {"doubleSpinBoxVsdadc", " V"}, {"label_3", "Ток"},
    {"doubleSpinBoxCsdadc", " A"}, {"label_7", "Температура"}, {"doubleSpinBoxTemp", " С"},
    {"label_4", "Напряжение Uin"}, {"doubleSpinBoxVin", " V"}, {"label_5", "Напряжение Upwm"},
    {"doubleSpinBoxVpwm", " V"}, {"label_6", "Напряжение Uref"}, {"doubleSpinBoxVref", " V"},
    {"label_30", "Rezerv"}, {"label_8", "Ku ADC Voltage"}, {"label_9", "Off ADC Voltage"},
    {"label_10", "Ku ADC Current"}, {"label_11", "Off ADC Current"},
    {"label_13", "Ku ADC Current Fine"}, {"label_12", "Off ADC Current Fine"},
    {"label_16", "Ku DAC Voltage"}, {"label_17", "Off DAC Voltage"}, {"label_14", "Ku DAC Current"},
    {"label_15", "Off DAC Current"}, {"label_18", "Rout"}, {"pushButtonReadCalibr", "Read Ram"},
    {"pushButtonApplyCalibr", "Write Ram"}, {"pushButtonReadCalibr_2", "Read Eprom"},
    {"pushButtonApplyCalibr_2", "Write Eprom"}, {"label_19", "NVP status"},
    {"label_20", "Life counter"}, {"label_21", "Current trigger status"},
    {"label_22", "Current trigger time"}, {"label_23", "AdjStatus"},
    {"label_24", "CurrentAdj34Status"}, {"label_25", "VoltmetrStatus"},
    {"label_26", "VoltmetrTime"}, {"label_27", "Current trigger flag"}, {"label_28", "Reserv"},
    {"label_29", "Reserv"}, {"pushButtonReadUserParam", "Считать"},
    {"pushButtonApplyUserParam", "Применить"},
};
const char *const PageNames[] = {"tab", "tab_4", "tab_2", "tab_3", "tab_5", "tab_6"};
const char *const PageCaptions[] = {"Tab 1", "Страница", "Tab 2", "Страница", "Страница", "График"};

void verifyCaptions(const BuiltWindow &b)
{
    QCOMPARE(b.window.windowTitle(), QStringLiteral("Velkaro"));
    for (const auto &c : Captions)
        QVERIFY2(caption(b.window, c.object) == QString::fromUtf8(c.text), c.object);
    for (int i = 0; i < int(std::size(PageNames)); ++i) {
        const int index = b.form.tabWidget->indexOf(b.window.findChild<QWidget *>(PageNames[i]));
        QCOMPARE(b.form.tabWidget->tabText(index), QString::fromUtf8(PageCaptions[i]));
    }
}

}  // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:

    void captionsAreExactAndRetranslateRestoresThem()
    {
        BuiltWindow b;
        verifyCaptions(b);
        // Spelled by code point, whatever the source encoding: Cyrillic Es.
        QCOMPARE(b.form.doubleSpinBoxTemp->suffix(), QStringLiteral(" ") + QChar(0x0421));
        // Tab captions must be found by page, not by position.
        b.form.tabWidget->tabBar()->moveTab(0, 4);
        for (int i = 0; i < b.form.tabWidget->count(); ++i)
            b.form.tabWidget->setTabText(i, QStringLiteral("Панель"));
        b.form.labelAmA->setText(QStringLiteral("   A"));
        b.form.doubleSpinBoxTemp->setSuffix(QStringLiteral(" C"));
        b.window.setWindowTitle(QString());
        b.form.retranslate(&b.window);
        verifyCaptions(b);
        // The memory buttons are never wired, so they must stay disabled.
        QVERIFY(!b.form.pushButtonReadCalibr_2->isEnabled() && !b.form.pushButtonApplyCalibr_2->isEnabled());
    }

};

PANEL_TEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
