// The window's language: how the program chooses it, the English window
// itself, and the translation file kept complete.

#include "captionfit.h"
#include "testmain.h"
#include "uilanguage.h"
#include "windowdriver.h"

#include <QScopeGuard>
#include <QTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

bool HasCyrillic(const QString &text)
{
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    return text.contains(cyrillic);
}

// Every text the window can show that has Russian in it, named by its object.
QStringList RussianTexts(QWidget *window)
{
    QStringList found;
    auto check = [&found](const QObject *object, const QString &text) {
        if (HasCyrillic(text))
            found << object->objectName() + QStringLiteral(": ") + text;
    };
    QObjectList objects{window};
    for (QObject *o : window->findChildren<QObject *>())
        objects << o;
    for (const QObject *o : objects) {
        for (const char *name : {"text", "title", "suffix", "windowTitle", "toolTip", "statusTip"})
            check(o, o->property(name).toString());
        if (auto *c = qobject_cast<const QComboBox *>(o)) {
            for (int i = 0; i < c->count(); ++i)
                check(o, c->itemText(i));
        }
        if (auto *t = qobject_cast<const QTabWidget *>(o)) {
            for (int i = 0; i < t->count(); ++i)
                check(o, t->tabText(i));
        }
    }
    return found;
}

// The entries of a .ts file as "context / source", and those not finished.
void ReadTs(const QString &path, QStringList *sources, QStringList *unfinished)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            *sources << context + QStringLiteral(" / ") + xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const bool typed = xml.attributes().hasAttribute(QLatin1String("type"));
            if (xml.readElementText().isEmpty() || typed)
                *unfinished << sources->constLast();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
}

}  // namespace

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void programChoosesLanguage_data()
    {
        QTest::addColumn<QString>("environment");  // settings apart by spaces
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("firstTab");  // empty: refused
        const QString ru = QStringLiteral("Панель"), en = QStringLiteral("Panel");
        QTest::newRow("C locale") << "LANG=C" << "" << ru;
        QTest::newRow("C locale, LANGUAGE=en") << "LANG=C.UTF-8 LANGUAGE=en" << "" << ru;
        QTest::newRow("LC_ALL=C over an English LANG") << "LANG=en_US.UTF-8 LC_ALL=C" << "" << ru;
        QTest::newRow("English locale") << "LANG=en_GB.UTF-8" << "" << en;
        QTest::newRow("Russian before English") << "LANG=ru_RU.UTF-8 LANGUAGE=ru:en" << "" << ru;
        QTest::newRow("German, then English") << "LANG=de_DE.UTF-8 LANGUAGE=de:en" << "" << en;
        QTest::newRow("variable over locale") << "LANG=C VELKARO_LANG=en" << "" << en;
        QTest::newRow("command line over variable") << "LANG=en_US.UTF-8 VELKARO_LANG=en" << "--lang ru" << ru;
        QTest::newRow("--lang=en") << "LANG=C VELKARO_LANG=ru" << "--lang=en" << en;
        QTest::newRow("unknown variable ignored") << "LANG=en_US.UTF-8 VELKARO_LANG=fr" << "" << en;
        QTest::newRow("unknown --lang refused") << "LANG=en_US.UTF-8" << "--lang fr" << QString();
    }

    void programChoosesLanguage()
    {
        QFETCH(QString, environment);
        QFETCH(QString, arguments);
        QFETCH(QString, firstTab);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "VELKARO_LANG"})
            env.remove(name);
        for (const QString &setting : environment.split(' '))
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LD_PRELOAD", CAPTION_PROBE);
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(VELKARO_EXE, arguments.split(' ', Qt::SkipEmptyParts));
        QVERIFY(program.waitForFinished(15000));
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        if (firstTab.isEmpty()) {
            // A language the window does not have: one line saying so, no window.
            QCOMPARE(program.exitCode(), 2);
            QVERIFY2(err.contains(QStringLiteral("velkaro: --lang takes en or ru")), qPrintable(err));
            QVERIFY(out.isEmpty());
            return;
        }
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(out.split('\n').contains(firstTab), qPrintable(out + err));
        QCOMPARE(err.contains(QStringLiteral("VELKARO_LANG=fr ignored")),
                 environment.contains(QStringLiteral("VELKARO_LANG=fr")));
    }

    // Every caption of every page, page window and dialog fits its widget in
    // both languages, at the window's fixed size, in the system's fonts; the
    // English window, its windows and boxes have no Russian left, and the
    // toolkit's own buttons speak the window's language.
    void everyCaptionFits_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("ru") << int(UiLanguage::Russian);
        QTest::newRow("en") << int(UiLanguage::English);
    }

    void everyCaptionFits()
    {
        QFETCH(int, language);
        // A desktop's default font, as the toolkit picks it on a Debian
        // system without desktop settings: the offscreen platform's own is
        // 12 points, which no window is laid out for.
        const QFont offscreenFont = QApplication::font();
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
        auto restore = qScopeGuard([&offscreenFont] {
            QApplication::setFont(offscreenFont);
            for (QTranslator *translator : qApp->findChildren<QTranslator *>())
                qApp->removeTranslator(translator);
        });
        const bool russian = UiLanguage(language) == UiLanguage::Russian;
        QVERIFY(InstallUiLanguage(qApp, UiLanguage(language)));
        WindowDriver d;
        QVERIFY(d.supplyOpen);
        d.supply->model().setOutputOn(true);
        QStringList clipped, russianLeft;
        auto walk = [&clipped, &russianLeft, russian](QWidget *top) {
            QVERIFY(QTest::qWaitForWindowExposed(top));
            QCoreApplication::processEvents();
            clipped << captionfit::Clipped(top);
            if (!russian)
                russianLeft << RussianTexts(top);
        };
        // Every page, disconnected and connected with the output on.
        auto *tabs = d.widget<QTabWidget>("tabWidget");
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            walk(d.window.get());
        }
        d.connectToSupply();
        tabs->setCurrentIndex(0);
        QTRY_COMPARE(d.widget<QPushButton>("pushButtonOnOff")->text(),
                     russian ? QStringLiteral("Выключить") : QStringLiteral("Switch off"));
        walk(d.window.get());

        // The pages in windows of their own, the run's with a message of two
        // lines, and the log options.
        d.widget<QLabel>("runMessageLabel")->setText(
            russian ? QStringLiteral("Прогон прерван: запись не подтверждена после четырёх попыток; "
                                     "состояние выхода неизвестно")
                    : QStringLiteral("Run aborted: the write was not confirmed after four tries; "
                                     "the output's state is unknown"));
        d.window->findChild<QAction *>(QStringLiteral("actionOpenChart"))->trigger();
        d.window->findChild<QAction *>(QStringLiteral("actionOpenRun"))->trigger();
        d.window->findChild<QAction *>(QStringLiteral("actionOpenLine"))->trigger();
        d.widget<QPushButton>("pushButtonLogParam")->click();
        int windows = 0;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top != d.window.get() && top->isVisible() && top->isWindow() && !top->inherits("QTipLabel")) {
                walk(top);
                ++windows;
            }
        }
        QCOMPARE(windows, 4);

        // The boxes: a read that fails, About, and the question at closing.
        QStringList boxes;
        QString cancelText;
        auto walkBox = [&](QMessageBox *box) {
            boxes << box->windowTitle() + QLatin1Char('|') + box->text();
            walk(box);
            if (QAbstractButton *cancel = box->button(QMessageBox::Cancel)) {
                cancelText = cancel->text();
                cancel->click();
            } else {
                box->done(QMessageBox::Ok);
            }
        };
        d.supply->setOptions(Silent());
        d.widget<QPushButton>("pushButtonReadUserParam")->click();
        QTRY_VERIFY(!VisibleNotices(d.window.get()).isEmpty());
        walkBox(VisibleNotices(d.window.get()).constFirst());
        d.supply->setOptions({});
        WhenModal<QMessageBox>(walkBox);
        d.action(russian ? QStringLiteral("О программе") : QStringLiteral("About"))->trigger();
        d.widget<QPushButton>("pushButtonLogStart")->click();
        QTRY_VERIFY(!d.widget<QTextEdit>("textEditLog")->toPlainText().isEmpty());
        WhenModal<QMessageBox>(walkBox);
        QVERIFY(!d.window->close());
        QCOMPARE(boxes.size(), 3);
        QCOMPARE(cancelText, russian ? QStringLiteral("Отмена") : QStringLiteral("Cancel"));
        clipped.removeDuplicates();
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
        if (!russian) {
            QCOMPARE(boxes.first(), QStringLiteral("Error|Read error\n%1, address 0: no answer within 200 ms")
                                        .arg(d.supply->portPath()));
            for (const QString &box : boxes)
                russianLeft << (HasCyrillic(box) ? box : QString());
            russianLeft.removeAll(QString());
            russianLeft.removeDuplicates();
            QVERIFY2(russianLeft.isEmpty(), qPrintable(russianLeft.join('\n')));
        }
    }

    // The translation file holds every text of the sources, each finished:
    // after the update script, nothing is added, dropped or left unfinished.
    void translationFileIsCompleteAndCurrent()
    {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("velkaro_en.ts"));
        QVERIFY(QFile::copy(TS_FILE, copy));
        QProcess update;
        update.start(QStringLiteral("sh"), {UPDATE_SCRIPT, copy});
        QVERIFY(update.waitForFinished(60000));
        QVERIFY2(update.exitCode() == 0, update.readAllStandardError().constData());

        QStringList kept, current, unfinished;
        ReadTs(TS_FILE, &kept, &unfinished);
        ReadTs(copy, &current, &unfinished);
        QVERIFY(kept.size() > 50);
        QVERIFY2(unfinished.isEmpty(),
                 qPrintable(QStringLiteral("run tools/update-translations.sh and translate:\n")
                            + unfinished.join('\n')));
        QCOMPARE(current, kept);
    }
};

PANEL_TEST_MAIN(LanguageTest)
#include "tst_language.moc"
