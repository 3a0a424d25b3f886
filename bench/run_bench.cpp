// velkaroctl run against the virtual-supply program with --pace (replies at
// the speed of a 9600-baud line): step start error over 100 one-second steps,
// limit reaction at --interval 0, rows lost after kill -9, the counters
// against the exact integral of a stepped load, the time from a stall's end
// to the output off confirmed after the run aborted, and, in process, the
// recording's cost per row; and a long ramp over a noisy line.
//   run_bench [stall]   (stall: the stall figure alone)
//   run_bench noisy [MINUTES [SEED]]   (a ramp of MINUTES, 10 unless given,
//   against --corrupt 0.03 --drop 0.02 --late 0.02: its end, and every
//   set-point written checked against the read-backs in the frame trace)

#include "devicelink.h"
#include "runrecording.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <vector>

namespace {

QString StartSupply(QProcess &supply, const QStringList &arguments)
{
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), arguments);
    if (!supply.waitForStarted(5000) || !supply.waitForReadyRead(5000))
        return {};
    return QString::fromLocal8Bit(supply.readLine()).trimmed();
}

QList<QByteArrayList> Rows(const QString &path, int *partial = nullptr)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    QList<QByteArrayList> rows;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("time,"))
            continue;
        const QByteArrayList fields = line.split(',');
        // The last piece has no line end: a row cut short.
        if (fields.size() != 15 || i == lines.size() - 1) {
            if (partial)
                ++*partial;
            continue;
        }
        rows << fields;
    }
    return rows;
}

int Run(const QString &port, const QStringList &arguments, int timeoutMs)
{
    QProcess run;
    run.setStandardErrorFile(QProcess::nullDevice());
    run.start(QStringLiteral(VELKAROCTL_PATH), QStringList{"--port", port, "run"} + arguments);
    if (!run.waitForFinished(timeoutMs))
        return -1;
    return run.exitCode();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QDateTime TimeOf(const QByteArrayList &row)
{
    return QDateTime::fromString(QString::fromLatin1(row[0]), Qt::ISODateWithMs);
}

void StepStartError(const QString &port, const char *interval)
{
    QTemporaryDir dir;
    QByteArray program = "voltage,current,duration\n";
    for (int i = 0; i < 100; ++i)
        program += i % 2 ? "6,1,1\n" : "5,1,1\n";
    QFile p(dir.filePath("p.csv"));
    p.open(QIODevice::WriteOnly);
    p.write(program);
    p.close();
    const QString record = dir.filePath("r.csv");
    const int status = Run(port, {dir.filePath("p.csv"), "--record", record, "--interval", interval}, 200000);
    std::vector<double> late;
    std::vector<double> applied;
    const QList<QByteArrayList> rows = Rows(record);
    for (int i = 0; i < rows.size(); ++i) {
        const QByteArray &event = rows[i][12];
        if (!event.startsWith("step "))
            continue;
        const int n = event.mid(5).toInt();
        const double planned = n - 1;
        late.push_back((rows[i][1].toDouble() - planned) * 1000);
        const QByteArray wanted = n % 2 ? "5.000" : "6.000";
        for (int j = i + 1; j < rows.size(); ++j) {
            if (rows[j][2].isEmpty() || !rows[j][12].isEmpty())
                continue;
            if (rows[j][7] == wanted)
                applied.push_back((rows[j][1].toDouble() - planned) * 1000);
            break;
        }
    }
    std::printf("step start, --interval %s (exit %d): %zu steps; step begun after its planned time: "
                "median %.0f ms, worst %.0f ms; first reading with the new set-point after it: median "
                "%.0f ms, worst %.0f ms (%zu steps)\n",
                interval, status, late.size(), Median(late), late.empty() ? 0 : *std::max_element(late.begin(), late.end()),
                Median(applied), applied.empty() ? 0 : *std::max_element(applied.begin(), applied.end()),
                applied.size());
}

void LimitReaction(const QString &port)
{
    std::vector<double> reaction;
    for (int trial = 0; trial < 10; ++trial) {
        QTemporaryDir dir;
        QFile p(dir.filePath("p.csv"));
        p.open(QIODevice::WriteOnly);
        p.write("voltage,current,duration\n5,2,0.5\n12,2,30\n");
        p.close();
        const QString record = dir.filePath("r.csv");
        QProcess run;
        run.setStandardErrorFile(QProcess::nullDevice());
        run.start(QStringLiteral(VELKAROCTL_PATH),
                  {"--port", port, "run", dir.filePath("p.csv"), "--record", record, "--interval", "0",
                   "--limit", "voltage>10"});
        run.waitForFinished(20000);
        const QDateTime ended = QDateTime::currentDateTimeUtc();
        const QList<QByteArrayList> rows = Rows(record);
        // The crossing reading's row, then "output off".
        if (run.exitCode() != 4 || rows.size() < 2 || !rows.at(rows.size() - 2)[12].startsWith("limit")
            || rows.last()[12] != "output off") {
            std::printf("limit: trial %d ended with %d\n", trial + 1, run.exitCode());
            return;
        }
        reaction.push_back(TimeOf(rows.at(rows.size() - 2)).msecsTo(ended));
    }
    std::printf("limit reaction, --interval 0: from the crossing reading's row to velkaroctl's exit "
                "after the confirmed output off: median %.0f ms, worst %.0f ms (10 trials)\n",
                Median(reaction), *std::max_element(reaction.begin(), reaction.end()));
}

void KillNine(const QString &port)
{
    int partialTotal = 0;
    int lostTotal = 0;
    int lostWorst = 0;
    for (int trial = 0; trial < 20; ++trial) {
        QTemporaryDir dir;
        const QString record = dir.filePath("r.csv");
        QProcess run;
        run.setStandardErrorFile(QProcess::nullDevice());
        run.start(QStringLiteral(VELKAROCTL_PATH), {"--port", port, "run", "--record", record, "--interval", "0.1"});
        run.waitForStarted(5000);
        QThread::msleep(1000 + QRandomGenerator::global()->bounded(1000));
        run.kill();
        const QDateTime killed = QDateTime::currentDateTimeUtc();
        run.waitForFinished(5000);
        int partial = 0;
        const QList<QByteArrayList> rows = Rows(record, &partial);
        partialTotal += partial;
        // Rows are due every 0.1 s; one may be in its read when the kill comes.
        const qint64 sinceLast = rows.isEmpty() ? 0 : TimeOf(rows.last()).msecsTo(killed);
        const int lost = std::max<int>(0, int(sinceLast / 100) - 1);
        lostTotal += lost;
        lostWorst = std::max(lostWorst, lost);
    }
    std::printf("kill -9 at --interval 0.1, 20 trials: %d rows lost in all (worst %d in one trial), "
                "%d partial rows\n",
                lostTotal, lostWorst, partialTotal);
}

void Counters(const QString &port)
{
    // 10, 5 and 2 V for 20 s each into 10 ohms: 1, 0.5 and 0.2 A.
    QTemporaryDir dir;
    QFile p(dir.filePath("p.csv"));
    p.open(QIODevice::WriteOnly);
    p.write("voltage,current,duration\n10,2,20\n5,2,20\n2,2,20\n");
    p.close();
    const QString record = dir.filePath("r.csv");
    const int status = Run(port, {dir.filePath("p.csv"), "--record", record, "--interval", "0.25"}, 120000);
    const QList<QByteArrayList> rows = Rows(record);
    double stepAt[4] = {0, 0, 0, 0};
    double first = -1;
    double last = 0;
    double ah = 0;
    double wh = 0;
    for (const QByteArrayList &row : rows) {
        if (row[12].startsWith("step "))
            stepAt[row[12].mid(5).toInt() - 1] = row[1].toDouble();
        if (row[12].isEmpty() && !row[2].isEmpty()) {
            if (first < 0)
                first = row[1].toDouble();
            last = row[1].toDouble();
            ah = row[9].toDouble();
            wh = row[10].toDouble();
        }
    }
    stepAt[3] = 1e9;
    const double amperes[3] = {1.0, 0.5, 0.2};
    double exactAs = 0;
    double exactWs = 0;
    for (int k = 0; k < 3; ++k) {
        const double from = std::max(first, stepAt[k]);
        const double to = std::min(last, stepAt[k + 1]);
        if (to > from) {
            exactAs += amperes[k] * (to - from);
            exactWs += amperes[k] * amperes[k] * 10 * (to - from);
        }
    }
    std::printf("counters (exit %d), 1/0.5/0.2 A for 20 s each into 10 ohms, readings from %.3f to "
                "%.3f s: %.6f Ah against %.6f Ah exact (%+.2f%%), %.6f Wh against %.6f Wh (%+.2f%%)\n",
                status, first, last, ah, exactAs / 3600, 100 * (ah * 3600 / exactAs - 1), wh,
                exactWs / 3600, 100 * (wh * 3600 / exactWs - 1));
}

void RecordingCost()
{
    QTemporaryDir dir;
    RecordingHeader header;
    header.software = QStringLiteral("run_bench");
    header.start = QDateTime::currentDateTime();
    RunRecording recording;
    recording.open(dir.filePath("r.csv"), RunRecording::Mode::New, header, 0);
    RecordingRow row;
    row.time = QDateTime::currentDateTimeUtc();
    StatusRecord s;
    s.Voltage = 1234;
    s.Current = 5678;
    s.CvFlag = 1;
    s.OutputOn = 1;
    row.status = s;
    row.setpoints = SetpointRecord{12340, 6000};
    row.step = 3;
    const int rows = 20000;
    QElapsedTimer clock;
    clock.start();
    // A row every 10 ms of the run's time: a sync every 200 rows.
    for (int i = 0; i < rows; ++i) {
        row.elapsedMs = i * 10;
        recording.write(row, row.elapsedMs, false);
    }
    const double perRow = clock.nsecsElapsed() / 1e3 / rows;
    const int events = 200;
    row.event = QStringLiteral("step 4");
    clock.restart();
    for (int i = 0; i < events; ++i)
        recording.write(row, rows * 10 + i, true);
    const double perEvent = clock.nsecsElapsed() / 1e3 / events;
    std::printf("recording cost: %.1f us per reading row (one write, a sync every 2 s of run time, "
                "%d rows), %.0f us per event row (one write and a sync, %d rows)\n",
                perRow, rows, perEvent, events);
}

// The supply stopped (kill -STOP) until the run has aborted for its silence
// (--max-silence 3), then continued at a varied moment: from the continue to
// the "output off" row's time (the run's wall clock from its start plus its
// monotonic elapsed time) and to velkaroctl's exit.
void StallAbort(QProcess &supply, const QString &port, int trials)
{
    std::vector<double> toRow, toExit;
    for (int trial = 0; trial < trials; ++trial) {
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("r.csv"));
        QFile program(dir.filePath(QStringLiteral("p.csv")));
        program.open(QIODevice::WriteOnly);
        program.write("voltage,current,duration\n5,1,2\n8,1,60\n");
        program.close();
        QProcess run;
        run.setStandardErrorFile(QProcess::nullDevice());
        run.start(QStringLiteral(VELKAROCTL_PATH),
                  {"--port", port, "run", program.fileName(), "--record", record, "--interval", "0.5",
                   "--max-silence", "3"});
        QThread::msleep(1500);
        ::kill(pid_t(supply.processId()), SIGSTOP);
        QElapsedTimer waited;
        waited.start();
        auto aborted = [&] {
            for (const QByteArrayList &row : Rows(record))
                if (row[12] == "abort no answer")
                    return true;
            return false;
        };
        while (!aborted() && waited.elapsed() < 10000)
            QThread::msleep(20);
        QThread::msleep(200 + 97 * trial % 900);  // the off's tries at varied phases
        const QDateTime resumed = QDateTime::currentDateTimeUtc();
        QElapsedTimer sinceResume;
        sinceResume.start();
        ::kill(pid_t(supply.processId()), SIGCONT);
        const bool ended = run.waitForFinished(20000);
        const double exitMs = sinceResume.elapsed();
        const QList<QByteArrayList> rows = Rows(record);
        if (!ended || rows.isEmpty() || rows.last()[12] != "output off") {
            std::printf("stall: trial %d did not end with the output off (exit %d)\n", trial + 1, run.exitCode());
            continue;
        }
        toRow.push_back(resumed.msecsTo(TimeOf(rows.last())));
        toExit.push_back(exitMs);
    }
    std::sort(toRow.begin(), toRow.end());
    std::sort(toExit.begin(), toExit.end());
    if (toRow.empty())
        return;
    std::printf("stall's end to output off after an abort (--max-silence 3, %zu of %d trials): "
                "to the row median %.0f ms, worst %.0f ms, best %.0f ms; to the exit median %.0f ms, worst %.0f ms\n",
                toRow.size(), trials, Median(toRow), toRow.back(), toRow.front(), Median(toExit), toExit.back());
}

// A frame of the trace ("S.SSS > #..." or "S.SSS < #..."), decoded when its
// CRC holds.
bool TraceFrame(const QByteArray &line, char direction, QByteArray &decoded)
{
    const int at = line.indexOf(QByteArray(" ") + direction + " #");
    if (at < 0)
        return false;
    QByteArray text = line.mid(at + 3);
    const int end = text.indexOf(' ');
    if (end >= 0)
        text.truncate(end);
    return DeviceLink::DecodeLine(text + '\r', decoded) >= 6 && DeviceLink::CrcOver(decoded) == 0;
}

void NoisyRamp(int minutes, int seed)
{
    QProcess supply;
    const QString port = StartSupply(supply, {"--pace", "--load", "10", "--corrupt", "0.03", "--drop", "0.02",
                                              "--late", "0.02", "--seed", QString::number(seed)});
    if (port.isEmpty()) {
        std::printf("the virtual supply did not start\n");
        return;
    }
    QTemporaryDir dir;
    // Up and down again, each half a ramp of its own.
    const int half = minutes * 30;
    QFile p(dir.filePath("p.csv"));
    p.open(QIODevice::WriteOnly);
    p.write(QStringLiteral("voltage,current,duration,ramp\n1,0.5,1,\n12,1.2,%1,%1\n1,0.5,%2,%2\n")
                .arg(half - 1)
                .arg(half)
                .toUtf8());
    p.close();
    const QString record = dir.filePath("r.csv");
    QProcess run;
    run.setStandardErrorFile(dir.filePath("trace.txt"));
    QElapsedTimer took;
    took.start();
    run.start(QStringLiteral(VELKAROCTL_PATH), {"--trace", "--port", port, "run", dir.filePath("p.csv"), "--record",
                                                 record});
    const bool ended = run.waitForFinished(minutes * 60000 + 120000);
    const double seconds = took.elapsed() / 1000.0;
    QFile traceFile(dir.filePath("trace.txt"));
    traceFile.open(QIODevice::ReadOnly);
    int writes = 0, goodAcks = 0, requests = 0, damaged = 0;
    QSet<QByteArray> written, readBack;
    QByteArray lastEvent, lastLine;
    for (const QByteArray &line : traceFile.readAll().split('\n')) {
        QByteArray frame;
        if (line.contains(" > #")) {
            ++requests;
            if (TraceFrame(line, '>', frame) && quint8(frame[2]) == 0x03 && quint8(frame[3]) == 0x11) {
                ++writes;
                written.insert(frame.mid(4, 4));
            }
        } else if (line.contains(" < #")) {
            if (!TraceFrame(line, '<', frame)) {
                ++damaged;
            } else if (quint8(frame[2]) == 0x03 && quint8(frame[3]) == 0x01) {
                readBack.insert(frame.mid(4, 4));
            } else if (quint8(frame[2]) == 0x03 && quint8(frame[3]) == 0x1F) {
                ++goodAcks;
            }
        } else if (!line.isEmpty()) {
            lastLine = line;
        }
    }
    int unconfirmed = 0;
    for (const QByteArray &value : std::as_const(written))
        unconfirmed += readBack.contains(value) ? 0 : 1;
    const QList<QByteArrayList> rows = Rows(record);
    QByteArrayList events;
    for (const QByteArrayList &row : rows)
        if (!row[12].isEmpty())
            events << row[12];
    QProcess status;
    status.start(QStringLiteral(VELKAROCTL_PATH), {"--port", port, "--json", "status"});
    status.waitForFinished(10000);
    std::printf("noisy ramp, %d min, seed %d (--corrupt 0.03 --drop 0.02 --late 0.02): %s exit %d after %.1f s; "
                "events %s; %d requests, %d damaged replies seen; %d set-point writes sent (%d acknowledged with a "
                "good CRC), %d distinct values, %d of them never read back; afterwards: %s\n",
                minutes, seed, ended ? "ended," : "did NOT end,", run.exitCode(), seconds,
                events.join('|').constData(), requests, damaged, writes, goodAcks, int(written.size()), unconfirmed,
                status.readAllStandardOutput().trimmed().constData());
    std::printf("  velkaroctl's last line: %s\n", lastLine.constData());
    supply.terminate();
    supply.waitForFinished(5000);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("noisy")) {
        NoisyRamp(app.arguments().value(2, QStringLiteral("10")).toInt(), app.arguments().value(3, QStringLiteral("7")).toInt());
        return 0;
    }
    const bool stallOnly = app.arguments().value(1) == QLatin1String("stall");
    if (!stallOnly)
        RecordingCost();
    QProcess supply;
    const QString port = StartSupply(supply, {"--pace", "--load", "10"});
    if (port.isEmpty()) {
        std::printf("the virtual supply did not start\n");
        return 1;
    }
    StallAbort(supply, port, 12);
    if (stallOnly) {
        supply.terminate();
        supply.waitForFinished(5000);
        return 0;
    }
    Counters(port);
    LimitReaction(port);
    KillNine(port);
    StepStartError(port, "1");
    StepStartError(port, "0");
    supply.terminate();
    supply.waitForFinished(5000);
    return 0;
}
