// Several windows, each on its own supply that drops, corrupts, splits,
// delays and prefixes noise to its replies, worked by an operator for the
// length of well over a thousand transactions. Six windows side by side give
// the transactions of a long session in a fraction of its time, through the
// window's own tick.

#include "boxwatcher.h"
#include "mainwindow.h"
#include "operatorscript.h"
#include "replyledger.h"
#include "soakrig.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QDoubleSpinBox>
#include <QFile>
#include <QRegularExpression>
#include <QTextEdit>

#include <memory>
#include <vector>

namespace {

constexpr int Windows = 6;
constexpr int TransactionsWanted = 1600;
constexpr qint64 RunLimitMs = 100000;
constexpr double RssSlackKb = 10 * 1024;
// AddressSanitizer keeps freed blocks resident in its quarantine, so resident
// memory grows there without a leak; LeakSanitizer judges that build instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool ResidentMemoryIsMeaningful = false;
#else
constexpr bool ResidentMemoryIsMeaningful = true;
#endif

// Resident memory of this process in kB, or -1.
qint64 residentKb()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(file.readAll());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)\\s+kB")).match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

}  // namespace

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void foreignValuesAreCaught();
    void faultySuppliesNeverShowForeignValues();
};

// The watch itself: a value no reply gave, on a page or in the log, is seen.
void SoakTest::foreignValuesAreCaught()
{
    BoxWatcher boxes;
    VirtualSupply::Options options;
    options.traceable = true;
    SoakRig rig(options, false, &boxes);
    QString error;
    QVERIFY2(rig.open(&error), qPrintable(error));
    rig.connectWindow();
    QTRY_VERIFY(rig.ledger()->measurements.size() >= 1 && rig.ledger()->status.size() >= 1);
    QTest::qWait(100);
    QCOMPARE(rig.foreignShown, 0);

    rig.window()->findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxTemp"))->setValue(12.3);
    QTRY_VERIFY(rig.foreignShown > 0);
    QVERIFY(rig.foreignExamples.first().startsWith(QStringLiteral("measurements")));

    QVERIFY(rig.foreignLogLines().isEmpty());
    rig.window()->findChild<QTextEdit *>(QStringLiteral("textEditLog"))
        ->append(QStringLiteral("12:00:00 1,234 0,5678"));
    QCOMPARE(rig.foreignLogLines(), QStringList{QStringLiteral("1.234 0.5678")});
}

void SoakTest::faultySuppliesNeverShowForeignValues()
{
    BoxWatcher boxes;
    std::vector<std::unique_ptr<SoakRig>> rigs;
    for (int i = 0; i < Windows; ++i) {
        VirtualSupply::Options options;
        options.traceable = true;
        options.seed = quint32(1001 + i);
        options.drop = 0.08;
        options.corrupt = 0.08;
        options.split = 0.3;
        options.noise = 0.2;
        options.late = 0.08;
        rigs.push_back(std::make_unique<SoakRig>(options, i % 2 == 1, &boxes));
        QString error;
        QVERIFY2(rigs.back()->open(&error), qPrintable(error));
    }
    for (auto &rig : rigs)
        rig->connectWindow();
    for (auto &rig : rigs)
        QTRY_VERIFY(rig->connected());

    auto transactions = [&rigs] {
        int n = 0;
        for (auto &rig : rigs)
            n += rig->supply()->receivedLines().size();
        return n;
    };

    // Warm up: every page, log and box has been built and drawn once.
    QTRY_VERIFY_WITH_TIMEOUT(transactions() >= 4 * Windows, 10000);
    QTest::qWait(2000);
    const qint64 rssBefore = residentKb();

    for (auto &rig : rigs)
        rig->startOperator();
    QElapsedTimer run;
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(transactions() >= TransactionsWanted, int(RunLimitMs));
    for (auto &rig : rigs)
        rig->stopOperator();
    // Lets the last requests end and be judged.
    QTest::qWait(2500);
    const qint64 rssAfter = residentKb();

    int acknowledged = 0, failed = 0, toggles = 0, samples = 0, logLines = 0;
    for (auto &rig : rigs) {
        const OperatorScript &script = *rig->script();
        acknowledged += script.acknowledged;
        failed += script.failed;
        toggles += script.logToggles;
        samples += rig->samples;
        QVERIFY2(script.violations.isEmpty(), qPrintable(script.violations.join(QLatin1Char('\n'))));
        QVERIFY2(rig->foreignShown == 0, qPrintable(rig->foreignExamples.join(QLatin1Char('\n'))));
        const QStringList foreignLog = rig->foreignLogLines();
        QVERIFY2(foreignLog.isEmpty(), qPrintable(foreignLog.join(QLatin1Char('\n'))));
        QCOMPARE(rig->ledger()->untraceable, 0);
        QVERIFY(rig->connected());
        logLines += rig->window()->findChild<QTextEdit *>(QStringLiteral("textEditLog"))
                        ->toPlainText().count(QLatin1Char('\n'));
    }
    const QSet<QString> failureTexts{QStringLiteral("Ошибка записи"), QStringLiteral("Ошибка чтения")};
    for (const BoxWatcher::Box &box : boxes.seen)
        QVERIFY2(failureTexts.contains(box.text), qPrintable(box.text));

    qInfo("%d transactions in %.1f s over %d windows; %d requests acknowledged, %d failed "
          "with their box; %d log starts and stops, %d log lines; %d looks at the pages; "
          "resident memory %lld kB after warm-up, %lld kB at the end",
          transactions(), run.elapsed() / 1000.0, Windows, acknowledged, failed, toggles,
          logLines, samples, rssBefore, rssAfter);

    QVERIFY(transactions() >= 1500);
    // The faults were felt and every kind of outcome occurred.
    QVERIFY(acknowledged > 0);
    QVERIFY(failed > 0);
    QVERIFY(logLines > 0);
    QVERIFY(rssBefore > 0 && rssAfter > 0);
    if (ResidentMemoryIsMeaningful)
        QVERIFY2(rssAfter - rssBefore < RssSlackKb, "resident memory grew by 10 MB or more");
}

PANEL_TEST_MAIN(SoakTest)
#include "tst_soak.moc"
