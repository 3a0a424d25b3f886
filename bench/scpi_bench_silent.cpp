// Measures serve-scpi against a virtual-supply program that never answers
// (--silent), each a separate process: the time of a three-query message
// whose queries need three different records of the supply, the first one
// after the supply fell silent and the next ones, and how long another
// client's *IDN? sent 50 ms after it waits; then the same with all four
// clients asking the supply at once. Then, against --pace, how many of 200
// clients connecting at once past the four slots read the busy line before
// their close.
//   scpi_bench_silent [ROUNDS] [VELKAROCTL]
// VELKAROCTL: another build of the program to measure (default: this one).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QByteArray ThreeQueries = "MEAS:VOLT?;:VOLT?;:MEAS:TEMP?\n";
const QByteArray BusyLine = "busy: all 4 SCPI connections are in use, try again later\n";

struct Programs {
    QString velkaroctl;
    QProcess supply;
    QProcess server;
    quint16 port = 0;

    bool Start(const QString &supplyOption)
    {
        supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), {supplyOption});
        if (!supply.waitForReadyRead(5000))
            return false;
        const QString path = QString::fromLocal8Bit(supply.readLine()).trimmed();
        server.start(velkaroctl, {QStringLiteral("--port"), path, QStringLiteral("serve-scpi"),
                                  QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        while (!server.canReadLine() && server.waitForReadyRead(5000)) {
        }
        const QByteArray listening = server.readLine().simplified();
        port = quint16(listening.mid(listening.lastIndexOf(':') + 1).toUInt());
        return port != 0;
    }

    void Stop()
    {
        for (QProcess *process : {&server, &supply}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(5000);
        }
    }
};

std::unique_ptr<QTcpSocket> Connect(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    socket->waitForConnected(5000);
    return socket;
}

// Milliseconds from now until the socket has a whole line (-1: none in 10 s).
double LineAfter(QTcpSocket &socket, const QElapsedTimer &since)
{
    while (!socket.canReadLine()) {
        if (since.elapsed() > 10000 || !socket.waitForReadyRead(10000))
            return -1;
    }
    socket.readLine();
    return since.nsecsElapsed() / 1e6;
}

struct SilentRound {
    double firstMessage = 0;
    double nextMessage = 0;
    double otherWait = 0;
};

// A fresh server on a silent supply: the first three-query message, another
// client's *IDN? 50 ms into it, then a second three-query message.
SilentRound OneClientRound(Programs &programs)
{
    SilentRound round;
    auto asking = Connect(programs.port);
    auto other = Connect(programs.port);
    QElapsedTimer message;
    message.start();
    asking->write(ThreeQueries);
    asking->flush();
    QThread::msleep(50);
    QElapsedTimer waited;
    waited.start();
    other->write("*IDN?\n");
    other->flush();
    round.otherWait = LineAfter(*other, waited);
    round.firstMessage = LineAfter(*asking, message);
    message.start();
    asking->write(ThreeQueries);
    asking->flush();
    round.nextMessage = LineAfter(*asking, message);
    return round;
}

// Four clients: one sends the three-query message, the three others a
// MEAS:CURR? 50 ms later; the slowest of the others' waits. Every socket is
// watched at once, to the millisecond, so that each answer is timed when it
// comes.
SilentRound FourClientRound(Programs &programs)
{
    SilentRound round;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(Connect(programs.port));
    QElapsedTimer message;
    message.start();
    clients[0]->write(ThreeQueries);
    clients[0]->flush();
    QThread::msleep(50);
    const double othersSent = message.nsecsElapsed() / 1e6;
    for (int i = 1; i < 4; ++i) {
        clients[size_t(i)]->write("MEAS:CURR?\n");
        clients[size_t(i)]->flush();
    }
    std::vector<double> answered(4, -1);
    while (message.elapsed() < 20000
           && std::count(answered.begin(), answered.end(), -1.0) > 0) {
        for (int i = 0; i < 4; ++i) {
            QTcpSocket &socket = *clients[size_t(i)];
            if (answered[size_t(i)] < 0 && (socket.canReadLine() || socket.waitForReadyRead(1))
                && socket.canReadLine())
                answered[size_t(i)] = message.nsecsElapsed() / 1e6;
        }
    }
    round.firstMessage = answered[0];
    for (int i = 1; i < 4; ++i)
        round.otherWait = std::max(round.otherWait, answered[size_t(i)] - othersSent);
    return round;
}

// Four clients hold the slots; Refused more connect at once, each writing
// *IDN? as soon as it is connected. How many read the busy line.
int BusyLinesRead(quint16 port, int refused)
{
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 4; ++i)
        held.push_back(Connect(port));
    held.back()->write("*OPC?\n");
    held.back()->waitForReadyRead(5000);
    std::vector<std::unique_ptr<QTcpSocket>> late;
    std::vector<QByteArray> got(static_cast<size_t>(refused));
    int closed = 0;
    QEventLoop loop;
    for (int i = 0; i < refused; ++i) {
        late.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket *socket = late.back().get();
        QObject::connect(socket, &QTcpSocket::connected, [socket] { socket->write("*IDN?\n"); });
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [socket, &got, i] { got[size_t(i)] += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, [&] {
            if (++closed == refused)
                loop.quit();
        });
        QObject::connect(socket, &QTcpSocket::errorOccurred, [&, socket](QAbstractSocket::SocketError) {
            if (socket->state() == QAbstractSocket::UnconnectedState && ++closed == refused)
                loop.quit();
        });
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return int(std::count(got.begin(), got.end(), BusyLine));
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(1, app.arguments().value(1, QStringLiteral("5")).toInt());
    const QString velkaroctl = app.arguments().value(2, QStringLiteral(VELKAROCTL_PATH));

    SilentRound worstOne;
    SilentRound worstFour;
    for (int i = 0; i < rounds; ++i) {
        Programs programs;
        programs.velkaroctl = velkaroctl;
        if (!programs.Start(QStringLiteral("--silent"))) {
            std::fprintf(stderr, "scpi_bench_silent: no server\n");
            return 1;
        }
        const SilentRound one = OneClientRound(programs);
        programs.Stop();
        Programs four;
        four.velkaroctl = velkaroctl;
        if (!four.Start(QStringLiteral("--silent")))
            return 1;
        const SilentRound all = FourClientRound(four);
        four.Stop();
        std::printf("round %d: first message %.0f ms, next %.0f ms, other client's *IDN? %.0f ms; "
                    "four clients: message %.0f ms, slowest other %.0f ms\n",
                    i + 1, one.firstMessage, one.nextMessage, one.otherWait, all.firstMessage,
                    all.otherWait);
        worstOne.firstMessage = std::max(worstOne.firstMessage, one.firstMessage);
        worstOne.nextMessage = std::max(worstOne.nextMessage, one.nextMessage);
        worstOne.otherWait = std::max(worstOne.otherWait, one.otherWait);
        worstFour.firstMessage = std::max(worstFour.firstMessage, all.firstMessage);
        worstFour.otherWait = std::max(worstFour.otherWait, all.otherWait);
    }
    std::printf("silent supply, %d rounds, worst: three-query message %.0f ms (the next one %.0f ms); "
                "another client's *IDN? meanwhile %.0f ms; with four clients the message %.0f ms, "
                "the slowest other client's MEAS:CURR? %.0f ms\n",
                rounds, worstOne.firstMessage, worstOne.nextMessage, worstOne.otherWait,
                worstFour.firstMessage, worstFour.otherWait);

    Programs paced;
    paced.velkaroctl = velkaroctl;
    if (!paced.Start(QStringLiteral("--pace")))
        return 1;
    constexpr int Refused = 200;
    std::printf("paced supply: %d clients past the four slots at once, %d read the busy line\n",
                Refused, BusyLinesRead(paced.port, Refused));
    paced.Stop();
    return 0;
}
