#include "exportfolder.h"
#include "logexport.h"
#include "filesizecap.h"
#include "filetext.h"
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
QByteArray lines(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "12:34:56 5.000 0.2500\n";
    return bytes;
}
}

class TestLogExport : public QObject
{
    Q_OBJECT

private slots:
    void emptyTextGivesEmptyFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("empty.txt");
        QVERIFY(SaveLogFile(path, QByteArray()));
        QVERIFY(QFile::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("lineCount");
        // More than the write buffer goes straight to the file, so the write
        // call itself fails or comes back short; a small text stays in the
        // buffer and fails only when flushed.
        QTest::newRow("first write") << 0 << 3000;
        QTest::newRow("middle of the write") << 20000 << 3000;
        QTest::newRow("final flush") << 100 << 40;
    }

    void failedSaveKeepsTheOldFile()
    {
        QFETCH(int, cap);
        QFETCH(int, lineCount);
        if (!FileSizeCap::Available)
            QSKIP("no file size cap on this platform");
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        const QByteArray old = "old 1.000 0.5000\r\nkept\n";
        QVERIFY(SaveLogFile(path, old));
        {
            FileSizeCap limit(cap);
            QVERIFY(!SaveLogFile(path, lines(lineCount)));
        }
        QCOMPARE(ReadFile(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"log.txt"});
    }

    void unopenableTargetFails()
    {
        QTemporaryDir dir;
        QVERIFY(!SaveLogFile(dir.filePath("missing/log.txt"), "x\n"));
        QVERIFY(!SaveLogFile(dir.path(), "x\n"));  // a directory
        QVERIFY(QFileInfo(dir.path()).isDir());
    }

    void startFolderIsTheNearestThatExists()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("logs/2026"));
        const QString logs = dir.path() + "/logs";
        QCOMPARE(ExportStartFolder(logs + "/2026"), logs + "/2026");
        QCOMPARE(ExportStartFolder(logs + "/gone/deeper"), logs);
        QCOMPARE(ExportStartFolder(QString()), QDir::currentPath());
        QCOMPARE(ExportStartFolder("nowhere/at/all"), QDir::homePath());
    }
};

PANEL_TEST_MAIN(TestLogExport)
#include "tst_logexport.moc"
