// Measures what follows the end of a silence of the supply:
// - on the device link, against the virtual supply in this process at the
//   pace of a 9600-baud line, made silent (it loses what it is asked) for
//   0.8 s or 3 s while measurements are read back to back: how many calls
//   after the end fail before one answers its value, and the time from the
//   end to that value; and, in every other round, whether a set-point write
//   made once, 0 to 900 ms after the end, reaches the supply;
// - through serve-scpi, against the virtual-supply program stopped (kill
//   -STOP, its requests held and answered on -CONT) for 0.8 s or 3 s while
//   a client asks MEAS:VOLT? in lock-step: the time from -CONT to the first
//   answer with a value, the 9.91E+37 answers after -CONT, and whether
//   "VOLT v;CURR 1" sent 0 to 900 ms after -CONT is what the supply holds.
//   silence_bench [ROUNDS]

#include "commandset.h"
#include "devicelink.h"
#include "virtualsupply.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Longest(const std::vector<double> &values)
{
    return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

void Pump(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void OnLink(int rounds)
{
    VirtualSupply::Options options;
    options.pace9600 = true;
    VirtualSupply supply(options);
    QString error;
    if (!supply.open(&error)) {
        std::fprintf(stderr, "silence_bench: %s\n", qPrintable(error));
        return;
    }
    QSerialPort port(supply.portPath());
    port.open(QIODevice::ReadWrite);
    DeviceLink link;
    link.SetPort(&port);
    link.SetTraceStream(nullptr);

    std::vector<double> toValueMs;
    std::vector<int> failedCalls;
    int writes = 0;
    int writesReached = 0;
    for (int round = 0; round < rounds; ++round) {
        MeasurementRecord m;
        for (int k = 0; k < 10; ++k)
            link.GetMeasurements(0, m);
        VirtualSupply::Options silent = options;
        silent.silent = true;
        supply.setOptions(silent);
        const int silenceMs = round % 4 < 2 ? 800 : 3000;
        QElapsedTimer silence;
        silence.start();
        while (silence.elapsed() < silenceMs)
            link.GetMeasurements(0, m);
        // The silence ends between two calls, so that the next is the first
        // one begun after it.
        supply.setOptions(options);
        const qint64 endMs = silence.elapsed();
        if (round % 2 == 0) {
            int failed = 0;
            while (link.GetMeasurements(0, m) != LinkResult::GoodReply && failed < 50)
                ++failed;
            toValueMs.push_back(double(silence.elapsed() - endMs));
            failedCalls.push_back(failed);
        } else {
            const qint64 offsetMs = (round / 2 % 10) * 100;
            while (silence.elapsed() < endMs + offsetMs)
                link.GetMeasurements(0, m);
            const int millivolts = 1000 + 10 * round;
            link.SetSetpoints(0, millivolts, 500);
            Pump(300);
            ++writes;
            writesReached += supply.model().setpoints().VoltageSet == millivolts ? 1 : 0;
        }
    }
    int calls = 0;
    for (int failed : failedCalls)
        calls = std::max(calls, failed + 1);
    std::printf("link, supply silent (requests lost) 0.8 s or 3 s, %d rounds: the first call begun "
                "after the end answers its value in %d of %d rounds (at most %d calls); %.0f ms "
                "(median) / %.0f ms (longest) from the end to the value; set-point writes made "
                "once 0 to 900 ms after the end: %d of %d reached the supply\n",
                rounds, int(std::count(failedCalls.begin(), failedCalls.end(), 0)),
                int(failedCalls.size()), calls, Median(toValueMs), Longest(toValueMs),
                writesReached, writes);
}

QByteArray Ask(QTcpSocket &socket, const QByteArray &message)
{
    socket.write(message + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(10000))
            return {};
    }
    return socket.readLine().trimmed();
}

void ThroughScpi(int rounds)
{
    QProcess supply;
    supply.start(QStringLiteral(VIRTUAL_SUPPLY_PATH), {"--pace"});
    if (!supply.waitForReadyRead(5000))
        return;
    const QString path = QString::fromLocal8Bit(supply.readLine()).trimmed();
    QProcess server;
    server.start(QStringLiteral(VELKAROCTL_PATH), {"--port", path, "serve-scpi", "--listen", "127.0.0.1:0"});
    while (!server.canReadLine() && server.waitForReadyRead(5000)) {
    }
    const QByteArray listening = server.readLine().simplified();
    const quint16 tcpPort = quint16(listening.mid(listening.lastIndexOf(':') + 1).toUInt());
    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), tcpPort);
    if (tcpPort == 0 || !client.waitForConnected(5000)) {
        std::fprintf(stderr, "silence_bench: no server\n");
        return;
    }
    const QByteArray notANumber = "9.91E+37";
    std::vector<double> toValueMs;
    std::vector<int> missed;
    int writes = 0;
    int writesReached = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 5; ++k)
            Ask(client, "MEAS:VOLT?");
        const int stopMs = round % 4 < 2 ? 800 : 3000;
        ::kill(pid_t(supply.processId()), SIGSTOP);
        QElapsedTimer stopped;
        stopped.start();
        while (stopped.elapsed() < stopMs)
            Ask(client, "MEAS:VOLT?");
        ::kill(pid_t(supply.processId()), SIGCONT);
        QElapsedTimer since;
        since.start();
        if (round % 2 == 0) {
            int failed = 0;
            while (Ask(client, "MEAS:VOLT?") == notANumber && failed < 100)
                ++failed;
            toValueMs.push_back(double(since.elapsed()));
            missed.push_back(failed);
        } else {
            const qint64 offsetMs = (round / 2 % 10) * 100;
            while (since.elapsed() < offsetMs)
                Ask(client, "MEAS:VOLT?");
            const QByteArray volts = QByteArray::number(2.0 + 0.01 * round, 'f', 2);
            Ask(client, "VOLT " + volts + ";CURR 1;*OPC?");
            // Whatever the answers meanwhile, what the supply holds once the
            // line has settled.
            QByteArray held;
            for (int k = 0; k < 20 && (held.isEmpty() || held == notANumber); ++k)
                held = Ask(client, "VOLT?");
            ++writes;
            writesReached += held.toDouble() == volts.toDouble() ? 1 : 0;
        }
    }
    std::printf("serve-scpi, supply stopped (kill -STOP, requests held) 0.8 s or 3 s, %d rounds: "
                "from -CONT to the first MEAS:VOLT? with a value %.0f ms (median) / %.0f ms "
                "(longest), after %.0f (median) / %.0f (most) answers of 9.91E+37; VOLT;CURR "
                "sent 0 to 900 ms after -CONT: %d of %d hold on the supply\n",
                rounds, Median(toValueMs), Longest(toValueMs),
                Median(std::vector<double>(missed.begin(), missed.end())),
                Longest(std::vector<double>(missed.begin(), missed.end())), writesReached, writes);
    for (QProcess *process : {&server, &supply}) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(5000);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(2, app.arguments().value(1, QStringLiteral("20")).toInt());
    OnLink(rounds);
    ThroughScpi(rounds);
    return 0;
}
