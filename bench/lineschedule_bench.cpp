// The line's schedule on a real link against the virtual-supply program with
// --pace and four addresses: one user keeps a status read of every address
// queued (a full poll schedule), another submits an output-off write every
// 397 ms, arriving while a read is on the line. Prints how long each write
// waited from its submission to its acknowledgement, against one status
// exchange plus the write's own exchange, and the read rate meanwhile.

#include "commandset.h"
#include "devicelink.h"
#include "devicelinktransport.h"
#include "lineschedule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double CharMs = 10.0 / 9600 * 1000;
constexpr int Seconds = 30;
constexpr int WriteEveryMs = 397;
constexpr int PollUser = 0;
constexpr int WriteUser = 1;

LineRequest StatusRead(quint8 address)
{
    LineRequest request;
    request.address = address;
    request.command = CommandSet::Status;
    request.access = CommandSet::AccessRead;
    request.minLength = CommandSet::StatusReply.min;
    return request;
}

LineRequest OutputOff(quint8 address)
{
    LineRequest request;
    request.kind = LineRequest::Kind::Write;
    request.address = address;
    request.command = CommandSet::Output;
    request.access = CommandSet::AccessWrite;
    request.payload = QByteArray(2, '\0');
    return request;
}

double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), {"--pace", "--address", "1-4"});
    if (!supply.waitForStarted(5000) || !supply.waitForReadyRead(5000)) {
        std::printf("virtual-supply did not start\n");
        return 1;
    }
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(supply.readLine()).trimmed());
    if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(QSerialPort::Baud9600)) {
        std::printf("cannot open the supply's terminal\n");
        return 1;
    }
    DeviceLink link;
    link.SetPort(&port);
    link.SetTraceStream(nullptr);
    DeviceLinkTransport transport(link);
    LineSchedule schedule(transport);

    QElapsedTimer clock;
    clock.start();
    int reads = 0;
    int badWrites = 0;
    std::vector<double> waits;
    QTimer writer;
    quint8 next = 1;
    // Fires from the event loop that the link runs while it waits for a
    // reply: the write arrives in the middle of a read.
    QObject::connect(&writer, &QTimer::timeout, [&] {
        const qint64 submitted = clock.nsecsElapsed();
        schedule.Submit(WriteUser, OutputOff(next), [&, submitted](const LineOutcome &outcome) {
            waits.push_back((clock.nsecsElapsed() - submitted) / 1e6);
            if (outcome.result != LinkResult::GoodReply)
                ++badWrites;
        });
        next = quint8(next % 4 + 1);
    });
    writer.start(WriteEveryMs);
    while (clock.elapsed() < Seconds * 1000) {
        if (schedule.IsIdle() || schedule.Queued() < 2) {
            for (quint8 address = 1; address <= 4; ++address)
                schedule.Submit(PollUser, StatusRead(address), [&](const LineOutcome &outcome) {
                    if (outcome.result == LinkResult::GoodReply)
                        ++reads;
                });
        }
        schedule.RunNext();
        QCoreApplication::processEvents();
    }
    writer.stop();
    schedule.Withdraw(PollUser);
    schedule.RunAll();

    const double statusMs = (14 + 30) * CharMs;
    const double writeMs = (18 + 14) * CharMs;
    std::printf("%d s, status reads of 1-4 always queued: %d good reads, %.2f reads/s\n", Seconds, reads,
                reads / (clock.elapsed() / 1000.0));
    std::printf("output-off writes every %d ms: %zu, %d not acknowledged\n", WriteEveryMs, waits.size(),
                badWrites);
    std::printf("  wait from submission to acknowledgement: median %.1f ms, 95th percentile %.1f ms, "
                "longest %.1f ms\n",
                Percentile(waits, 0.5), Percentile(waits, 0.95), Percentile(waits, 1.0));
    std::printf("  one status exchange plus the write's own on a 9600-baud line: %.1f + %.1f = %.1f ms "
                "(paced replies alone: %.1f + %.1f = %.1f ms)\n",
                statusMs, writeMs, statusMs + writeMs, 30 * CharMs, 14 * CharMs, 44 * CharMs);
    port.close();
    supply.terminate();
    supply.waitForFinished(5000);
    return 0;
}
