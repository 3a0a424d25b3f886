// The main window form: what code and tests look up by name, the ranges the
// wire depends on, the captions byte for byte, and the embedded images.

#include "mainwindowform.h"
#include "testmain.h"

#include <QDir>
#include <QMainWindow>
#include <QResource>
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
    void namesClassesAndPages()
    {
        BuiltWindow b;
        const MainWindowForm &f = b.form;
        // Looked up by name by the window, the log and the tests.
        const QList<QPair<const char *, const char *>> named = {
            {"tabWidget", "QTabWidget"}, {"lcdNumberV", "QLCDNumber"}, {"lcdNumberA", "QLCDNumber"},
            {"label_cc", "QLabel"}, {"label_cv", "QLabel"}, {"labelAmA", "QLabel"},
            {"textEditLog", "QTextEdit"}, {"mainToolBar", "QToolBar"},
            {"pushButtoLogStop", "QPushButton"}, {"spinBoxKuAdcCurrFune", "QSpinBox"},
            {"spinBoxOffAdcCurrFine", "QSpinBox"}, {"spinBoxCurrTrigTime", "QSpinBox"},
            {"doubleSpinBoxVsdadc", "QDoubleSpinBox"}, {"doubleSpinBoxVref", "QDoubleSpinBox"}};
        for (const auto &n : named) {
            const QObject *o = b.window.findChild<QObject *>(QLatin1String(n.first));
            QVERIFY2(o, n.first);
            QCOMPARE(o->metaObject()->className(), n.second);
        }
        // Pages are reached by index.
        QCOMPARE(f.tabWidget->count(), int(std::size(PageNames)));
        for (int i = 0; i < int(std::size(PageNames)); ++i)
            QCOMPARE(f.tabWidget->widget(i)->objectName(), QLatin1String(PageNames[i]));
        QCOMPARE(f.tabWidget->currentIndex(), 0);
        // Four digits and a point.
        QCOMPARE(f.lcdNumberV->digitCount(), 5);
        QCOMPARE(f.lcdNumberA->digitCount(), 5);
        QVERIFY(f.textEditLog->isReadOnly());
        // The memory buttons are never wired, so they must stay disabled.
        QVERIFY(!f.pushButtonReadCalibr_2->isEnabled() && !f.pushButtonApplyCalibr_2->isEnabled());
    }

    void rangesTheWireDependsOn()
    {
        BuiltWindow b;
        const MainWindowForm &f = b.form;
        QCOMPARE(f.doubleSpinBoxV->minimum(), 0.01);
        QCOMPARE(f.doubleSpinBoxV->maximum(), 30.0);
        QCOMPARE(f.doubleSpinBoxV->decimals(), 2);
        // 0.005 and 0.001 survive only with three decimals.
        QCOMPARE(f.doubleSpinBoxA->minimum(), 0.005);
        QCOMPARE(f.doubleSpinBoxA->maximum(), 9.999);
        QCOMPARE(f.doubleSpinBoxA->decimals(), 3);
        // One byte on the wire.
        QCOMPARE(f.spinBoxCurrTrigTime->maximum(), 255);
    }

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
    }

    void embeddedImages()
    {
        const QString root = QStringLiteral(":/new/prefix1/rec/");
        const QList<QPair<const char *, int>> images = {
            {"Clear2.png", 96}, {"LED_OFF.png", 20}, {"LED_ON_GREEN.png", 20}, {"LED_ON_RED.png", 20},
            {"SaveAs2.png", 96}, {"about.png", 128}, {"connect.png", 128}, {"disconnect.png", 128},
            {"executable-script-icon.png", 256}, {"start.png", 128}, {"stop.png", 128}};
        QStringList names;
        for (const auto &image : images) {
            names << QLatin1String(image.first);
            const QString path = root + QLatin1String(image.first);
            QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);
            const QImage decoded(path);
            QCOMPARE(decoded.size(), QSize(image.second, image.second));
            // A drawing, not an empty canvas.
            QSet<QRgb> colours;
            for (int i = 0; i < image.second * image.second; i += 3)
                colours.insert(decoded.pixel(i % image.second, i / image.second));
            QVERIFY2(colours.size() > 8, image.first);
        }
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), names);

        // The icon file: an icon (type 1) of nine images.
        QFile ico(QStringLiteral(PANEL_UI_SOURCE_DIR "/velkaro.ico"));
        QVERIFY(ico.open(QIODevice::ReadOnly));
        QCOMPARE(ico.read(6), QByteArray("\0\0\1\0\x09\0", 6));
        QFile rc(QStringLiteral(PANEL_UI_SOURCE_DIR "/velkaro.rc"));
        QVERIFY(rc.open(QIODevice::ReadOnly) && rc.readAll().contains("IDI_ICON1 ICON \"velkaro.ico\""));
    }
};

PANEL_TEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
