// velkaroctl against the virtual-supply program with --pace (replies at the
// speed of a 9600-baud line): status reads per second of `watch --interval 0`
// against what a 9600-baud line allows, the time from starting `status` to its
// exit, and the processor use of `watch` at 0.5 s, read from /proc/<pid>/stat.

#include "commandset.h"

#include "processticks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

constexpr double CharMs = 10.0 / 9600 * 1000;  // start bit, 8 data bits, stop bit
// A status request carries no data; '#', two hex digits a byte, carriage return.
constexpr int RequestChars = 2 + 2 * (CommandSet::HeaderBytes + CommandSet::CrcBytes);
constexpr int ReplyChars = 2 + 2 * CommandSet::StatusReply.full;
constexpr int StatusRuns = 20;
constexpr int RateSeconds = 10;
constexpr int WarmUpS = 2;
constexpr int CpuSeconds = 20;

void ReadRate(const QString &port)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("rate.csv"));
    QProcess watch;
    watch.start(QStringLiteral(VELKAROCTL_PATH),
                {QStringLiteral("--port"), port, QStringLiteral("watch"), QStringLiteral("--interval"),
                 QStringLiteral("0"), QStringLiteral("--duration"), QString::number(RateSeconds),
                 QStringLiteral("--output"), output});
    watch.waitForFinished(RateSeconds * 1000 + 10000);
    QFile file(output);
    file.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    lines.removeFirst();  // header
    if (lines.size() < 2) {
        std::printf("watch --interval 0: no samples (exit %d)\n", watch.exitCode());
        return;
    }
    const double first = lines.first().split(',').at(1).toDouble();
    const double last = lines.last().split(',').at(1).toDouble();
    const double rate = (lines.size() - 1) / (last - first);
    const double lineMs = (RequestChars + ReplyChars) * CharMs;
    std::printf("watch --interval 0: %d status reads in %.3f s = %.2f reads/s; a 9600-baud line "
                "allows %.2f reads/s (%d + %d characters, %.2f ms): %.0f%%\n",
                int(lines.size()), last - first, rate, 1000 / lineMs, RequestChars, ReplyChars,
                lineMs, 100 * rate * lineMs / 1000);
    // The pseudo-terminal passes the request at once; only the reply is paced.
    const double replyMs = ReplyChars * CharMs;
    std::printf("  against the paced reply alone (%.2f ms, %.2f reads/s): %.1f%%\n", replyMs,
                1000 / replyMs, 100 * rate * replyMs / 1000);
}

void StatusTime(const QString &port)
{
    std::vector<double> times;
    for (int i = 0; i < StatusRuns; ++i) {
        QProcess status;
        status.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        status.start(QStringLiteral(VELKAROCTL_PATH), {QStringLiteral("--port"), port, QStringLiteral("status")});
        status.waitForFinished(5000);
        times.push_back(clock.nsecsElapsed() / 1e6);
        if (status.exitCode() != 0) {
            std::printf("status: run %d ended with %d\n", i + 1, status.exitCode());
            return;
        }
    }
    std::sort(times.begin(), times.end());
    const double median = (times[StatusRuns / 2 - 1] + times[StatusRuns / 2]) / 2;
    std::printf("status, start to exit: median %.1f ms of %d runs (fastest %.1f, slowest %.1f); "
                "target 100 ms + %.1f ms of line time\n",
                median, StatusRuns, times.front(), times.back(), (RequestChars + ReplyChars) * CharMs);
}

void WatchProcessorUse(const QString &port, const QStringList &extra)
{
    QProcess watch;
    watch.setStandardOutputFile(QProcess::nullDevice());
    watch.start(QStringLiteral(VELKAROCTL_PATH),
                QStringList{QStringLiteral("--port"), port, QStringLiteral("watch"),
                            QStringLiteral("--interval"), QStringLiteral("0.5")}
                    + extra);
    watch.waitForStarted(5000);
    QThread::sleep(WarmUpS);
    const qint64 pid = watch.processId();
    const qint64 before = ProcessTicks(pid);
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(CpuSeconds);
    const qint64 after = ProcessTicks(pid);
    const double wallS = clock.nsecsElapsed() / 1e9;
    ::kill(pid_t(pid), SIGTERM);
    watch.waitForFinished(5000);
    const double cpuS = double(after - before) / sysconf(_SC_CLK_TCK);
    std::printf("watch --interval 0.5 %s: %.2f s of processor in %.1f s = %.2f%% of one core "
                "(exit %d after SIGTERM)\n",
                qPrintable(extra.join(' ')), cpuS, wallS, 100 * cpuS / wallS, watch.exitCode());
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), {QStringLiteral("--pace")});
    supply.waitForReadyRead(5000);
    const QString port = QString::fromLocal8Bit(supply.readLine()).trimmed();
    if (port.isEmpty()) {
        std::printf("the virtual supply did not start\n");
        return 1;
    }
    ReadRate(port);
    StatusTime(port);
    WatchProcessorUse(port, {});
    WatchProcessorUse(port, {QStringLiteral("--measure")});
    supply.terminate();
    supply.waitForFinished(5000);
    return 0;
}
