// The virtual-supply program refusing to start: one status for every usage
// error, another with the system's reason when its link cannot be made.

#include "testmain.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray error;
    QByteArray output;
};

Outcome Run(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VIRTUAL_SUPPLY_EXE), arguments);
    Outcome outcome;
    if (!process.waitForFinished(5000))
        return outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.error = process.readAllStandardError();
    outcome.output = process.readAllStandardOutput();
    return outcome;
}

}  // namespace

class TestSupplyProgramErrors : public QObject
{
    Q_OBJECT

private slots:
    void usageErrorsShareOneStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("stray argument") << QStringList{"--pace", "extra"} << QByteArray("\"extra\"");
        QTest::newRow("unknown option") << QStringList{"--fast"} << QByteArray("fast");
        QTest::newRow("missing value") << QStringList{"--address"} << QByteArray("address");
        QTest::newRow("bad probability") << QStringList{"--drop", "1.5"} << QByteArray("--drop");
    }

    void usageErrorsShareOneStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, named);
        const Outcome outcome = Run(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.output.isEmpty());
        QVERIFY2(outcome.error.startsWith("virtual-supply: "), outcome.error.constData());
        QVERIFY2(outcome.error.contains(named), outcome.error.constData());
        QCOMPARE(outcome.error.count('\n'), 1);
    }

    void linkThatCannotBeMadeSaysWhy()
    {
        QTemporaryDir dir;
        const Outcome missing = Run({"--link", dir.filePath("no/such/folder/psu")});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.error.contains("No such file or directory"), missing.error.constData());

        QFile regular(dir.filePath("taken"));
        QVERIFY(regular.open(QIODevice::WriteOnly));
        regular.close();
        const Outcome taken = Run({"--link", regular.fileName()});
        QCOMPARE(taken.exitCode, 1);
        QVERIFY2(taken.error.contains("not a symbolic link"), taken.error.constData());
        QVERIFY(QFileInfo(regular.fileName()).isFile());
    }
};

PANEL_TEST_MAIN(TestSupplyProgramErrors)
#include "tst_supplyprogramerrors.moc"
