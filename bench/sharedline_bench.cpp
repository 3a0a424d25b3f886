// A line shared by several programs, against the virtual-supply program with
// --pace (replies at the speed of a 9600-baud line):
// (a) a status exchange made by the line's owner against one made through it
//     by an attached program: this program times link.GetStatus() as the
//     owner, then attached to a velkaroctl that owns the line (serve-scpi
//     with no client: it makes no exchange of its own; then watch
//     --interval 0: it makes them back to back);
// (b) the owner killed with kill -9 during two attached velkaroctl runs:
//     time from the kill until both have recorded a reading again, and rows
//     missing from their recordings beyond the gap.

#include "devicelink.h"
#include "sharedline.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

constexpr int Exchanges = 300;
constexpr int Trials = 6;
constexpr double RowSeconds = 0.2;

struct Program {
    QProcess process;
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

QString StartSupply(Program &supply)
{
    supply.process.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), {"--pace", "--address", "1,2,3"});
    if (!supply.process.waitForStarted(5000))
        return {};
    while (!supply.process.canReadLine()) {
        if (!supply.process.waitForReadyRead(5000))
            return {};
    }
    return QString::fromLocal8Bit(supply.process.readLine()).trimmed();
}

void StartCtl(Program &ctl, const QStringList &arguments)
{
    ctl.process.setStandardOutputFile(QProcess::nullDevice());
    ctl.process.setStandardErrorFile(QProcess::nullDevice());
    ctl.process.start(QStringLiteral(VELKAROCTL_PATH), arguments);
    ctl.process.waitForStarted(5000);
}

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values.at(size_t(fraction * double(values.size() - 1) + 0.5));
}

// Times Exchanges status reads of address 1, as owner or attached: false when
// the line could not be opened in the role wanted.
bool TimeStatus(const QString &port, SharedLine::Role wanted, std::vector<double> *ms, int *failed)
{
    QSerialPort serial;
    DeviceLink link;
    link.SetTraceStream(nullptr);  // as velkaroctl's own link: no receive trace
    SharedLine line(serial, link);
    QString reason;
    if (!line.Open(port, false, &reason) || line.CurrentRole() != wanted) {
        std::printf("cannot open %s as wanted: %s\n", qPrintable(port), qPrintable(reason));
        return false;
    }
    for (int i = 0; i < Exchanges; ++i) {
        StatusRecord status;
        QElapsedTimer took;
        took.start();
        if (link.GetStatus(1, status) != LinkResult::GoodReply)
            ++*failed;
        ms->push_back(double(took.nsecsElapsed()) / 1e6);
    }
    line.Close();
    return true;
}

void Report(const char *what, const std::vector<double> &ms, int failed)
{
    std::printf("  %-44s median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (%zu exchanges, %d failed)\n", what,
                Percentile(ms, 0.5), Percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()), ms.size(),
                failed);
}

// Waits until owner's line is served (who lists it as owner).
bool Serving(const QString &port)
{
    for (int i = 0; i < 100; ++i) {
        QProcess who;
        who.start(QStringLiteral(VELKAROCTL_PATH), {"--port", port, "who"});
        who.waitForFinished(5000);
        if (who.exitCode() == 0 && who.readAllStandardOutput().contains(" owner "))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool OwnerAgainstAttached()
{
    Program supply;
    const QString port = StartSupply(supply);
    if (port.isEmpty())
        return false;
    std::vector<double> owner, idle, busy;
    int ownerFailed = 0, idleFailed = 0, busyFailed = 0;
    if (!TimeStatus(port, SharedLine::Role::Owner, &owner, &ownerFailed))
        return false;
    {
        Program server;
        StartCtl(server, {"--port", port, "--address", "2", "serve-scpi", "--listen", "127.0.0.1:0"});
        if (!Serving(port) || !TimeStatus(port, SharedLine::Role::Attached, &idle, &idleFailed))
            return false;
    }
    {
        Program watch;
        StartCtl(watch, {"--port", port, "--address", "2", "watch", "--interval", "0"});
        if (!Serving(port) || !TimeStatus(port, SharedLine::Role::Attached, &busy, &busyFailed))
            return false;
    }
    std::printf("(a) status exchange, address 1, 9600-baud pace:\n");
    Report("made by the owner itself", owner, ownerFailed);
    Report("attached, owner making none of its own", idle, idleFailed);
    Report("attached, owner reading back to back", busy, busyFailed);
    std::printf("  attached - owner: median %+.2f ms, p95 %+.2f ms (owner idle)\n",
                Percentile(idle, 0.5) - Percentile(owner, 0.5), Percentile(idle, 0.95) - Percentile(owner, 0.95));
    return true;
}

// The wall-clock times (ms since the epoch) of a recording's readings.
std::vector<qint64> Readings(const QString &path)
{
    std::vector<qint64> times;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return times;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (line.startsWith('#') || line.startsWith("time,") || fields.size() < 3 || fields.at(2).isEmpty())
            continue;
        times.push_back(QDateTime::fromString(QString::fromLatin1(fields.at(0)), Qt::ISODateWithMs)
                            .toMSecsSinceEpoch());
    }
    return times;
}

// The run's clock (elapsed_s) at its first event named name, or -1.
double EventAt(const QString &path, const QByteArray &name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() > 12 && fields.at(12) == name)
            return fields.at(1).toDouble();
    }
    return -1;
}

struct Trial {
    double handoverMs = 0;  // port lost to reconnected, the longer of the two runs
    double backMs = -1;  // until both read again
    int rowsLost = 0;    // beyond the gap, both runs
    bool ended = true;   // both ended with status 0
};

Trial KillTheOwner(const QString &program)
{
    Trial trial;
    Program supply;
    const QString port = StartSupply(supply);
    QTemporaryDir dir;
    Program owner;
    StartCtl(owner, {"--port", port, "--address", "3", "watch", "--interval", "0.2"});
    if (port.isEmpty() || !Serving(port))
        return {};
    Program runs[2];
    QString records[2];
    for (int i = 0; i < 2; ++i) {
        records[i] = dir.filePath(QStringLiteral("r%1.csv").arg(i));
        StartCtl(runs[i], {"--port", port, "--address", QString::number(i + 1), "run", program, "--record",
                           records[i], "--interval", QString::number(RowSeconds)});
    }
    QElapsedTimer waited;
    waited.start();
    while ((Readings(records[0]).size() < 8 || Readings(records[1]).size() < 8) && waited.elapsed() < 15000)
        QThread::msleep(20);
    const qint64 killedAt = QDateTime::currentMSecsSinceEpoch();
    ::kill(pid_t(owner.process.processId()), SIGKILL);
    for (Program &run : runs) {
        run.process.waitForFinished(30000);
        trial.ended = trial.ended && run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0;
    }
    trial.backMs = 0;
    for (const QString &record : records) {
        const std::vector<qint64> times = Readings(record);
        const auto after = std::find_if(times.begin(), times.end(), [&](qint64 t) { return t > killedAt; });
        if (after == times.end())
            return {};
        trial.backMs = std::max(trial.backMs, double(*after - killedAt));
        trial.handoverMs = std::max(trial.handoverMs,
                                    1000 * (EventAt(record, "reconnected") - EventAt(record, "port lost")));
        for (size_t r = 1; r < times.size(); ++r) {
            if (times[r - 1] < killedAt && times[r] > killedAt)
                continue;  // the gap itself
            // A step longer than one and a half rows is a row (or more) missing.
            const double rows = double(times[r] - times[r - 1]) / (RowSeconds * 1000);
            if (rows > 1.5)
                trial.rowsLost += int(rows + 0.5) - 1;
        }
    }
    return trial;
}

void PrintLoad(const char *when)
{
    QFile load(QStringLiteral("/proc/loadavg"));
    load.open(QIODevice::ReadOnly);
    std::printf("load average %s: %s", when, load.readAll().constData());
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PrintLoad("at start");
    if (!OwnerAgainstAttached())
        return 1;

    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("p.csv"));
    QFile file(program);
    file.open(QIODevice::WriteOnly);
    file.write("voltage,current,duration\n3,1,6\n");
    file.close();
    std::printf("(b) owner killed with kill -9 during two attached runs (rows every %.1f s), %d trials:\n",
                RowSeconds, Trials);
    std::vector<double> back;
    int lost = 0;
    int failedRuns = 0;
    for (int t = 0; t < Trials; ++t) {
        const Trial trial = KillTheOwner(program);
        if (trial.backMs < 0) {
            std::printf("  trial %d: a run did not read again\n", t + 1);
            ++failedRuns;
            continue;
        }
        std::printf("  trial %d: both read again %4.0f ms after the kill (port lost to reconnected at most %3.0f ms), "
                    "rows lost beyond the gap %d%s\n",
                    t + 1, trial.backMs, trial.handoverMs, trial.rowsLost,
                    trial.ended ? "" : ", a run did not end with status 0");
        back.push_back(trial.backMs);
        lost += trial.rowsLost;
        failedRuns += trial.ended ? 0 : 1;
    }
    if (!back.empty())
        std::printf("  until both read again: median %.0f ms, max %.0f ms; rows lost beyond the gap: %d; "
                    "trials that failed: %d\n",
                    Percentile(back, 0.5), *std::max_element(back.begin(), back.end()), lost, failedRuns);
    PrintLoad("at end");
    return 0;
}
