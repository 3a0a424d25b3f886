#include "exportfolder.h"
#include "testmain.h"

#include <QDir>
#include <QTemporaryDir>

class TestExportFolder : public QObject
{
    Q_OBJECT

private slots:
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

PANEL_TEST_MAIN(TestExportFolder)
#include "tst_exportfolder.moc"
