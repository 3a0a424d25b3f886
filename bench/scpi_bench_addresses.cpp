// Measures serve-scpi serving several addresses of one line, against a
// virtual-supply program that serves addresses 1 to 3 at the pace of a
// 9600-baud line with address 3 silent (each a separate process): how long
// a query to addresses 1 and 2 waits when it comes 50 ms into a three-query
// message to the silent address, and that message's time; then how many
// MEASure:VOLTage? answers two clients asking addresses 1 and 2 in lock-step
// at once get in SECONDS, against one client asking alone, and with a third
// client polling the silent address all along.
//   scpi_bench_addresses [ROUNDS] [SECONDS] [VELKAROCTL]
// VELKAROCTL: another build's program to measure (the one built beside this
// by default), for a figure before and after a change.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<QTcpSocket> Connect(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    socket->waitForConnected(5000);
    return socket;
}

// Waits for a whole line on every socket, watching them all at once; the
// milliseconds since `since` at which each came (-1: none in 10 s).
std::vector<double> LinesAfter(const std::vector<QTcpSocket *> &sockets, const QElapsedTimer &since)
{
    std::vector<double> at(sockets.size(), -1);
    while (since.elapsed() < 10000 && std::count(at.begin(), at.end(), -1.0) > 0) {
        for (size_t i = 0; i < sockets.size(); ++i) {
            QTcpSocket &socket = *sockets[i];
            if (at[i] < 0 && (socket.canReadLine() || socket.waitForReadyRead(1)) && socket.canReadLine()) {
                socket.readLine();
                at[i] = since.nsecsElapsed() / 1e6;
            }
        }
    }
    return at;
}

// Lock-step MEAS:VOLT? from each client for the time given; answers each.
std::vector<int> LockStep(const std::vector<QTcpSocket *> &clients, int seconds)
{
    std::vector<int> answers(clients.size(), 0);
    for (QTcpSocket *client : clients)
        client->write("MEAS:VOLT?\n");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        for (size_t i = 0; i < clients.size(); ++i) {
            QTcpSocket &socket = *clients[i];
            if ((socket.canReadLine() || socket.waitForReadyRead(1)) && socket.canReadLine()) {
                socket.readLine();
                ++answers[i];
                socket.write("MEAS:VOLT?\n");
            }
        }
    }
    for (QTcpSocket *client : clients) {
        while (!client->canReadLine() && client->waitForReadyRead(2000)) {
        }
        client->readAll();
    }
    return answers;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(1, app.arguments().value(1, QStringLiteral("10")).toInt());
    const int seconds = std::max(1, app.arguments().value(2, QStringLiteral("10")).toInt());
    const QString velkaroctl = app.arguments().value(3, QStringLiteral(VELKAROCTL_PATH));

    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH),
                 {"--pace", "--address", "1,2,3", "--silent-address", "3"});
    if (!supply.waitForReadyRead(5000))
        return 1;
    const QString path = QString::fromLocal8Bit(supply.readLine()).trimmed();
    QProcess server;
    server.start(velkaroctl, {"--port", path, "--address", "1,2,3", "serve-scpi",
                              "--listen", "127.0.0.1:0"});
    std::vector<quint16> ports;
    while (ports.size() < 3 && (server.canReadLine() || server.waitForReadyRead(5000))) {
        if (!server.canReadLine())
            continue;
        const QByteArray listening = server.readLine().simplified().split(' ').value(1);
        ports.push_back(quint16(listening.mid(listening.lastIndexOf(':') + 1).toUInt()));
    }
    if (ports.size() < 3) {
        std::fprintf(stderr, "scpi_bench_addresses: no server\n");
        return 1;
    }
    auto first = Connect(ports[0]);
    auto second = Connect(ports[1]);
    auto silent = Connect(ports[2]);

    std::vector<double> waits;
    std::vector<double> messages;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer message;
        message.start();
        silent->write("MEAS:VOLT?;:VOLT?;:MEAS:TEMP?\n");
        silent->flush();
        QThread::msleep(50);
        QElapsedTimer waited;
        waited.start();
        first->write("MEAS:VOLT?\n");
        second->write("MEAS:VOLT?\n");
        first->flush();
        second->flush();
        const std::vector<double> others = LinesAfter({first.get(), second.get()}, waited);
        waits.push_back(*std::max_element(others.begin(), others.end()));
        messages.push_back(LinesAfter({silent.get()}, message).front());
    }
    std::printf("address 3 silent, %d rounds: the slower of addresses 1 and 2, asked 50 ms into its "
                "three-query message, answered after %.0f ms (median) / %.0f ms (longest); the "
                "message took %.0f ms the first time, %.0f ms (median) after\n",
                rounds, [&] { auto w = waits; std::sort(w.begin(), w.end()); return w[w.size() / 2]; }(),
                *std::max_element(waits.begin(), waits.end()), messages.front(),
                [&] { auto m = messages; std::sort(m.begin(), m.end()); return m[m.size() / 2]; }());

    const std::vector<int> both = LockStep({first.get(), second.get()}, seconds);
    const std::vector<int> alone = LockStep({first.get()}, seconds);
    std::printf("lock-step MEAS:VOLT? for %d s: addresses 1 and 2 at once %d and %d answers "
                "(%.1f/s together); address 1 alone %d (%.1f/s)\n",
                seconds, both[0], both[1], double(both[0] + both[1]) / seconds, alone[0],
                double(alone[0]) / seconds);
    // The same two with a third client polling the silent address the
    // whole time: what it costs them.
    const std::vector<int> three = LockStep({first.get(), second.get(), silent.get()}, seconds);
    std::printf("with a third client polling silent address 3 all along: addresses 1 and 2 %.1f/s "
                "and %.1f/s, %.0f%% and %.0f%% of their rate without it (%.1f/s and %.1f/s); "
                "address 3 answered %d times\n",
                double(three[0]) / seconds, double(three[1]) / seconds, 100.0 * three[0] / std::max(1, both[0]),
                100.0 * three[1] / std::max(1, both[1]), double(both[0]) / seconds,
                double(both[1]) / seconds, three[2]);

    for (QProcess *process : {&server, &supply}) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(5000);
    }
    return 0;
}
