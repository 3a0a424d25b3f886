// velkaroctl run as a user runs it: the built program against the
// virtual-supply program on a real pseudo-terminal, judged by its exit status,
// its recording and what the supply holds afterwards.

#include "filesizecap.h"
#include "filetext.h"
#include "recordingrows.h"
#include "supplyprogram.h"
#include "testmain.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>

namespace {

QProcessEnvironment CtlEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("VELKARO_PORT"));
    return environment;
}

void StartCtl(QProcess &process, const QStringList &arguments)
{
    process.setProcessEnvironment(CtlEnvironment());
    process.start(QStringLiteral(VELKAROCTL_EXE), arguments);
}

// velkaroctl to its end: the exit status, or -1 when it did not end normally.
int Finish(QProcess &process, int timeoutMs = 20000)
{
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

// The recording's rows, split into fields.
QList<QByteArrayList> Rows(const QString &path)
{
    QList<QByteArrayList> rows;
    for (const QByteArray &row : RecordingRows(path))
        rows << row.split(',');
    return rows;
}

// "on" or "off" from velkaroctl status, or empty.
QByteArray OutputOf(const QString &port)
{
    QProcess status;
    StartCtl(status, {"--port", port, "status"});
    if (Finish(status) != 0)
        return {};
    const QRegularExpressionMatch m =
        QRegularExpression("output\\s+(\\w+)").match(QString::fromUtf8(status.readAllStandardOutput()));
    return m.captured(1).toUtf8();
}

enum Field { Time, Elapsed, Volts, Amperes, Watts, Mode, Output, VoltsSet, AmperesSet, Charge, Energy, Step, Event };

}  // namespace

class TestVelkaroctlRun : public QObject
{
    Q_OBJECT

private slots:
    void runsAThreeStepProgramWithARamp()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--load", "10"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "# ramp up, hold, low\nVoltage,current,duration,ramp\n"
                                         "5,1,1,\n10,2,2,1\n2,0.5,1,\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "0.2"});
        QCOMPARE(Finish(run), 0);
        const QByteArray err = run.readAllStandardError();
        QVERIFY2(!err.contains('\r'), err);  // no progress line off a terminal
        QCOMPARE(err.count('\n'), 6);
        QVERIFY(err.contains(" 0.000 start\n") || err.contains(" start\n"));
        QVERIFY(err.endsWith(" output off\n"));
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "step 1", "step 2", "step 3", "end", "output off"}));

        const QByteArray text = ReadFile(record);
        QVERIFY(text.contains("# program file: " + dir.filePath("p.csv").toUtf8() + "\n# limits: none\n"));
        QVERIFY(QRegularExpression("\n# start: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d\n")
                    .match(QString::fromUtf8(text))
                    .hasMatch());
        // Readings on the 0.2 s grid; the set-points climb within step 2's
        // first second and then hold; step 3 starts at 3 s on the run's clock.
        int rampRows = 0;
        for (const QByteArrayList &row : Rows(record)) {
            QCOMPARE(row.size(), 13);
            const double elapsed = row[Elapsed].toDouble();
            if (!row[Event].isEmpty() || row[Volts].isEmpty())
                continue;
            QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                        .match(QString::fromLatin1(row[Time]))
                        .hasMatch());
            const double set = row[VoltsSet].toDouble();
            if (row[Step] == "2" && elapsed > 1.25 && elapsed < 1.95) {
                QVERIFY2(set > 5.0 && set < 10.0, row.join(','));
                ++rampRows;
            }
            if (row[Step] == "2" && elapsed > 2.3)
                QCOMPARE(row[VoltsSet] + "," + row[AmperesSet], QByteArray("10.000,2.000"));
        }
        QVERIFY(rampRows >= 2);
        const QList<QByteArrayList> rows = Rows(record);
        for (const QByteArrayList &row : rows)
            if (row[Event] == "step 3")
                QVERIFY2(qAbs(row[Elapsed].toDouble() - 3.0) < 0.15, row.join(','));
        // 10 ohms: 1 A at 10 V; the counters grew.
        QVERIFY(Rows(record).last()[Charge].toDouble() > 0.0005);
        QCOMPARE(OutputOf(port), QByteArray("off"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aTerminalGetsAProgressLine()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,1.5\n6,1,1\n");
        // script(1) gives velkaroctl a terminal and copies what it shows.
        QProcess run;
        run.setProcessEnvironment(CtlEnvironment());
        run.start(QStringLiteral("script"),
                  {"-qec",
                   QStringLiteral("%1 --port %2 run %3 --record %4 --interval 0.25")
                       .arg(QStringLiteral(VELKAROCTL_EXE), port, dir.filePath("p.csv"), dir.filePath("r.csv")),
                   "/dev/null"});
        QCOMPARE(Finish(run), 0);
        const QByteArray shown = run.readAllStandardOutput();
        QVERIFY2(shown.contains("\rstep 1/2, 00:00:02 left, elapsed 00:00:00, "), shown);
        QVERIFY2(shown.contains("\rstep 2/2, 00:00:01 left, elapsed 00:00:01, "), shown);
        QVERIFY2(shown.contains(" Wh\x1b[K"), shown);
        // An event clears the progress line and takes a line of its own.
        QVERIFY2(shown.contains("\r\x1b[K") && shown.contains(" step 2\r\n"), shown);
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aLimitSwitchesOffAndExitsWith4()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--load", "10"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n12,2,1:00\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--json", "--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval",
                       "0", "--limit", "voltage > 20", "--limit", "current>1", "--keep-output"});
        QCOMPARE(Finish(run), 4);
        QVERIFY(run.readAllStandardError().endsWith("velkaroctl: run: limit current>1; output off\n"));
        // A failure like any other under --json.
        QCOMPARE(run.readAllStandardOutput(),
                 QByteArray(R"({"error":"run: limit current>1; output off","exit":4})" "\n"));
        QVERIFY(ReadFile(record).contains("\n# limits: voltage>20; current>1\n"));
        QCOMPARE(Rows(record).last()[Event], QByteArray("output off"));
        const QByteArrayList last = Rows(record).at(Rows(record).size() - 2);
        QCOMPARE(last[Event], QByteArray("limit current>1"));
        QCOMPARE(last[Amperes], QByteArray("1.200"));
        QCOMPARE(OutputOf(port), QByteArray("off"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void countsBetweenRowsAtALongInterval()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--load", "10"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,2.5\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "7"});
        QCOMPARE(Finish(run), 0);
        // One reading row only, yet 0.5 A was counted between readings a
        // second apart: about 2 s of it, 0.000278 Ah.
        const QList<QByteArrayList> rows = Rows(record);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows.last()[Event], QByteArray("output off"));
        const double ah = rows.last()[Charge].toDouble();
        QVERIFY2(ah > 0.00025 && ah < 0.00035, rows.last().join(','));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aHangUpStopsWithTheOutputOff()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--pace"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,1:00\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "0.1"});
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).size() >= 5, 10000);
        // The ssh session that started it goes away.
        ::kill(pid_t(run.processId()), SIGHUP);
        QCOMPARE(Finish(run), 128 + SIGHUP);
        QVERIFY(run.readAllStandardError().endsWith("velkaroctl: run: stop; output off\n"));
        QCOMPARE(RecordingEvents(record).mid(2), (QStringList{"stop", "output off"}));
        QCOMPARE(OutputOf(port), QByteArray("off"));

        // Appending needs --append; then a second block and no second header.
        QProcess again;
        StartCtl(again, {"--port", port, "run", "--record", record});
        QCOMPARE(Finish(again), 2);
        QVERIFY(again.readAllStandardError().contains("add --append"));
        StartCtl(again, {"--port", port, "run", "--record", record, "--append", "--limit", "elapsed>0.5"});
        QCOMPARE(Finish(again), 4);
        QCOMPARE(RecordingEvents(record).mid(4), (QStringList{"start", "limit elapsed>0.5", "output off"}));
        QCOMPARE(ReadFile(record).count("\ntime,elapsed_s,"), 1);
        QCOMPARE(ReadFile(record).count("# start: "), 2);
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void killedItLeavesWholeRows()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", port, "run", "--record", record, "--interval", "0"});
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).size() >= 40, 10000);
        run.kill();
        QVERIFY(run.waitForFinished(5000));
        const QByteArray text = ReadFile(record);
        QVERIFY(text.endsWith('\n'));
        for (const QByteArrayList &row : Rows(record))
            QCOMPARE(row.size(), 13);
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aLostPortIsReopenedByItsPath()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("supply");
        QProcess first;
        QVERIFY(!StartSupplyProgram(first, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--link", link}).isEmpty());
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", link, "run", "--record", record, "--interval", "0.2", "--reconnect"});
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).size() >= 3, 10000);
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(RecordingEvents(record).contains("port lost"), 5000);
        // The adapter is plugged back in: a new terminal behind the same path.
        QProcess second;
        QVERIFY(!StartSupplyProgram(second, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--link", link}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(RecordingEvents(record).contains("gap"), 10000);
        const int rows = Rows(record).size();
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).size() >= rows + 2, 5000);
        ::kill(pid_t(run.processId()), SIGINT);
        QCOMPARE(Finish(run), 128 + SIGINT);
        QCOMPARE(RecordingEvents(record), (QStringList{"start", "port lost", "reconnected", "gap", "stop", "output off"}));

        // Without --reconnect the run aborts at the loss; the off is tried
        // for --off-retry seconds, and the adapter never comes back.
        QProcess once;
        StartCtl(once, {"--port", link, "run", "--record", dir.filePath("s.csv"), "--interval", "0.2", "--off-retry", "2"});
        QTRY_VERIFY_WITH_TIMEOUT(Rows(dir.filePath("s.csv")).size() >= 3, 10000);
        second.terminate();
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(Finish(once), 1);
        QVERIFY(once.readAllStandardError().endsWith("velkaroctl: run: abort port lost; output unknown\n"));
        QCOMPARE(RecordingEvents(dir.filePath("s.csv")),
                 (QStringList{"start", "port lost", "abort port lost", "output unknown"}));
    }

    void aRecordingThatCannotBeWrittenStopsTheRun()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,1:00\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        {
            // The disk fills after a dozen rows: velkaroctl inherits the cap.
            FileSizeCap cap(1500);
            StartCtl(run, {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "0",
                           "--keep-output"});
            QVERIFY(run.waitForStarted(5000));
        }
        QCOMPARE(Finish(run), 1);
        QVERIFY(run.readAllStandardError().contains("recording failed"));
        QVERIFY(ReadFile(record).endsWith('\n'));
        for (const QByteArrayList &row : Rows(record))
            QCOMPARE(row.size(), 13);
        QCOMPARE(OutputOf(port), QByteArray("off"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aSilentSupplyEndsWith1()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--silent"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        QProcess run;
        StartCtl(run, {"--port", port, "run", "--record", dir.filePath("r.csv")});
        QCOMPARE(Finish(run), 1);
        QVERIFY(run.readAllStandardError().contains("did not answer"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aStallWithinTheAllowedSilenceLetsTheRunGoOn()
    {
        // The supply stopped for 3.5 s across the step change: "no answer"
        // is recorded, the new step reaches the supply when it is back, and
        // the run ends as programmed.
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--pace", "--load", "10"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,3\n8,1,7\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "0.5"});
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).size() >= 4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).last()[Elapsed].toDouble() >= 1.5, 5000);
        ::kill(pid_t(supply.processId()), SIGSTOP);
        QTest::qWait(3500);
        ::kill(pid_t(supply.processId()), SIGCONT);
        QCOMPARE(Finish(run), 0);
        const QStringList events = RecordingEvents(record);
        QVERIFY2(events.contains("no answer") && events.contains("step 2"), qPrintable(events.join('|')));
        QCOMPARE(events.mid(events.size() - 2), (QStringList{"end", "output off"}));
        bool eightVolts = false;
        for (const QByteArrayList &row : Rows(record))
            eightVolts = eightVolts || (row[VoltsSet] == "8.000" && row[Volts] == "8.00");
        QVERIFY(eightVolts);
        QCOMPARE(OutputOf(port), QByteArray("off"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aLongerStallAbortsAndTheOffReachesTheSupplyAfterIt()
    {
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--pace", "--load", "10"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,3\n8,1,60\n");
        const QString record = dir.filePath("r.csv");
        QProcess run;
        StartCtl(run, {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "0.5",
                       "--max-silence", "4"});
        QTRY_VERIFY_WITH_TIMEOUT(Rows(record).size() >= 4, 10000);
        ::kill(pid_t(supply.processId()), SIGSTOP);
        // Past the silence allowed the run aborts; the off cannot reach the
        // stopped supply, so velkaroctl goes on trying.
        QTRY_VERIFY_WITH_TIMEOUT(RecordingEvents(record).contains("abort no answer"), 10000);
        QTest::qWait(1500);
        QCOMPARE(run.state(), QProcess::Running);
        ::kill(pid_t(supply.processId()), SIGCONT);
        QCOMPARE(Finish(run), 1);
        QVERIFY(run.readAllStandardError().endsWith("velkaroctl: run: abort no answer; output off\n"));
        const QStringList events = RecordingEvents(record);
        QVERIFY2(events.contains("no answer"), qPrintable(events.join("|")));
        QCOMPARE(events.mid(events.size() - 2).join("|"), QStringLiteral("abort no answer|output off"));
        QCOMPARE(OutputOf(port), QByteArray("off"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void aClosedStandardErrorDoesNotEndTheRun()
    {
        // The reader of the events goes away after the first line (| head -1):
        // the run still ends by its limit, off and recorded, with status 4.
        QProcess supply;
        const QString port = StartSupplyProgram(supply, QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--load", "10"});
        QVERIFY(port.startsWith("/dev/pts/"));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,1\n6,1,1\n7,1,60\n");
        const QString record = dir.filePath("r.csv");
        QProcess shell;
        shell.setProcessEnvironment(CtlEnvironment());
        shell.start(QStringLiteral("bash"),
                    {"-c", QStringLiteral("\"$0\" --port %1 run %2 --record %3 --interval 0.2 --limit 'elapsed>3' "
                                          "2>&1 >/dev/null | head -1; exit ${PIPESTATUS[0]}")
                               .arg(port, dir.filePath("p.csv"), record),
                     QStringLiteral(VELKAROCTL_EXE)});
        QCOMPARE(Finish(shell), 4);
        QCOMPARE(shell.readAllStandardOutput().count('\n'), 1);
        QCOMPARE(RecordingEvents(record),
                 (QStringList{"start", "step 1", "step 2", "step 3", "limit elapsed>3", "output off"}));
        QCOMPARE(OutputOf(port), QByteArray("off"));
        supply.terminate();
        QVERIFY(supply.waitForFinished(5000));
    }

    void badInputSendsNothing()
    {
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,10\n31,1,10\n");
        QProcess run;
        // The port does not exist: refusing the input comes first.
        StartCtl(run, {"--port", dir.filePath("none"), "run", dir.filePath("p.csv"), "--record", dir.filePath("r.csv")});
        QCOMPARE(Finish(run), 2);
        QVERIFY(run.readAllStandardError().contains("p.csv: line 3: voltage \"31\""));
        StartCtl(run, {"--port", dir.filePath("none"), "run", "--record", dir.filePath("r.csv"), "--limit", "amps>3"});
        QCOMPARE(Finish(run), 2);
        StartCtl(run, {"--port", dir.filePath("none"), "run", dir.filePath("p.csv")});
        QCOMPARE(Finish(run), 2);
        QVERIFY(!QFile::exists(dir.filePath("r.csv")));
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n5,1,10\n");
        StartCtl(run, {"--port", dir.filePath("none"), "run", dir.filePath("p.csv"), "--record", dir.filePath("r.csv")});
        QCOMPARE(Finish(run), 3);
    }
};

PANEL_TEST_MAIN(TestVelkaroctlRun)
#include "tst_velkaroctlrun.moc"
