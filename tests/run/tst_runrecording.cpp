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
        row.setpoints = SetpointRecord{12340, 2000};
        row.ampereHours = 0.0123456;
        row.wattHours = 0.15;
        row.step = 2;
        row.pass = 3;
        row.celsius = 31.25;
        QVERIFY(r.write(row, 1250, false));
        row.status.reset();
        row.setpoints.reset();
        row.step = 0;
        row.pass = 0;
        row.celsius.reset();
        row.event = QStringLiteral("limit, odd \"one\"");
        QVERIFY(r.write(row, 1300, true));
        QVERIFY(r.writeComment(QStringLiteral("summary: two\nlines"), 1400));
        r.close();
        QCOMPARE(ReadFile(path),
                 QByteArray("# velkaroctl 1.1\n"
                            "# pid: " + QByteArray::number(QCoreApplication::applicationPid()) + "\n"
                            "# port: /dev/ttyUSB0\n"
                            "# address: 7\n"
                            "# start: 2026-12-07T07:30:05.020+03:00\n"
                            "# program file: /home/u/\xD0\xB7\xD0\xB0\xD1\x80\xD1\x8F\xD0\xB4.csv\n"
                            "# limits: current>2; voltage>13\n"
                            "time,elapsed_s,voltage_V,current_A,power_W,mode,output,voltage_set_V,"
                            "current_set_A,charge_Ah,energy_Wh,step,event,temperature_C,pass\n"
                            "2026-12-07T04:30:06.270Z,1.250,12.34,1.500,18.5100,CV,on,12.340,2.000,"
                            "0.012346,0.150000,2,,31.3,3\n"
                            "2026-12-07T04:30:06.270Z,1.250,,,,,,,,0.012346,0.150000,,\"limit, odd \"\"one\"\"\",,\n"
                            "# summary: two lines\n"));
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

    // Appending to a recording of the same layout: tst_velkaroctlrun and
    // tst_runpage (one header row, a second block).
    void appendsOnlyToTheSameHeader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        // An empty file gets the header row.
        WriteFile(path, QByteArray());
        RunRecording fourth;
        QVERIFY(fourth.open(path, RunRecording::Mode::Append, Header(), 0));
        fourth.close();
        QCOMPARE(ReadFile(path).count("time,elapsed_s"), 1);

        const QByteArray foreign = "# other\ntime,voltage\n1,2\n";
        const QByteArray older = "# velkaroctl 1.0\ntime,elapsed_s,voltage_V,current_A,power_W,mode,output,"
                                 "voltage_set_V,current_set_A,charge_Ah,energy_Wh,step,event\n1,2";
        const QList<QPair<QByteArray, QString>> refusals = {
            {foreign, QStringLiteral("its header row differs")},
            {QByteArray("# comments only\n"), QStringLiteral("has no header row")},
            {QByteArray("# a header row cut short\ntime,elapsed_s,vol"), QStringLiteral("has no header row")},
            {older, QStringLiteral("older layout, without temperature_C and pass after event")},
        };
        for (const auto &refusal : refusals) {
            WriteFile(path, refusal.first);
            RunRecording refused;
            QVERIFY(!refused.open(path, RunRecording::Mode::Append, Header(), 0));
            QVERIFY2(refused.errorString().contains(refusal.second), qPrintable(refused.errorString()));
            QCOMPARE(ReadFile(path), refusal.first);
        }
    }

    // A crash may cut the last row at any byte: appending keeps its text as a
    // comment and never lets it read as a row of values.
    void aCutRowBecomesACommentAtEveryByte()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        RunRecording first;
        QVERIFY(first.open(path, RunRecording::Mode::New, Header(), 0));
        RecordingRow row;
        row.time = QDateTime(QDate(2026, 12, 7), QTime(4, 30, 6, 270), Qt::UTC);
        row.elapsedMs = 1250;
        row.ampereHours = 0.000396;
        row.step = 1;
        row.pass = 1;
        row.event = QStringLiteral("step 1");
        QVERIFY(first.write(row, 0, false));
        first.close();
        const QByteArray whole = ReadFile(path);
        const QByteArray last = RunRecording::FormatRow(row);
        const QByteArray before = whole.left(whole.size() - last.size());

        for (int cut = 0; cut <= last.size(); ++cut) {
            const QByteArray part = last.left(cut);
            WriteFile(path, before + part);
            RunRecording again;
            QVERIFY(again.open(path, RunRecording::Mode::Append, Header(), 0));
            row.event = QStringLiteral("start");
            QVERIFY(again.write(row, 0, true));
            again.close();
            const QByteArray text = ReadFile(path);
            QVERIFY(text.startsWith(before));
            const bool cutShort = cut > 0 && cut < last.size();
            if (cutShort)
                QVERIFY2(text.contains("\n" + RunRecording::CutRowMark + part + "\n# velkaroctl 1.1\n"), text.constData());
            else
                QVERIFY(!text.contains(RunRecording::CutRowMark));
            // Every row whole: the one row before (when it was whole) and the new one.
            const QList<QByteArray> rows = RecordingRows(path);
            QCOMPARE(rows.size(), cut == last.size() ? 2 : 1);
            for (const QByteArray &r : rows)
                QCOMPARE(RecordingFields(r).size(), int(RecordingColumns));
            QCOMPARE(rows.last() + "\n", RunRecording::FormatRow(row));
            row.event = QStringLiteral("step 1");
        }
    }

    // A recording in use is neither replaced nor added to (appending to it:
    // tst_velkaroctlrun and tst_runpage, two programs).
    void aRecordingInUseIsNotReplaced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        RunRecording first;
        QVERIFY(first.open(path, RunRecording::Mode::New, Header(), 0));
        const QByteArray held = ReadFile(path);
        RunRecording second;
        QVERIFY(!second.open(path, RunRecording::Mode::New, Header(), 0));
        QVERIFY2(second.errorString().contains(QStringLiteral("is in use by velkaroctl (pid")),
                 qPrintable(second.errorString()));
        QCOMPARE(ReadFile(path), held);
    }

    void anAbandonedOpeningLeavesTheFileAsItWas()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        RunRecording fresh;
        QVERIFY(fresh.open(path, RunRecording::Mode::New, Header(), 0));
        fresh.abandon();
        QVERIFY(!QFile::exists(path));

        QVERIFY(fresh.open(path, RunRecording::Mode::New, Header(), 0));
        fresh.close();
        const QByteArray before = ReadFile(path);
        WriteFile(path, before + "2026-12-07T04:3");
        RunRecording appended;
        QVERIFY(appended.open(path, RunRecording::Mode::Append, Header(), 0));
        appended.abandon();
        // The repair stays: the cut row is never let back as a row.
        QCOMPARE(ReadFile(path), before + RunRecording::CutRowMark + "2026-12-07T04:3\n");
    }

    void anUnwritableFileRefusesTheStart()
    {
        FrontEnd f;
        RunSetup s = f.setup("voltage,current,duration\n5,1,10\n");
#ifdef Q_OS_WIN
        // A folder stands in for a file that cannot be written; the system's
        // words for it differ between Windows and Wine.
        s.recordPath = f.dir.path();
        const QString told = s.recordPath + QStringLiteral(": ");
#else
        s.recordPath = QStringLiteral("/dev/full");
        const QString told = QStringLiteral("/dev/full: No space left on device");
#endif
        QVERIFY(!f.start(s));
        QVERIFY(!f.engine.isActive());
        QVERIFY(f.writes.isEmpty());  // nothing was sent
        const QString error = f.engine.errorString();
        QVERIFY2(error.contains(told) && !error.endsWith(QStringLiteral(": ")), qPrintable(error));
    }

};

PANEL_TEST_MAIN(TestRunRecording)
#include "tst_runrecording.moc"
