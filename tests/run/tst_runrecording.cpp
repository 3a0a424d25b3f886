#include "filesizecap.h"
#include "filetext.h"
#include "runfrontend.h"
#include "testmain.h"

namespace {

RecordingHeader Header()
{
    RecordingHeader h;
    h.software = QStringLiteral("velkaroctl 1.1");
    h.port = QStringLiteral("/dev/ttyUSB0");
    h.address = 7;
    h.start = QDateTime(QDate(2026, 12, 7), QTime(7, 30, 5, 20), Qt::OffsetFromUTC, 3 * 3600);
    h.programFile = QStringLiteral("/home/u/заряд.csv");
    h.limits << QStringLiteral("current>2") << QStringLiteral("voltage>13");
    return h;
}

}  // namespace

class TestRunRecording : public QObject
{
    Q_OBJECT

private slots:
    void writesTheBlockHeaderAndRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        RunRecording r;
        QVERIFY(r.open(path, RunRecording::Mode::New, Header(), 0));
        RecordingRow row;
        row.time = QDateTime(QDate(2026, 12, 7), QTime(4, 30, 6, 270), Qt::UTC);
        row.elapsedMs = 1250;
        StatusRecord s;
        s.Voltage = 1234;
        s.Current = 1500;
        s.CvFlag = 1;
        s.OutputOn = 1;
        row.status = s;
        SetpointRecord sp;
        sp.VoltageSet = 12340;
        sp.CurrentSet = 2000;
        row.setpoints = sp;
        row.ampereHours = 0.0123456;
        row.wattHours = 0.15;
        row.step = 2;
        QVERIFY(r.write(row, 1250, false));
        row.status.reset();
        row.setpoints.reset();
        row.step = 0;
        row.event = QStringLiteral("limit, odd \"one\"");
        QVERIFY(r.write(row, 1300, true));
        r.close();
        QCOMPARE(ReadFile(path),
                 QByteArray("# velkaroctl 1.1\n"
                            "# port: /dev/ttyUSB0\n"
                            "# address: 7\n"
                            "# start: 2026-12-07T07:30:05.020+03:00\n"
                            "# program file: /home/u/\xD0\xB7\xD0\xB0\xD1\x80\xD1\x8F\xD0\xB4.csv\n"
                            "# limits: current>2; voltage>13\n"
                            "time,elapsed_s,voltage_V,current_A,power_W,mode,output,voltage_set_V,"
                            "current_set_A,charge_Ah,energy_Wh,step,event\n"
                            "2026-12-07T04:30:06.270Z,1.250,12.34,1.500,18.5100,CV,on,12.340,2.000,"
                            "0.012346,0.150000,2,\n"
                            "2026-12-07T04:30:06.270Z,1.250,,,,,,,,0.012346,0.150000,,\"limit, odd \"\"one\"\"\"\n"));
    }

    void syncsAtLeastEveryTwoSeconds()
    {
        QTemporaryDir dir;
        RunRecording r;
        QVERIFY(r.open(dir.filePath("r.csv"), RunRecording::Mode::New, Header(), 1000));
        QVERIFY(!r.syncDueMs());  // the block went to disk at once
        RecordingRow row;
        QVERIFY(r.write(row, 1500, false));
        QCOMPARE(*r.syncDueMs(), 3000);
        QVERIFY(r.syncIfDue(2999));
        QVERIFY(r.syncDueMs());
        QVERIFY(r.syncIfDue(3000));
        QVERIFY(!r.syncDueMs());
        QVERIFY(r.write(row, 3100, true));  // an event is synced at once
        QVERIFY(!r.syncDueMs());
    }

    void appendsOnlyToTheSameHeader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        RunRecording first;
        QVERIFY(first.open(path, RunRecording::Mode::New, Header(), 0));
        QVERIFY(first.write(RecordingRow(), 0, false));
        first.close();
        const QByteArray before = ReadFile(path);

        RunRecording second;
        QVERIFY(second.open(path, RunRecording::Mode::Append, Header(), 0));
        second.close();
        const QByteArray after = ReadFile(path);
        QVERIFY(after.startsWith(before));
        QCOMPARE(after.count("time,elapsed_s"), 1);
        QCOMPARE(after.count("# port:"), 2);

        // A row cut short by a crash is ended before the new block.
        WriteFile(path, before + "2026-12-07T04:30:06.270Z,1.2");
        RunRecording third;
        QVERIFY(third.open(path, RunRecording::Mode::Append, Header(), 0));
        third.close();
        QVERIFY(ReadFile(path).contains("06.270Z,1.2\n# velkaroctl"));

        // An empty file gets the header row; a new recording starts afresh.
        WriteFile(path, QByteArray());
        RunRecording fourth;
        QVERIFY(fourth.open(path, RunRecording::Mode::Append, Header(), 0));
        fourth.close();
        QCOMPARE(ReadFile(path).count("time,elapsed_s"), 1);

        const QByteArray foreign = "# other\ntime,voltage\n1,2\n";
        for (const QByteArray &text : {foreign, QByteArray("# comments only\n")}) {
            WriteFile(path, text);
            RunRecording refused;
            QVERIFY(!refused.open(path, RunRecording::Mode::Append, Header(), 0));
            QVERIFY(refused.errorString().contains(QStringLiteral("header row")));
            QCOMPARE(ReadFile(path), text);
        }
    }

    void anUnwritableFileRefusesTheStart()
    {
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration\n5,1,10\n");
#ifdef Q_OS_WIN
        // A folder stands in for a file that cannot be written.
        s.recordPath = f.dir.path();
#else
        s.recordPath = QStringLiteral("/dev/full");
#endif
        QVERIFY(!f.start(s));
        QVERIFY(!f.engine.isActive());
        QVERIFY(f.writes.isEmpty());  // nothing was sent
        QVERIFY(!f.engine.errorString().isEmpty());
    }

    void aFullDiskStopsTheRunWithWholeRows()
    {
        if (!FileSizeCap::Available)
            QSKIP("no file size cap on this platform");
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration\n5,1,1:00:00\n");
        s.keepOutput = true;  // a failing recording switches off all the same
        s.recordIntervalMs = 0;
        QVERIFY(f.start(s));
        const qint64 size = QFileInfo(f.recordPath()).size();
        {
            // Room for about three and a half rows more.
            FileSizeCap cap(size + 3 * 72 + 30);
            for (int i = 1; f.engine.isActive() && !f.engine.isEnding() && i < 100; ++i)
                f.reading(i * 1000, 5.0, 1.0 + i / 1000.0);
        }
        QVERIFY(f.engine.isFinished());
        QCOMPARE(f.engine.outcome(), RunOutcome::RecordingFailed);
        QVERIFY2(f.engine.reason().startsWith(QStringLiteral("recording failed: ")), qPrintable(f.engine.reason()));
        QCOMPARE(f.writes.last().request.kind, SupplyRequest::Kind::Output);
        QCOMPARE(f.writes.last().request.outputOn, false);
        const QByteArray text = ReadFile(f.recordPath());
        QVERIFY(text.endsWith('\n'));
        const QList<QByteArray> rows = f.rows();
        QVERIFY(rows.size() >= 4);
        for (const QByteArray &row : rows)
            QCOMPARE(row.count(','), 12);
    }
};

PANEL_TEST_MAIN(TestRunRecording)
#include "tst_runrecording.moc"
