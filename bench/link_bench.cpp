// Measures the cost of one transaction of the device link against the
// virtual-supply program (a separate process, so the figures are the link's
// alone): wall time above the time the reply needs on a 9600-baud line, the
// processor time it takes, and how long the event loop goes unserved while a
// transaction waits. Run once with a paced supply and once with a silent one.

#include "commandset.h"
#include "devicelink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double wallMs = 0;
    double cpuMs = 0;
    double worstEventGapMs = 0;
    int good = 0;
};

Figures Run(const QStringList &supplyArgs, int transactions, bool probe)
{
    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), supplyArgs);
    supply.waitForReadyRead(5000);
    const QString path = QString::fromLocal8Bit(supply.readLine()).trimmed();

    QSerialPort port(path);
    port.open(QIODevice::ReadWrite);
    port.setBaudRate(QSerialPort::Baud9600);
    DeviceLink link;
    link.SetPort(&port);

    // A 1 ms timer stands in for the window's events: the largest gap between
    // its ticks is how long the event loop went unserved.
    QElapsedTimer sinceEvent;
    double worstGap = 0;
    QTimer events;
    events.setTimerType(Qt::PreciseTimer);
    QObject::connect(&events, &QTimer::timeout, [&] {
        worstGap = std::max(worstGap, sinceEvent.nsecsElapsed() / 1e6);
        sinceEvent.restart();
    });

    Figures figures;
    StatusRecord status;
    link.GetStatus(0, status);  // warm-up
    if (probe)
        events.start(1);
    sinceEvent.start();
    const double cpuStart = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < transactions; ++i) {
        if (link.GetStatus(0, status) == LinkResult::GoodReply)
            ++figures.good;
        QCoreApplication::processEvents();
    }
    figures.wallMs = wall.nsecsElapsed() / 1e6 / transactions;
    figures.cpuMs = (CpuSeconds() - cpuStart) * 1000 / transactions;
    figures.worstEventGapMs = worstGap;
    events.stop();
    port.close();
    supply.terminate();
    supply.waitForFinished(2000);
    return figures;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The link traces every line on the standard output; keep the figures apart.
    std::FILE *out = fdopen(dup(fileno(stdout)), "w");
    std::freopen("/dev/null", "w", stdout);

    // A status reply is 14 bytes: 30 characters of 10 bits at 9600 baud.
    const double replyLineMs = (2 + 2 * CommandSet::StatusReply.full) * 10 * 1000.0 / 9600;
    const int count = argc > 1 ? std::atoi(argv[1]) : 100;

    // The processor time is measured without the 1 ms probe timer, whose own
    // events would dominate it; the event gaps in a second run with it.
    Figures paced = Run({"--pace"}, count, false);
    paced.worstEventGapMs = Run({"--pace"}, count, true).worstEventGapMs;
    std::fprintf(out, "paced supply, %d status reads (%d good):\n", count, paced.good);
    std::fprintf(out, "  wall per transaction      %7.2f ms (reply line time %.2f ms)\n", paced.wallMs,
                 replyLineMs);
    std::fprintf(out, "  above the line time       %7.2f ms  (target <= 2 ms)\n",
                 paced.wallMs - replyLineMs);
    std::fprintf(out, "  processor per transaction %7.2f ms  (%.1f%% of one core)\n", paced.cpuMs,
                 100 * paced.cpuMs / paced.wallMs);
    std::fprintf(out, "  worst gap between events  %7.2f ms  (target <= 5 ms)\n", paced.worstEventGapMs);

    const int silentCount = std::max(5, count / 10);
    Figures silent = Run({"--silent"}, silentCount, false);
    silent.worstEventGapMs = Run({"--silent"}, silentCount, true).worstEventGapMs;
    std::fprintf(out, "silent supply, %d status reads (%d good):\n", silentCount, silent.good);
    std::fprintf(out, "  wall per transaction      %7.2f ms (time-out 200 ms)\n", silent.wallMs);
    std::fprintf(out, "  processor per transaction %7.2f ms  (%.1f%% of one core, target < 3%%)\n",
                 silent.cpuMs, 100 * silent.cpuMs / silent.wallMs);
    std::fprintf(out, "  worst gap between events  %7.2f ms  (target <= 5 ms)\n", silent.worstEventGapMs);
    std::fclose(out);
    return 0;
}
