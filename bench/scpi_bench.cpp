// Measures serve-scpi against the virtual-supply program with paced replies,
// each a separate process: the MEASure:VOLTage? round trip seen by a TCP
// client next to the line time of the status transaction it makes at 9600
// baud, 10 bits a character (14 request and 30 reply characters; the virtual
// supply paces only the reply), the round trip of a query that needs no
// supply, and the server's processor use per query and while a connected
// client is idle; the round trip of a compound query of three status values;
// and how the answers share out between one client keeping 8 messages in
// flight and three clients asking one at a time.
//   scpi_bench [ROUND_TRIPS] [IDLE_SECONDS] [FAIRNESS_SECONDS]

#include "processticks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <vector>

namespace {

constexpr double CharacterMs = 10 * 1000.0 / 9600;
constexpr double StatusReplyMs = 30 * CharacterMs;
constexpr double StatusLineMs = (14 + 30) * CharacterMs;

// The process's processor time so far, in milliseconds.
double CpuMs(qint64 pid)
{
    const qint64 ticks = ProcessTicks(pid);
    return ticks < 0 ? -1 : ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

struct Times {
    double median = 0;
    double mean = 0;
    double worst = 0;
};

Times RoundTrips(QTcpSocket &client, const QByteArray &query, int count, QByteArray *answer)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer timer;
        timer.start();
        client.write(query + '\n');
        client.flush();
        while (!client.canReadLine() && client.waitForReadyRead(2000)) {
        }
        ms.push_back(timer.nsecsElapsed() / 1e6);
        *answer = client.readLine().trimmed();
    }
    std::sort(ms.begin(), ms.end());
    Times times;
    times.median = ms[ms.size() / 2];
    for (double value : ms)
        times.mean += value / ms.size();
    times.worst = ms.back();
    return times;
}

// One greedy client keeps Greedy messages in flight, three others ask one at
// a time, for the given time; the answers each got.
std::vector<int> Fairness(quint16 port, int seconds)
{
    constexpr int Greedy = 8;
    const QByteArray query = "MEAS:VOLT?\n";
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    std::vector<int> answers(4, 0);
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!clients.back()->waitForConnected(5000))
            return {};
    }
    bool counting = true;
    for (int i = 0; i < 4; ++i) {
        QTcpSocket *socket = clients[size_t(i)].get();
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket, i] {
            while (socket->canReadLine()) {
                socket->readLine();
                if (!counting)
                    continue;
                ++answers[size_t(i)];
                socket->write(query);
            }
        });
        socket->write(i == 0 ? query.repeated(Greedy) : query);
    }
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    counting = false;
    return answers;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = std::max(10, app.arguments().value(1, QStringLiteral("200")).toInt());
    const int idleSeconds = std::max(1, app.arguments().value(2, QStringLiteral("10")).toInt());
    const int fairSeconds = std::max(1, app.arguments().value(3, QStringLiteral("12")).toInt());

    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), {QStringLiteral("--pace")});
    supply.waitForReadyRead(5000);
    const QString path = QString::fromLocal8Bit(supply.readLine()).trimmed();

    QProcess server;
    server.start(QStringLiteral(VELKAROCTL_PATH),
                 {QStringLiteral("--port"), path, QStringLiteral("serve-scpi"), QStringLiteral("--listen"),
                  QStringLiteral("127.0.0.1:0")});
    while (!server.canReadLine() && server.waitForReadyRead(5000)) {
    }
    const QByteArray listening = server.readLine().simplified();
    const quint16 port = quint16(listening.mid(listening.lastIndexOf(':') + 1).toUInt());

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!client.waitForConnected(5000)) {
        std::fprintf(stderr, "scpi_bench: no server (%s)\n", listening.constData());
        return 1;
    }
    QByteArray answer;
    RoundTrips(client, "MEAS:VOLT?", 5, &answer);  // warm-up

    const double cpuStart = CpuMs(server.processId());
    const Times measure = RoundTrips(client, "MEAS:VOLT?", count, &answer);
    const double cpuPerQuery = (CpuMs(server.processId()) - cpuStart) / count;
    const QByteArray measured = answer;
    const Times identity = RoundTrips(client, "*IDN?", count, &answer);
    const Times compound = RoundTrips(client, "OUTP:MODE?;:MEAS:VOLT?;CURR?", count / 4, &answer);
    const QByteArray compoundAnswer = answer;

    const double idleStart = CpuMs(server.processId());
    QThread::sleep(ulong(idleSeconds));
    const double idleMs = CpuMs(server.processId()) - idleStart;

    std::printf("MEASure:VOLTage? round trip, %d queries (last answer %s):\n", count,
                measured.constData());
    std::printf("  median %.2f ms, mean %.2f ms, slowest %.2f ms\n", measure.median, measure.mean,
                measure.worst);
    std::printf("  status transaction line time %.2f ms (median %+.2f ms from it, target at most "
                "+5 ms); paced reply alone %.2f ms (median %+.2f ms, slowest %+.2f ms from it)\n",
                StatusLineMs, measure.median - StatusLineMs, StatusReplyMs,
                measure.median - StatusReplyMs, measure.worst - StatusReplyMs);
    std::printf("*IDN? round trip (no supply): median %.3f ms, slowest %.3f ms\n", identity.median,
                identity.worst);
    std::printf("OUTP:MODE?;:MEAS:VOLT?;CURR? round trip, %d queries (last answer %s): median "
                "%.2f ms, slowest %.2f ms\n",
                count / 4, compoundAnswer.constData(), compound.median, compound.worst);
    std::printf("server processor time per MEASure:VOLTage?: %.2f ms\n", cpuPerQuery);
    std::printf("server processor time idle with a client connected: %.0f ms in %d s (%.3f%% of a "
                "core)\n",
                idleMs, idleSeconds, idleMs / (idleSeconds * 10.0));

    // Its slot must be free before four more connect: the server lets it go
    // once it has seen the close, which a connect right after can overtake.
    client.close();
    QThread::msleep(300);
    const std::vector<int> shares = Fairness(port, fairSeconds);
    if (shares.size() == 4)
        std::printf("MEAS:VOLT? answers in %d s: one client with 8 in flight %d; three lock-step "
                    "clients %d, %d, %d\n",
                    fairSeconds, shares[0], shares[1], shares[2], shares[3]);

    server.terminate();
    server.waitForFinished(5000);
    supply.terminate();
    supply.waitForFinished(5000);
    return 0;
}
