// Processor use of the connected main window over 30 s of monitoring, with a
// responsive (paced) supply, with the same and the chart page showing, and
// with a silent supply, read from outside the
// window's process (/proc/<pid>/stat); and the time from launch to the window
// first painted, median of ten launches. The window runs in window_host, the
// supply in the virtual-supply program, both on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise, with a throw-away settings store.

#include "processticks.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int WarmUpS = 2;
constexpr int MeasureS = 30;
constexpr int StartupRuns = 10;

qint64 MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QProcessEnvironment HostEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// Reads the host's standard error up to a line starting with prefix.
QString WaitForReport(QProcess &host, const QString &prefix, int timeoutMs)
{
    const qint64 deadline = MonotonicNs() + qint64(timeoutMs) * 1000000;
    while (MonotonicNs() < deadline) {
        while (host.canReadLine()) {
            const QString line = QString::fromLocal8Bit(host.readLine()).trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        if (!host.waitForReadyRead(100) && host.state() == QProcess::NotRunning)
            return {};
    }
    return {};
}

void MonitoringUse(const QTemporaryDir &home, const char *label, const QStringList &supplyArgs,
                   bool chartPage = false)
{
    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), supplyArgs);
    supply.waitForReadyRead(5000);
    const QString path = QString::fromLocal8Bit(supply.readLine()).trimmed();

    QProcess host;
    host.setProcessEnvironment(HostEnvironment(home));
    host.setStandardOutputFile(QProcess::nullDevice());
    host.setReadChannel(QProcess::StandardError);
    QStringList hostArgs = {path, QString::number(WarmUpS + MeasureS + 2)};
    if (chartPage)
        hostArgs << QStringLiteral("--chart");
    host.start(QStringLiteral(WINDOW_HOST_PATH), hostArgs);
    const QString state = WaitForReport(host, QStringLiteral("host: "), 10000);
    if (state != QStringLiteral("connected")) {
        std::printf("%s: the window did not connect (%s)\n", label, qPrintable(state));
        return;
    }
    QThread::sleep(WarmUpS);
    const qint64 pid = host.processId();
    const qint64 before = ProcessTicks(pid);
    const qint64 startNs = MonotonicNs();
    QThread::sleep(MeasureS);
    const qint64 after = ProcessTicks(pid);
    const double wallS = (MonotonicNs() - startNs) / 1e9;
    const double cpuS = double(after - before) / sysconf(_SC_CLK_TCK);

    const QString summary = WaitForReport(host, QStringLiteral("host: "), 10000);
    host.waitForFinished(5000);
    supply.terminate();
    supply.waitForFinished(5000);
    std::printf("%s: %.2f s of processor in %.1f s of monitoring = %.2f%% of one core (%s)\n",
                label, cpuS, wallS, 100.0 * cpuS / wallS, qPrintable(summary));
}

void StartupTime(const QTemporaryDir &home)
{
    std::vector<double> times;
    for (int i = 0; i < StartupRuns; ++i) {
        QProcess host;
        host.setProcessEnvironment(HostEnvironment(home));
        host.setStandardOutputFile(QProcess::nullDevice());
        host.setReadChannel(QProcess::StandardError);
        host.start(QStringLiteral(WINDOW_HOST_PATH),
                   {QStringLiteral("--startup"), QString::number(MonotonicNs())});
        const QString shown = WaitForReport(host, QStringLiteral("host: shown "), 10000);
        host.waitForFinished(5000);
        if (shown.isEmpty()) {
            std::printf("startup: run %d reported nothing\n", i + 1);
            return;
        }
        times.push_back(shown.section(QLatin1Char(' '), 0, 0).toDouble());
    }
    std::sort(times.begin(), times.end());
    const double median = (times[StartupRuns / 2 - 1] + times[StartupRuns / 2]) / 2;
    std::printf("startup to window painted: median %.1f ms of %d launches (fastest %.1f, "
                "slowest %.1f)\n", median, StartupRuns, times.front(), times.back());
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    StartupTime(home);
    MonitoringUse(home, "paced supply", {QStringLiteral("--pace")});
    MonitoringUse(home, "paced supply, chart page showing", {QStringLiteral("--pace")}, true);
    MonitoringUse(home, "silent supply", {QStringLiteral("--silent")});
    return 0;
}
