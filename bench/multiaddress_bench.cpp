// velkaroctl watch over four supplies on one line, against the virtual-supply
// program with --pace (replies at the speed of a 9600-baud line): status reads
// per second over all addresses and each address's share; the same with one
// address silent; and, with late and dropped replies, readings that came from
// another supply than the row names (each supply is set to its own voltage,
// so a row whose voltage is not its address's came from elsewhere).
// With --attached the watch is attached to another velkaroctl that owns the
// line (a watch of address 1 every second): its reads are made by that owner.

#include "commandset.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double CharMs = 10.0 / 9600 * 1000;  // start bit, 8 data bits, stop bit
constexpr int RequestChars = 2 + 2 * (CommandSet::HeaderBytes + CommandSet::CrcBytes);
constexpr int ReplyChars = 2 + 2 * CommandSet::StatusReply.full;
constexpr int Seconds = 30;
const QStringList Addresses{"1", "2", "3", "4"};

struct Supply {
    QProcess process;
    QString port;
    bool Start(const QStringList &arguments)
    {
        process.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), QStringList{"--pace", "--address", "1-4"} + arguments);
        if (!process.waitForStarted(5000))
            return false;
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(5000))
                return false;
        }
        port = QString::fromLocal8Bit(process.readLine()).trimmed();
        return true;
    }
    ~Supply()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
};

int Ctl(const QString &port, const QStringList &arguments)
{
    QProcess ctl;
    ctl.setStandardOutputFile(QProcess::nullDevice());
    ctl.start(QStringLiteral(VELKAROCTL_PATH), QStringList{"--port", port} + arguments);
    ctl.waitForFinished(60000);
    return ctl.exitCode();
}

// The program owning the line under --attached, started once the supplies
// are set up; killed with the scenario.
struct Owner {
    QProcess process;
    bool Start(const QString &port)
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral(VELKAROCTL_PATH),
                      {"--port", port, "--address", "1", "watch", "--interval", "1"});
        for (int i = 0; i < 100; ++i) {
            QProcess who;
            who.start(QStringLiteral(VELKAROCTL_PATH), {"--port", port, "who"});
            who.waitForFinished(5000);
            if (who.readAllStandardOutput().contains(" owner "))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    ~Owner()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

struct Rows {
    QMap<int, int> perAddress;
    int wrongSupply = 0;
    double seconds = 0;
    int total = 0;
};

// watch --interval 0 over 1-4 for Seconds; rows by address.
Rows Watch(const QString &port)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("rows.csv"));
    QProcess watch;
    watch.setStandardErrorFile(QProcess::nullDevice());
    watch.start(QStringLiteral(VELKAROCTL_PATH),
                {"--port", port, "--address", "1-4", "watch", "--interval", "0", "--duration",
                 QString::number(Seconds), "--output", output});
    watch.waitForFinished(Seconds * 1000 + 20000);
    QFile file(output);
    file.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    lines.removeFirst();  // header
    Rows rows;
    if (lines.size() < 2)
        return rows;
    double first = -1;
    double last = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(',');
        const int address = fields.at(2).toInt();
        ++rows.perAddress[address];
        ++rows.total;
        if (first < 0)
            first = fields.at(1).toDouble();
        last = fields.at(1).toDouble();
        // Address a holds a volts with the output on.
        if (qAbs(fields.at(3).toDouble() - address) > 0.005)
            ++rows.wrongSupply;
    }
    rows.seconds = last - first;
    return rows;
}

void Prepare(const QString &port)
{
    for (const QString &address : Addresses) {
        Ctl(port, {"--address", address, "set", "--voltage", address, "--current", "1"});
        Ctl(port, {"--address", address, "on"});
    }
}

double Rate(const Rows &rows, int address)
{
    return rows.seconds > 0 ? rows.perAddress.value(address) / rows.seconds : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool attached = app.arguments().contains(QStringLiteral("--attached"));
    if (attached)
        std::printf("the watch attached to a velkaroctl watch of address 1 every second, which owns the line\n");
    const double lineMs = (RequestChars + ReplyChars) * CharMs;
    const double replyMs = ReplyChars * CharMs;

    Rows all;
    {
        Supply supply;
        if (!supply.Start({})) {
            std::printf("virtual-supply did not start\n");
            return 1;
        }
        Prepare(supply.port);
        Owner owner;
        if (attached && !owner.Start(supply.port))
            return 1;
        all = Watch(supply.port);
    }
    const double rate = all.seconds > 0 ? all.total / all.seconds : 0;
    std::printf("4 addresses, watch --interval 0 for %d s: %d status reads in %.3f s = %.2f reads/s; "
                "a 9600-baud line allows %.2f reads/s (%d + %d characters, %.2f ms): %.0f%%; "
                "against the paced reply alone (%.2f ms): %.1f%%\n",
                Seconds, all.total, all.seconds, rate, 1000 / lineMs, RequestChars, ReplyChars, lineMs,
                100 * rate * lineMs / 1000, replyMs, 100 * rate * replyMs / 1000);
    int fewest = all.total;
    int most = 0;
    for (int address = 1; address <= 4; ++address) {
        fewest = std::min(fewest, all.perAddress.value(address));
        most = std::max(most, all.perAddress.value(address));
        std::printf("  address %d: %d reads, %.2f reads/s, %.1f%% of all\n", address,
                    all.perAddress.value(address), Rate(all, address),
                    all.total ? 100.0 * all.perAddress.value(address) / all.total : 0.0);
    }
    std::printf("  shares differ by %.1f%% at most (fewest %d, most %d)\n",
                most ? 100.0 * (most - fewest) / most : 0.0, fewest, most);
    std::printf("  rows from another supply than named: %d\n", all.wrongSupply);

    Rows oneSilent;
    {
        Supply supply;
        if (!supply.Start({"--silent-address", "3"}))
            return 1;
        Prepare(supply.port);
        Owner owner;
        if (attached && !owner.Start(supply.port))
            return 1;
        oneSilent = Watch(supply.port);
    }
    std::printf("address 3 silent, watch over 1-4 for %d s:\n", Seconds);
    for (const int address : {1, 2, 4}) {
        const double before = Rate(all, address);
        const double after = Rate(oneSilent, address);
        std::printf("  address %d: %.2f reads/s (%.2f with all answering): %+.1f%%\n", address, after,
                    before, before > 0 ? 100 * (after - before) / before : 0.0);
    }
    std::printf("  address 3: %d reads\n", oneSilent.perAddress.value(3));

    Rows faulty;
    {
        Supply supply;
        if (!supply.Start({"--late", "0.2", "--drop", "0.1"}))
            return 1;
        // The set-up itself must get through the faults: tried until confirmed.
        for (int tries = 0; tries < 5; ++tries)
            Prepare(supply.port);
        Owner owner;
        if (attached && !owner.Start(supply.port))
            return 1;
        faulty = Watch(supply.port);
    }
    std::printf("--late 0.2 --drop 0.1, watch over 1-4 for %d s: %d rows, %d from another supply "
                "than named (or holding another value)\n",
                Seconds, faulty.total, faulty.wrongSupply);
    return 0;
}
