// velkaroctl serve-scpi as a separate process, on a virtual supply in this
// process (it answers while the test waits), under failing replies, bad input
// and a lost line.

#include "commandset.h"
#include "devicelink.h"
#include "testmain.h"
#include "virtualsupply.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>

#include <memory>

namespace {

const QByteArray NoError = "0,\"No error\"";

QByteArray nextLine(QTcpSocket &socket, int timeoutMs = 5000)
{
    if (!QTest::qWaitFor([&] { return socket.canReadLine(); }, timeoutMs))
        return "(no answer)";
    return socket.readLine().trimmed();
}

QByteArray ask(QTcpSocket &socket, const QByteArray &message)
{
    socket.write(message + '\n');
    return nextLine(socket);
}

// What the supply received: command code and payload of each request in
// hexadecimal, writes only or every request.
QList<QByteArray> requests(const VirtualSupply &supply, bool writesOnly)
{
    QList<QByteArray> seen;
    for (const QByteArray &line : supply.receivedLines()) {
        QByteArray bytes;
        DeviceLink::DecodeLine(line, bytes);
        if (bytes.size() > 3 && (!writesOnly || quint8(bytes.at(3)) == CommandSet::AccessWrite))
            seen.append(bytes.mid(2, bytes.size() - 4).toHex());
    }
    return seen;
}

// A process's resident memory in kB, at present or at its peak.
qint64 memoryKb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

}  // namespace

class ScpiServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(supply.open(&error), qPrintable(error));
        startServer({});
    }

    void cleanupTestCase()
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished();
        }
    }

    void failedStepsAnswerNotANumberAndQueueTheirCause()
    {
        auto client = connectClient();
        VirtualSupply::Options options;
        options.silent = true;
        supply.setOptions(options);
        QCOMPARE(ask(*client, "MEAS:VOLT?;*OPC?"), QByteArray("9.91E+37;1"));
        client->write("OUTP ON\n");
        QCOMPARE(ask(*client, "SYST:ERR?;ERR?;ERR?"),
                 "-241,\"Hardware missing\";-241,\"Hardware missing\";" + NoError);
        // The requests made during the silence are never answered: the
        // server's link finds the supply again within a few seconds.
        supply.setOptions({});
        // A reading taken once a reply may no longer be on its way for any
        // of them leaves the link with nothing unanswered.
        const auto foundAgain = [&] {
            if (!QTest::qWaitFor([&] { return ask(*client, "MEAS:VOLT?") != "9.91E+37"; }, 5000))
                return false;
            QTest::qWait(int(DeviceLink::OvertakeMs) + 50);
            return ask(*client, "MEAS:VOLT?") != "9.91E+37" && ask(*client, "*CLS;*OPC?") == "1";
        };
        QVERIFY(foundAgain());
        options.silent = false;
        options.corrupt = 1.0;
        supply.setOptions(options);
        QCOMPARE(ask(*client, "MEAS:CURR?"), QByteArray("9.91E+37"));
        QCOMPARE(ask(*client, "SYST:ERR?;ERR?"), "-240,\"Hardware error\";" + NoError);
        supply.setOptions({});
        QVERIFY(foundAgain());
        QCOMPARE(supply.model().outputOn(), false);
    }

    void badInputLeavesServerAndSupplyAsTold()
    {
        const qint64 pid = server.processId();
        [[maybe_unused]] const qint64 before = memoryKb(pid, "VmRSS:");
        const int currentMa = supply.model().currentSetMa();
        supply.clearReceived();

        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 6; ++i)
            clients.push_back(connectClient());
        // Only four at once: the two late ones are told so and closed.
        QCOMPARE(nextLine(*clients[4]), QByteArray("busy: all 4 SCPI connections are in use, try again later"));
        QVERIFY(QTest::qWaitFor([&] {
            return clients[4]->state() == QAbstractSocket::UnconnectedState
                   && clients[5]->state() == QAbstractSocket::UnconnectedState;
        }, 5000));
        QTcpSocket &garbage = *clients[0], &overlong = *clients[1], &tiny = *clients[2],
                   &mute = *clients[3];

        // Binary garbage, without question marks so that it asks nothing.
        QByteArray noise(64 * 1024, 0);
        QRandomGenerator random(7);
        for (char &c : noise)
            c = char(random.bounded(256));
        noise.replace('?', '!');
        garbage.write(noise);
        QCOMPARE(ask(garbage, "\n*OPC?"), QByteArray("1"));

        // A line may hold 4096 bytes; a longer one is dropped with -363 and
        // the connection stays.
        QCOMPARE(ask(overlong, "*CLS;*OPC?"), QByteArray("1"));
        overlong.write("VOLT 9" + QByteArray(5000, ' ') + '\n');
        overlong.write("*OPC?" + QByteArray(4097 - 5, ' ') + '\n');
        QCOMPARE(ask(overlong, "*OPC?" + QByteArray(4096 - 5, ' ')), QByteArray("1"));
        // The limit counts the line without its end, whichever end it has.
        QCOMPARE(ask(overlong, "*OPC?" + QByteArray(4096 - 5, ' ') + '\r'), QByteArray("1"));
        overlong.write("*OPC?" + QByteArray(4097 - 5, ' ') + "\r\n");
        QCOMPARE(ask(overlong, "SYST:ERR?;ERR?;ERR?;ERR?"),
                 "-363,\"Input buffer overrun\";-363,\"Input buffer overrun\";"
                 "-363,\"Input buffer overrun\";" + NoError);

        // A client that sends 12 MB of queries and reads nothing, while
        // another sends thousands of tiny messages and reads every answer.
        mute.write(QByteArray("*IDN?\n").repeated(2000000));
        tiny.write(QByteArray("\n").repeated(3000) + QByteArray("*OPC?\n").repeated(5000));
        int answered = 0;
        while (answered < 5000 && nextLine(tiny) == "1")
            ++answered;
        QCOMPARE(answered, 5000);

        // Gone mid-message, closing or aborting: nothing of the cut message
        // is carried out; the whole one before it is, and asks the supply.
        auto aborting = connectClient();
        aborting->write("OUTP ON;VOLT 8.5");
        QTest::qWait(100);
        aborting->abort();
        mute.abort();
        QCOMPARE(ask(overlong, "VOLT 7.25;*OPC?"), QByteArray("1"));
        auto closing = connectClient();
        closing->write("MEAS:VOLT?\nOUTP ON;VOLT 8.5");
        closing->disconnectFromHost();
        const auto lastCommand = [&] {
            const QList<QByteArray> lines = supply.receivedLines();
            QByteArray bytes;
            if (!lines.isEmpty())
                DeviceLink::DecodeLine(lines.last(), bytes);
            return bytes.size() > 2 ? quint8(bytes.at(2)) : 0;
        };
        // Its MEAS:VOLT? reads the status after the write's read-back.
        QVERIFY(QTest::qWaitFor([&] { return lastCommand() == CommandSet::Status; }, 5000));
        QCOMPARE(ask(overlong, "*OPC?"), QByteArray("1"));

        QCOMPARE(server.state(), QProcess::Running);
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer keeps freed memory in quarantine
        const qint64 grown = memoryKb(pid, "VmHWM:") - before;
        QVERIFY2(before > 0 && grown < 4096, qPrintable(QStringLiteral("grew by %1 kB").arg(grown)));
#endif

        // The supply was told one thing, once: 7.25 V with the limit kept.
        const QList<QByteArray> writes = requests(supply, true);
        const QByteArray current = QByteArray::number(currentMa & 0xFF, 16).rightJustified(2, '0')
                                   + QByteArray::number(currentMa >> 8, 16).rightJustified(2, '0');
        QCOMPARE(writes, QList<QByteArray>{"0311521c" + current});
        QCOMPARE(supply.model().voltageSetMv(), 7250);
        QCOMPARE(supply.model().outputOn(), false);
    }

    void resetIsCarriedOutAndConfirmed()
    {
        auto client = connectClient();
        QCOMPARE(ask(*client, "APPL 12,1.5;:OUTP ON;*OPC?"), QByteArray("1"));
        QCOMPARE(supply.model().outputOn(), true);
        supply.clearReceived();
        // As scripts start: the *CLS must not hide a failed reset.
        QCOMPARE(ask(*client, "*RST;*CLS;SYST:ERR:COUN?"), QByteArray("0"));
        // Output off first, then 10 mV and 5 mA: 0x000A and 0x0005.
        QCOMPARE(requests(supply, true), (QList<QByteArray>{"07110000", "03110a000500"}));
        QCOMPARE(supply.model().outputOn(), false);
        QCOMPARE(supply.model().voltageSetMv(), 10);
        QCOMPARE(supply.model().currentSetMa(), 5);
        QCOMPARE(ask(*client, "OUTP?;:APPL?"), QByteArray("0;\"0.010,0.005\""));

        VirtualSupply::Options options;
        options.silent = true;
        supply.setOptions(options);
        const QByteArray failed = ask(*client, "*RST;SYST:ERR:ALL?");
        supply.setOptions({});
        QCOMPARE(failed, QByteArray("-241,\"Hardware missing\",-241,\"Hardware missing\""));
    }

    void statusRegistersFollowTheEvents()
    {
        auto client = connectClient();
        client->write("*CLS;*ESE 0;*SRE 0\n");
        QCOMPARE(ask(*client, "*STB?;*ESR?"), QByteArray("0;0"));
        // A command error (bit 5) and an execution error (bit 4); reading
        // clears the register, not the queue.
        client->write("NOSUCH;:VOLT 99\n");
        QCOMPARE(ask(*client, "*ESR?;*ESR?;SYST:ERR:COUN?"), QByteArray("48;0;2"));
        // The queue's bit 2; the summary of enabled events in bit 5; the
        // service request summary in bit 6.
        QCOMPARE(ask(*client, "*STB?"), QByteArray("4"));
        client->write("*ESE 36;*SRE 32;VOLT::X 1\n");
        QCOMPARE(ask(*client, "*STB?;*ESE?;*SRE?"), QByteArray("100;36;32"));
        // Bit 4: this message's earlier answer waits to be read.
        QCOMPARE(ask(*client, "*CLS;*STB?;*ESR?;*STB?;SYST:ERR:ALL?"), "0;0;16;" + NoError);
        QCOMPARE(ask(*client, "*OPC;*WAI;*ESR?;*TST?;*OPT?"), QByteArray("1;0;0"));
        client->write("*ESE 256;*SRE X\n");
        QCOMPARE(ask(*client, "SYST:ERR:ALL?;COUN?;*ESE?"),
                 "-222,\"Data out of range\",-224,\"Illegal parameter value\";0;36");
        client->write("SYST:REM;RWL;LOC;*ESE 0\n");
        QCOMPARE(ask(*client, "SYST:ERR:COUN?"), QByteArray("0"));
    }

    void applyAndMeasureAllUseOneSupplyStepEach()
    {
        auto client = connectClient();
        QCOMPARE(ask(*client, "*CLS;OUTP OFF;*OPC?"), QByteArray("1"));
        supply.clearReceived();
        // 12 V over 10 ohms under a 2 A limit: 1.2 A. One write with both
        // values (0x2EE0, 0x07D0), one read back.
        QCOMPARE(ask(*client, "APPLy 12 V,2000 mA;:OUTP1 ON;*OPC?"), QByteArray("1"));
        QCOMPARE(requests(supply, false).mid(0, 2), (QList<QByteArray>{"0311e02ed007", "0301"}));
        supply.clearReceived();
        QCOMPARE(ask(*client, "OUTP:MODE?;:MEAS1:VOLT?;CURR?;ALL?;:SOUR1:VOLT?;:APPL?"),
                 QByteArray("CV;12.000;1.2000;12.000,1.2000,14.4000;12.000;\"12.000,2.000\""));
        QCOMPARE(requests(supply, false), (QList<QByteArray>{"0101", "0301"}));
        // Both values are checked before anything is sent.
        supply.clearReceived();
        client->write("APPL 12,10;:APPL 31;:APPL\n");
        QCOMPARE(ask(*client, "SYST:ERR:ALL?"),
                 "-222,\"Data out of range\",-222,\"Data out of range\",-109,\"Missing parameter\"");
        QCOMPARE(ask(*client, "APPL DEF,MIN;:OUTP OFF;:APPL?"), QByteArray("\"0.010,0.005\""));
        QCOMPARE(requests(supply, true).first(), QByteArray("03110a000500"));
    }

    void onlyUnderstoodQueriesRespond()
    {
        auto client = connectClient();
        // Each would have left a stray line for the next query to read.
        client->write("VOLT 5?\nDISP:TEXT \"Ready?\"\nNOSUCH?\nVOLT? 5\nVOLT?:LEV\nVOLT? 1,2\n");
        QCOMPARE(ask(*client, "*IDN?").left(15), QByteArray("norvel,TK4810M,"));
        QCOMPARE(ask(*client, "SYST:ERR:ALL?"),
                 QByteArray("-102,\"Syntax error\",-113,\"Undefined header\",-113,\"Undefined header\","
                            "-224,\"Illegal parameter value\",-102,\"Syntax error\","
                            "-108,\"Parameter not allowed\""));
        // A query that is understood still answers in a message with errors.
        QCOMPARE(ask(*client, "*CLS;NOSUCH?;*OPC?"), QByteArray("1"));
        client->write("*CLS\n");
    }

    void halfClosedClientGetsEveryAnswer()
    {
        // nc -N shuts down its sending side after its input and reads on.
        QProcess nc;
        nc.start(QStringLiteral("nc"), {"-N", "127.0.0.1", QString::number(port)});
        QVERIFY(nc.waitForStarted());
        // More than a client may have waiting at once, and a cut-off line at
        // the end, which is not carried out.
        nc.write("MEAS:VOLT?\n*IDN?\nOUTP?\n" + QByteArray("*OPC?\n").repeated(12) + "*IDN?");
        nc.closeWriteChannel();
        // Waits with the event loop running: the supply answers in this process.
        QTRY_COMPARE_WITH_TIMEOUT(nc.state(), QProcess::NotRunning, 5000);
        const QList<QByteArray> lines = nc.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 16);
        QCOMPARE(lines.at(0), QByteArray("0.000"));
        QVERIFY(lines.at(1).startsWith("norvel,TK4810M,"));
        QCOMPARE(lines.at(2), QByteArray("0"));
        for (int i = 3; i < 15; ++i)
            QCOMPARE(lines.at(i), QByteArray("1"));
        QCOMPARE(lines.last(), QByteArray());
    }

    void clientsTakeTurns()
    {
        VirtualSupply::Options paced;
        paced.pace9600 = true;
        supply.setOptions(paced);
        auto greedy = connectClient();
        auto polite = connectClient();
        greedy->write(QByteArray("MEAS:VOLT?\n").repeated(8));
        QTest::qWait(10);
        polite->write("MEAS:CURR?\n");
        // The polite client's one query goes right after the message being
        // carried out when it came, not after the greedy client's eight.
        QVERIFY(QTest::qWaitFor([&] { return polite->canReadLine(); }, 5000));
        int before = 0;
        while (greedy->canReadLine() && greedy->readLine().size() > 0)
            ++before;
        QVERIFY2(before <= 2, qPrintable(QString::number(before)));
        QTRY_VERIFY_WITH_TIMEOUT(greedy->bytesAvailable() >= 6 * 6, 5000);
        supply.setOptions({});
    }

    void idleClientsAreClosed()
    {
        server.terminate();
        QVERIFY(server.waitForFinished(5000));
        startServer({"--idle-timeout", "1"});
        auto silent = connectClient();
        auto talking = connectClient();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1800)
            QCOMPARE(ask(*talking, "*OPC?"), QByteArray("1"));
        QCOMPARE(silent->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(talking->state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(talking->state(), QAbstractSocket::UnconnectedState, 3000);
    }

    void lostSerialPortStopsTheServer()
    {
        supply.closeMaster();
        QVERIFY(QTest::qWaitFor([&] { return server.state() == QProcess::NotRunning; }, 5000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 1);
        QVERIFY(server.readAllStandardError().contains("lost the serial port"));
    }

private:
    void startServer(const QStringList &options)
    {
        server.start(QStringLiteral(VELKAROCTL_EXE),
                     QStringList{"--port", supply.portPath(), "serve-scpi", "--listen", "127.0.0.1:0"}
                         + options);
        QVERIFY(QTest::qWaitFor([&] { return server.canReadLine(); }, 5000));
        const QByteArray first = server.readLine().simplified();
        QVERIFY2(first.startsWith("listening 127.0.0.1:"), first.constData());
        port = quint16(first.mid(first.lastIndexOf(':') + 1).toUInt());
    }

    std::unique_ptr<QTcpSocket> connectClient()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port);
        (void)QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }, 5000);
        return socket;
    }

    VirtualSupply supply;
    QProcess server;
    quint16 port = 0;
};

PANEL_TEST_MAIN(ScpiServerTest)
#include "tst_scpiserver.moc"
