// The log as the operator meets it: the main window polling a virtual supply,
// the log buttons, the options dialog and the save dialog.

#include "dialogsettingslog.h"
#include "filesizecap.h"
#include "filetext.h"
#include "testmain.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>

#include <functional>

namespace {

QStringList paneLines(QTextEdit *pane)
{
    return pane->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Names the file as the operator types it: selectFile() leaves the name field
// alone while it has the focus, which it may or may not have yet.
void chooseFile(QFileDialog *dialog, const QString &path)
{
    auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (nameField)
        nameField->setText(path);
    else
        dialog->selectFile(path);
    // Should the dialog stay open, end it rather than hang the test.
    QTimer::singleShot(5000, dialog, [dialog] { dialog->reject(); });
    static_cast<QDialog *>(dialog)->accept();  // protected in QFileDialog
}

void confirmReplace()
{
    WhenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
}

}

class TestLogWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowDriver> d;
    QTextEdit *pane = nullptr;
    DialogSettingsLog *options = nullptr;

    template <typename T>
    T *widget(const char *name) const { return d->widget<T>(name); }
    template <typename T>
    T *option(const char *name) const { return options->findChild<T *>(QLatin1String(name)); }

    // Waits until the window has run at least ticks more device requests.
    bool waitTicks(int ticks)
    {
        const int target = d->supply->receivedLines().size() + ticks;
        return QTest::qWaitFor([&] { return d->supply->receivedLines().size() >= target; },
                               300 * ticks + 2000);
    }

    bool connectWindow()
    {
        d->connectToSupply();
        return d->disconnectAction()->isEnabled();
    }

private slots:
    void init()
    {
        SettingsStore().clear();
        d = std::make_unique<WindowDriver>();
        QVERIFY(d->supplyOpen);
        // 10 ohms at 5 V: 500 mA, reported in the fine current range.
        d->supply->model().setSetpoints(5000, 1000);
        d->supply->model().setOutputOn(true);
        d->supply->model().setLoadOhms(10.0);
        d->supply->model().setNoiseEnabled(false);
        pane = widget<QTextEdit>("textEditLog");
        options = d->window->findChild<DialogSettingsLog *>();
        QVERIFY(options);
    }

    void cleanup() { d.reset(); }

    void recordsOnlyWhileStarted()
    {
        auto *start = widget<QPushButton>("pushButtonLogStart");
        auto *stop = widget<QPushButton>("pushButtoLogStop");
        QCOMPARE(std::make_pair(start->isEnabled(), stop->isEnabled()), std::make_pair(true, false));
        QVERIFY(pane->isReadOnly());
        QVERIFY(connectWindow());
        QVERIFY(waitTicks(6));
        QVERIFY(pane->toPlainText().isEmpty());

        start->click();
        QCOMPARE(std::make_pair(start->isEnabled(), stop->isEnabled()), std::make_pair(false, true));
        QTRY_COMPARE_WITH_TIMEOUT(paneLines(pane).size(), 2, 4000);
        QCOMPARE(paneLines(pane), (QStringList{"5.000 0.5000", "5.000 0.5000"}));
        QVERIFY(pane->toPlainText().endsWith(QLatin1Char('\n')));

        stop->click();
        QCOMPARE(std::make_pair(start->isEnabled(), stop->isEnabled()), std::make_pair(true, false));
        const QString stopped = pane->toPlainText();
        QVERIFY(waitTicks(8));
        QCOMPARE(pane->toPlainText(), stopped);

        // Starting again keeps the old lines and adds to them.
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(paneLines(pane).size(), 3, 3000);
        widget<QPushButton>("pushButtonLogClear")->click();
        QVERIFY(pane->toPlainText().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!pane->toPlainText().isEmpty(), 3000);  // still recording

        // Failed reads write nothing; a line may still come from a reading
        // taken before the silence.
        d->supply->setOptions(Silent(d->supply->options()));
        QVERIFY(waitTicks(2));
        const QString before = pane->toPlainText();
        // The silent line gets four requests, then one a second.
        QVERIFY(waitTicks(4));
        QCOMPARE(pane->toPlainText(), before);
    }

    void optionsActWhileTheDialogIsOpen()
    {
        widget<QPushButton>("pushButtonLogParam")->click();
        QVERIFY(options->isVisible());
        option<QTimeEdit>("timeEdit")->setTime(QTime(0, 0, 2));
        option<QRadioButton>("radioButtonComme")->click();
        option<QCheckBox>("checkBoxAddTime")->setChecked(true);
        option<QComboBox>("comboBoxLogValue")->setCurrentIndex(1);
        option<QComboBox>("comboBoxTimeForm")->setCurrentIndex(1);
        QVERIFY(connectWindow());
        QVERIFY(waitTicks(4));  // a reading of each kind has been taken
        widget<QPushButton>("pushButtonLogStart")->click();
        // Running minutes and seconds, then the converter readings with commas.
        QTRY_COMPARE_WITH_TIMEOUT(paneLines(pane).size(), 1, 2000);
        QCOMPARE(paneLines(pane).at(0), QStringLiteral("00:00 5,000 0,5000"));

        // Whole seconds since the start, a period later (a tick late at most).
        option<QComboBox>("comboBoxTimeForm")->setCurrentIndex(2);
        QTRY_COMPARE_WITH_TIMEOUT(paneLines(pane).size(), 2, 4000);
        QVERIFY2(QRegularExpression("^[23] 5,000 0,5000$").match(paneLines(pane).at(1)).hasMatch(),
                 qPrintable(paneLines(pane).at(1)));

        // Running hours, minutes and seconds, with points.
        option<QComboBox>("comboBoxTimeForm")->setCurrentIndex(0);
        option<QRadioButton>("radioButtonDot")->click();
        QTRY_COMPARE_WITH_TIMEOUT(paneLines(pane).size(), 3, 4000);
        QVERIFY2(QRegularExpression("^00:00:0[456] 5\\.000 0\\.5000$").match(paneLines(pane).at(2)).hasMatch(),
                 qPrintable(paneLines(pane).at(2)));

        // The clock time of the tick.
        option<QComboBox>("comboBoxTimeForm")->setCurrentIndex(3);
        QTRY_COMPARE_WITH_TIMEOUT(paneLines(pane).size(), 4, 4000);
        const QString line = paneLines(pane).at(3);
        const QTime stamp = QTime::fromString(line.left(8), QStringLiteral("hh:mm:ss"));
        QVERIFY2(stamp.isValid() && qAbs(stamp.secsTo(QTime::currentTime())) <= 1, qPrintable(line));
        QCOMPARE(line.mid(8), QStringLiteral(" 5.000 0.5000"));

        QVERIFY(options->isVisible());
        for (const char *key : {"commeDotLog", "LogPeriod", "LogValue", "TimeForm", "AddTime"})
            QVERIFY2(!SettingsStore().contains(key), key);  // stored only when closed
    }

    void saveWritesThePaneRemembersTheFolderAndWarnsOnFailure()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.txt");
        pane->setPlainText("5.000 0.5000\n00:00:01 5,000 0,5000\n");
        // A cancelled dialog stores nothing.
        WhenModal<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
        widget<QPushButton>("pushButtonLogSave")->click();
        QVERIFY(!SettingsStore().contains("dirLogFile"));

        QString firstDir;
        WhenModal<QFileDialog>([&](QFileDialog *dialog) {
            firstDir = dialog->directory().absolutePath();
            chooseFile(dialog, path);
        });
        widget<QPushButton>("pushButtonLogSave")->click();
        QCOMPARE(firstDir, QDir(QDir::currentPath()).absolutePath());
        QCOMPARE(ReadFile(path), QByteArray("5.000 0.5000\n00:00:01 5,000 0,5000\n"));
        QCOMPARE(SettingsStore().value("dirLogFile").toString(), dir.path());

        pane->setPlainText("0.750 0.1200\n");
        QString secondDir;
        WhenModal<QFileDialog>([&](QFileDialog *dialog) {
            secondDir = dialog->directory().absolutePath();
            confirmReplace();
            chooseFile(dialog, path);
        });
        widget<QPushButton>("pushButtonLogSave")->click();
        QCOMPARE(secondDir, dir.path());
        QCOMPARE(ReadFile(path), QByteArray("0.750 0.1200\n"));

        // A save that cannot be written warns and keeps the file as it was.
        pane->setPlainText(QStringLiteral("5.000 0.5000\n").repeated(100));
        QString title, text;
        int buttons = 0;
        WhenModal<QFileDialog>([&](QFileDialog *dialog) {
            confirmReplace();
            chooseFile(dialog, path);
            WhenModal<QMessageBox>([&](QMessageBox *box) {
                title = box->windowTitle();
                text = box->text();
                buttons = int(box->standardButtons());
                box->button(QMessageBox::Ok)->click();
            });
        });
        {
            // Room for the settings store, not for the log.
            FileSizeCap cap(512);
            widget<QPushButton>("pushButtonLogSave")->click();
        }
        QCOMPARE(std::make_tuple(title, text, buttons),
                 std::make_tuple(QStringLiteral("Ошибка"), QStringLiteral("Не удается сохранить файл"), int(QMessageBox::Ok)));
        QCOMPARE(ReadFile(path), QByteArray("0.750 0.1200\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"run.txt"});
        QCOMPARE(SettingsStore().value("dirLogFile").toString(), dir.path());
    }
};

PANEL_TEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
