// velkaroctl serve-scpi as a separate process, on a virtual supply in this
// process (it answers while the test waits), under failing replies, a silent
// supply, bad input, floods of connections and a lost line.

#include "commandset.h"
#include "ctlprocess.h"
#include "devicelink.h"
#include "processmemory.h"
#include "supplyoptions.h"
#include "supplyprogram.h"
#include "testmain.h"
#include "virtualsupply.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>

namespace {

const QByteArray NoError = "0,\"No error\"";
const char ScpiBusyLine[] = "busy: all 4 SCPI connections are in use, try again later\n";

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

// Ends the connection with a reset, as a client that crashed with unread
// input does, instead of an orderly close.
void reset(QTcpSocket &socket)
{
    const linger now{1, 0};
    setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    socket.abort();
}

// A refused client as a script is one: it connects, reads the busy line to
// the server's end of sending, then sends its first query and ends its own
// sending (PyVISA's open_resource reads nothing; its first query reads the
// line). True when the line came whole and the connection ended in order:
// a query that meets a closed socket is answered with a reset, and a reset
// can destroy the line before a client reads it.
bool refusedInOrder(quint16 port, const QByteArray &line)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval patience{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    QByteArray got;
    char buffer[256];
    ssize_t size = -1;
    while (ok && (size = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        got.append(buffer, int(size));
    ok = ok && size == 0 && got == line && ::send(fd, "*IDN?\n", 6, MSG_NOSIGNAL) == 6
         && ::shutdown(fd, SHUT_WR) == 0;
    tcp_info info{};
    socklen_t infoSize = sizeof info;
    ok = ok && QTest::qWaitFor([&] {
             return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &infoSize) == 0
                    && info.tcpi_state == TCP_CLOSE;
         }, 5000);
    int error = -1;
    socklen_t errorSize = sizeof error;
    ok = ok && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0;
    ::close(fd);
    return ok;
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

// The address each request went to, in order.
QList<int> requestAddresses(const VirtualSupply &supply)
{
    QList<int> seen;
    for (const QByteArray &line : supply.receivedLines()) {
        QByteArray bytes;
        if (DeviceLink::DecodeLine(line, bytes) > 0)
            seen.append(quint8(bytes.at(0)));
    }
    return seen;
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

    // A silent supply: the message's first read fails after its tries, the
    // message's later reads at once. (Other clients waiting one try only, and
    // the requests of each try: silentAddressHoldsUpTheOthersOneTry and
    // resetIsCarriedOutAndConfirmed.)
    void silentSupplyBoundsEachMessage()
    {
        auto first = connectClient();
        supply.setOptions(Silent());
        QElapsedTimer total;
        total.start();
        QCOMPARE(ask(*first, "MEAS:VOLT?;:VOLT?;:MEAS:TEMP?"), QByteArray("9.91E+37;9.91E+37;9.91E+37"));
        QVERIFY2(total.elapsed() < 2000, qPrintable(QString::number(total.elapsed())));
        QVERIFY(ask(*first, "SYST:ERR:ALL?").startsWith("-241,\"Hardware missing\""));

        // While it stays silent, each step is tried once, and the rest of its
        // message gives up at once. With four requests unanswered the link
        // sends one a second at most: a try may only listen.
        supply.clearReceived();
        total.start();
        QCOMPARE(ask(*first, "MEAS:CURR?;:APPL?"), QByteArray("9.91E+37;9.91E+37"));
        QVERIFY2(total.elapsed() < 800, qPrintable(QString::number(total.elapsed())));
        QVERIFY(requests(supply, false).size() <= 1);
        QCOMPARE(ask(*first, "SYST:ERR:COUN?;*CLS"), QByteArray("2"));
        supply.clearReceived();
        first->write("OUTP ON;:VOLT 5\n");
        QCOMPARE(ask(*first, "SYST:ERR:ALL?"),
                 QByteArray("-241,\"Hardware missing\",-241,\"Hardware missing\""));
        const QList<QByteArray> writes = requests(supply, false);
        QVERIFY2(writes.isEmpty() || writes == QList<QByteArray>{"07119a1b"}, writes.join(' '));
        supply.setOptions({});
        QVERIFY(foundAgain(*first));

        // A refused reply is not silence; the message's later reads give up
        // all the same.
        VirtualSupply::Options options;
        options.corrupt = 1.0;
        supply.setOptions(options);
        QCOMPARE(ask(*first, "MEAS:CURR?;:VOLT?"), QByteArray("9.91E+37;9.91E+37"));
        QCOMPARE(ask(*first, "SYST:ERR?;ERR?;ERR?"),
                 "-240,\"Hardware error\";-240,\"Hardware error\";" + NoError);
        supply.setOptions({});
        QVERIFY(foundAgain(*first));
        QCOMPARE(supply.model().outputOn(), false);
    }

    void badInputLeavesServerAndSupplyAsTold()
    {
        const qint64 pid = server.processId();
        [[maybe_unused]] const qint64 before = MemoryKb(pid, "VmRSS:");
        const int currentMa = supply.model().currentSetMa();
        supply.clearReceived();

        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 4; ++i)
            clients.push_back(connectClient());
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

        // A connection reset in the middle of a line: nothing of the cut
        // message is carried out.
        auto aborting = connectClient();
        aborting->write("OUTP ON;VOLT 8.5");
        QVERIFY(aborting->waitForBytesWritten(5000));
        QTest::qWait(100);
        reset(*aborting);
        reset(mute);
        QCOMPARE(ask(overlong, "VOLT 7.25;*OPC?"), QByteArray("1"));

        QCOMPARE(server.state(), QProcess::Running);
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer keeps freed memory in quarantine
        const qint64 grown = MemoryKb(pid, "VmHWM:") - before;
        QVERIFY2(before > 0 && grown < 4096, qPrintable(QStringLiteral("grew by %1 kB").arg(grown)));
#endif

        // The supply was told one thing, once: 7.25 V with the limit kept.
        QCOMPARE(ask(overlong, "*OPC?"), QByteArray("1"));
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
        QCOMPARE(held(), std::make_tuple(false, 10, 5));
        QCOMPARE(ask(*client, "OUTP?;:APPL?"), QByteArray("0;\"0.010,0.005\""));

        // Against a silent supply the set-point step gives up at once after
        // the output's four tries.
        supply.setOptions(Silent());
        supply.clearReceived();
        const QByteArray failed = ask(*client, "*RST;SYST:ERR:ALL?");
        supply.setOptions({});
        QCOMPARE(failed, QByteArray("-241,\"Hardware missing\",-241,\"Hardware missing\""));
        // The write once; while it is unanswered, each later try reads
        // another record instead of writing again.
        QCOMPARE(requests(supply, false), (QList<QByteArray>{"07110000", "0301", "0101", "1001"}));
        QVERIFY(foundAgain(*client));
    }

    void statusRegistersFollowTheEvents()
    {
        auto client = connectClient();
        client->write("*CLS;*ESE 0;*SRE 0\n");
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
        client->write("*ESE 256;*SRE X\n");
        QCOMPARE(ask(*client, "SYST:ERR:ALL?;COUN?;*ESE?"),
                 "-222,\"Data out of range\",-224,\"Illegal parameter value\";0;36");
        client->write("SYST:REM;RWL;LOC;*ESE 0\n");
        QCOMPARE(ask(*client, "SYST:ERR:COUN?"), QByteArray("0"));
        // Suffixes the unit does not take, a suffix where none is taken, a
        // second value: nothing is sent.
        supply.clearReceived();
        client->write("VOLT 3 KV;:CURR 1 UA;:VOLT 1 2;*SRE 16 V;:STAT:OPER:ENAB 1 2\n");
        QCOMPARE(ask(*client, "SYST:ERR:ALL?;*SRE?"),
                 QByteArray("-131,\"Invalid suffix\",-131,\"Invalid suffix\","
                            "-108,\"Parameter not allowed\",-138,\"Suffix not allowed\","
                            "-108,\"Parameter not allowed\";32"));
        QCOMPARE(requests(supply, false), QList<QByteArray>());
    }

    void operationAndQuestionableFollowTheSupply()
    {
        // A 10-ohm load: 12 V under a 2 A limit is CV at 1.2 A; a 0.5 A
        // limit is CC at 5 V.
        supply.model().setLoadOhms(10);
        auto client = connectClient();
        QCOMPARE(ask(*client, "*RST;*CLS;*SRE 0;:STAT:PRES;:STAT:OPER:COND?;:STAT:QUES:COND?"),
                 QByteArray("0;0"));
        client->write("APPL 12,2;:OUTP ON\n");
        // CV (bit 8) and output on (bit 10); their rises latch.
        QCOMPARE(ask(*client, "STAT:OPER:COND?;EVEN?;EVEN?"), QByteArray("1280;1280;0"));
        client->write("CURR 0.5\n");
        QCOMPARE(ask(*client, "STAT:OPER:COND?;:STAT:OPER?;:OUTP:MODE?"), QByteArray("1536;512;CC"));
        // Only the fall of CC latches, and it makes bit 7 of the status byte
        // and, enabled, the request summary.
        client->write("STAT:OPER:ENAB 512;NTR 512;PTR 0;:CURR 2;*SRE 128\n");
        QCOMPARE(ask(*client, "*STB?"), QByteArray("192"));
        QCOMPARE(ask(*client, "STAT:OPER:ENAB?;NTR?;PTR?"), QByteArray("512;512;0"));
        // 16: this message's earlier answer waits.
        QCOMPARE(ask(*client, "STAT:OPER?;*STB?;:STAT:OPER:COND?"), QByteArray("512;16;1280"));

        // Over-temperature (bit 4) into bit 3 of the status byte.
        supply.model().setTemperatureCelsius(90);
        QCOMPARE(ask(*client, "STAT:QUES:COND?;ENAB 16;*STB?;*SRE 8;*STB?"), QByteArray("16;24;88"));
        // A supply that does not answer: bit 9, and what it said last holds
        // (over-temperature, CV and on); each read queues its error.
        supply.setOptions(Silent());
        QCOMPARE(ask(*client, "*CLS;:STAT:QUES:ENAB 512;:STAT:QUES:COND?;:STAT:OPER:COND?;*STB?"),
                 QByteArray("528;1280;92"));
        QCOMPARE(ask(*client, "SYST:ERR:COUN?;:STAT:QUES?"), QByteArray("4;512"));
        // A status byte asked first in its message counts the errors of its
        // own reads: the queue (4) and the enabled execution error (32).
        QCOMPARE(ask(*client, "*CLS;*ESE 16;*SRE 0;*STB?;*ESE 0"), QByteArray("36"));
        supply.setOptions({});
        supply.model().setTemperatureCelsius(30);
        QVERIFY(foundAgain(*client));
        QCOMPARE(ask(*client, "*CLS;:STAT:QUES:COND?;:STAT:OPER:COND?;:STAT:QUES?"),
                 QByteArray("0;1280;0"));

        QCOMPARE(ask(*client, "STAT:PRES;:STAT:OPER:ENAB?;PTR?;NTR?;:STAT:QUES:ENAB?;PTR?;NTR?"),
                 QByteArray("0;32767;0;0;32767;0"));
        // A number rounds to the nearest integer: 0.4 is OFF.
        QCOMPARE(ask(*client, "OUTP 0.4;:STAT:OPER:COND?;*SRE 0;*STB?"), QByteArray("0;16"));
        client->write("*CLS\n");
    }

    // The virtual supply stopped (SIGSTOP) with the output on in CV, then
    // continued: it answers the backlog. The conditions hold what was last
    // read meanwhile and only "not answering" rises, so no OPERation event
    // latches, not even with every fall latched, and that rise latches once.
    void stallLatchesNoOperationEvent()
    {
        SupplyProcess program(VIRTUAL_SUPPLY_EXE, {"--pace", "--load", "10"});
        QVERIFY(program.up());
        QProcess stalledServer;
        StartCtl(stalledServer, {"--port", program.port, "serve-scpi", "--listen", "127.0.0.1:0"});
        QVERIFY(QTest::qWaitFor([&] { return stalledServer.canReadLine(); }, 5000));
        const QByteArray listening = stalledServer.readLine().simplified().split(' ').value(1);
        auto client = connectClient(quint16(listening.mid(listening.lastIndexOf(':') + 1).toUInt()));
        // 5 V into 10 ohm under a 1 A limit: CV at 0.5 A. OUTP 2 is ON.
        QCOMPARE(ask(*client, "APPL 5,1;:OUTP 2;:STAT:PRES;:STAT:OPER:NTR 32767;:STAT:OPER:COND?;"
                              ":STAT:QUES:COND?;*CLS;:STAT:OPER?;:STAT:QUES?"),
                 QByteArray("1280;0;0;0"));
        const struct Continued {
            pid_t pid;
            ~Continued() { ::kill(pid, SIGCONT); }
        } continued{pid_t(program.pid())};
        ::kill(continued.pid, SIGSTOP);
        QCOMPARE(ask(*client, "STAT:QUES:COND?;:STAT:OPER:COND?;:MEAS:VOLT?"),
                 QByteArray("512;1280;9.91E+37"));
        QCOMPARE(ask(*client, "STAT:OPER?;:STAT:OPER:COND?;:STAT:QUES:COND?"), QByteArray("0;1280;512"));
        ::kill(continued.pid, SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(ask(*client, "STAT:QUES:COND?"), QByteArray("0"), 10000);
        QCOMPARE(ask(*client, "STAT:OPER?;:STAT:OPER:COND?;:STAT:QUES?;:STAT:QUES?;:OUTP:MODE?"),
                 QByteArray("0;1280;512;0;CV"));
        stalledServer.kill();
        stalledServer.waitForFinished(5000);
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

    void setpointsRoundToTheStepThenMeetTheRange_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("millivolts");  // -1: refused, the set-points stay
        QTest::addColumn<int>("milliamperes");
        QTest::newRow("30.0004 V") << QByteArray("VOLT 30.0004") << 30000 << 1000;
        QTest::newRow("30.0005 V") << QByteArray("VOLT 30.0005") << -1 << 1000;
        QTest::newRow("30000.4 mV") << QByteArray("VOLT 30000.4 MV") << 30000 << 1000;
        QTest::newRow("0.0095 V") << QByteArray("VOLT 0.0095") << 10 << 1000;
        QTest::newRow("0.00949 V") << QByteArray("VOLT 0.00949") << -1 << 1000;
        QTest::newRow("1.2356 V") << QByteArray("VOLT 1.2356") << 1236 << 1000;
        QTest::newRow("9.9994 A") << QByteArray("CURR 9.9994") << 5000 << 9999;
        QTest::newRow("9.9995 A") << QByteArray("CURR 9.9995") << 5000 << -1;
        QTest::newRow("0.0045 A") << QByteArray("CURR 0.0045") << 5000 << 5;
        QTest::newRow("4.5 mA") << QByteArray("CURR 4.5 MA") << 5000 << 5;
        QTest::newRow("0.00449 A") << QByteArray("CURR 0.00449") << 5000 << -1;
        QTest::newRow("both at the top") << QByteArray("APPL 30.0001,9.9994") << 30000 << 9999;
        QTest::newRow("APPL over the top") << QByteArray("APPL 30.0001,9.9995") << -1 << -1;
    }

    void setpointsRoundToTheStepThenMeetTheRange()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, millivolts);
        QFETCH(int, milliamperes);
        auto client = connectClient();
        QCOMPARE(ask(*client, "*CLS;OUTP OFF;:APPL 5,1;*OPC?"), QByteArray("1"));
        client->write(command + '\n');
        const QByteArray error = millivolts < 0 || milliamperes < 0
                                     ? QByteArray("-222,\"Data out of range\"") : NoError;
        QCOMPARE(ask(*client, "SYST:ERR?;ERR?"), error + ';' + NoError);
        QCOMPARE(held(), std::make_tuple(false, millivolts < 0 ? 5000 : millivolts, milliamperes < 0 ? 1000 : milliamperes));
    }

    void unterminatedLastLineIsAMessage()
    {
        // nc -N shuts down its sending side after its input and reads on.
        QProcess nc;
        nc.start(QStringLiteral("nc"), {"-N", "127.0.0.1", QString::number(port)});
        QVERIFY(nc.waitForStarted());
        // More than a client may have waiting at once, and a last line
        // without its line end.
        nc.write("MEAS:VOLT?\n*IDN?\nOUTP?\n" + QByteArray("*OPC?\n").repeated(12) + "*IDN?");
        nc.closeWriteChannel();
        // Waits with the event loop running: the supply answers in this process.
        QTRY_COMPARE_WITH_TIMEOUT(nc.state(), QProcess::NotRunning, 5000);
        QList<QByteArray> lines = nc.readAllStandardOutput().split('\n');
        const QByteArray idn = "norvel,TK4810M,";
        QCOMPARE(lines.size(), 17);
        for (const int i : {1, 15})
            lines[i].truncate(idn.size());  // the rest is the version
        QCOMPARE(lines, QList<QByteArray>({"0.000", idn, "0"}) + QVector<QByteArray>(12, "1").toList()
                            + QList<QByteArray>({idn, ""}));

        // A whole close after it: carried out, with nobody left to answer.
        auto closing = connectClient();
        closing->write("VOLT 6.5");
        closing->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(supply.model().voltageSetMv(), 6500, 5000);
    }

    void everyRefusedClientReadsTheBusyLine()
    {
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 4; ++i)
            held.push_back(connectClient());
        QCOMPARE(ask(*held.back(), "*OPC?"), QByteArray("1"));
        // 200 at once, each asking at once, as a script's retry loop would.
        constexpr int Refused = 200;
        std::vector<std::unique_ptr<QTcpSocket>> late;
        std::vector<QByteArray> got(Refused);
        for (int i = 0; i < Refused; ++i) {
            late.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket *socket = late.back().get();
            connect(socket, &QTcpSocket::readyRead, this, [socket, &got, i] { got[i] += socket->readAll(); });
            connect(socket, &QTcpSocket::connected, this, [socket] { socket->write("*IDN?\n"); });
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
        const QByteArray busy = ScpiBusyLine;
        const auto told = [&] { return int(std::count(got.begin(), got.end(), busy)); };
        QTRY_COMPARE_WITH_TIMEOUT(told(), Refused, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(late.begin(), late.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        }), 5000);
        // One after another, each as a script's first query finds it: the
        // line, then an orderly end (40 of 40; 1 before).
        int inOrder = 0;
        for (int i = 0; i < 40; ++i)
            inOrder += refusedInOrder(port, busy);
        QCOMPARE(inOrder, 40);
        // The four are served on; a slot given up goes to the next one.
        QCOMPARE(ask(*held.front(), "*OPC?"), QByteArray("1"));
        held.pop_back();
        std::unique_ptr<QTcpSocket> next;
        QTRY_VERIFY_WITH_TIMEOUT((next = connectClient(), ask(*next, "*OPC?") == "1"), 5000);
        // Every slot free again for the next test: the server gives a slot up
        // before it answers the end of the client's input with its own.
        held.push_back(std::move(next));
        for (const auto &socket : held)
            shutdown(int(socket->socketDescriptor()), SHUT_WR);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(held.begin(), held.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        }), 5000);
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

    // One TCP port per address, from the given one upward; each a separate
    // instrument on one supply of the line, taking turns on the port.
    void severalAddressesAreSeparateInstruments()
    {
        stopServer();
        // Ports that cannot all be had are refused before the line is opened,
        // and a port taken by another program is named.
        const QStringList both{"--port", supply.portPath(), "--address", "0,2", "serve-scpi", "--listen"};
        QProcess refused;
        StartCtl(refused, both + QStringList{"127.0.0.1:65535"});
        QCOMPARE(Finish(refused, 5000), 2);
        // Two neighbouring ports, the first free and the second taken: the
        // first is held by the test until the server starts, so that no other
        // program's connection is on it by chance.
        QTcpServer free;
        QTcpServer taken;
        for (int tries = 0; tries < 50 && !taken.isListening(); ++tries) {
            free.close();
            QVERIFY(free.listen(QHostAddress::LocalHost));
            if (free.serverPort() < 65535)
                taken.listen(QHostAddress::LocalHost, free.serverPort() + 1);
        }
        QVERIFY(taken.isListening());
        const quint16 freePort = free.serverPort();
        free.close();
        StartCtl(refused, both + QStringList{QStringLiteral("127.0.0.1:%1").arg(freePort)});
        QCOMPARE(Finish(refused, 5000), 3);
        QVERIFY2(refused.readAllStandardError().contains(
                     QStringLiteral("cannot listen on 127.0.0.1:%1").arg(taken.serverPort()).toUtf8()),
                 "the taken port is not named");
        taken.close();

        VirtualSupply::Options line;
        line.moreAddresses = {2, 3};
        supply.setOptions(line);
        startServer({}, "0,2,3");
        QCOMPARE(ports.size(), 3);
        auto first = connectClient(ports.at(0));
        auto second = connectClient(ports.at(1));
        auto third = connectClient(ports.at(2));
        const int thirdVolts = supply.modelAt(3)->voltageSetMv();
        QVERIFY(ask(*first, "*IDN?").startsWith("norvel,TK4810M,ADDR0,"));
        QVERIFY(ask(*second, "*IDN?").startsWith("norvel,TK4810M,ADDR2,"));
        QVERIFY(ask(*third, "*IDN?").startsWith("norvel,TK4810M,ADDR3,"));
        // Each its own registers: every one reports its power-on once.
        QCOMPARE(ask(*first, "*ESR?"), QByteArray("128"));
        QCOMPARE(ask(*second, "*ESR?;*ESR?"), QByteArray("128;0"));
        QCOMPARE(ask(*third, "STAT:OPER:ENAB 512;ENAB?;*ESR?"), QByteArray("512;128"));
        QCOMPARE(ask(*first, "STAT:OPER:ENAB?"), QByteArray("0"));

        QCOMPARE(ask(*first, "VOLT 7.25;*OPC?"), QByteArray("1"));
        QCOMPARE(ask(*second, "VOLT 3.3;VOLT?"), QByteArray("3.300"));
        QCOMPARE(ask(*first, "VOLT?"), QByteArray("7.250"));
        QCOMPARE((QList<int>{supply.model().voltageSetMv(), supply.modelAt(2)->voltageSetMv(),
                             supply.modelAt(3)->voltageSetMv()}), (QList<int>{7250, 3300, thirdVolts}));
        // Each its own error queue.
        second->write("NOSUCH\n");
        QCOMPARE(ask(*second, "SYST:ERR:COUN?") + ask(*first, "SYST:ERR?") + ask(*third, "SYST:ERR?"), "1" + NoError + NoError);

        // Messages of two instruments at once, on a line paced as a real
        // one: never two transactions at a time (each answer its own
        // supply's), and the instruments take turns.
        VirtualSupply::Options paced = line;
        paced.pace9600 = true;
        supply.setOptions(paced);
        supply.clearReceived();
        first->write(QByteArray("VOLT?\n").repeated(6));
        second->write(QByteArray("VOLT?\n").repeated(6));
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(nextLine(*first), QByteArray("7.250"));
            QCOMPARE(nextLine(*second), QByteArray("3.300"));
        }
        const QList<int> order = requestAddresses(supply);
        QCOMPARE(order.size(), 12);
        int repeated = 0;
        for (int i = 1; i < order.size(); ++i)
            repeated += order.at(i) == order.at(i - 1);
        QVERIFY2(repeated <= 2, qPrintable(QString::number(repeated)));
        QCOMPARE(ask(*first, "SYST:ERR:COUN?"), QByteArray("0"));
        QCOMPARE(ask(*second, "SYST:ERR:ALL?"), QByteArray("-113,\"Undefined header\""));
    }

    // A silent address holds the other instruments up for one try of its
    // step, not for its whole message; a silent one served in between is
    // tried once; each keeps its errors to itself.
    void silentAddressHoldsUpTheOthersOneTry()
    {
        VirtualSupply::Options line;
        line.moreAddresses = {2, 3};
        line.silentAddresses = {2, 3};
        supply.setOptions(line);
        supply.clearReceived();
        auto first = connectClient(ports.at(0));
        auto second = connectClient(ports.at(1));
        auto third = connectClient(ports.at(2));
        QElapsedTimer total;
        total.start();
        third->write("MEAS:VOLT?;:VOLT?;:MEAS:TEMP?\n");
        QVERIFY(QTest::qWaitFor([&] { return !supply.receivedLines().isEmpty(); }, 5000));
        QElapsedTimer waited;
        waited.start();
        second->write("MEAS:VOLT?;:VOLT?\n");
        first->write("VOLT?\n");
        QVERIFY(QTest::qWaitFor([&] { return first->canReadLine(); }, 5000));
        const qint64 firstWaited = waited.elapsed();
        QCOMPARE(nextLine(*third), QByteArray("9.91E+37;9.91E+37;9.91E+37"));
        const qint64 messageTook = total.elapsed();
        QCOMPARE(nextLine(*first), QByteArray("7.250"));
        QCOMPARE(nextLine(*second), QByteArray("9.91E+37;9.91E+37"));
        // One try is 0.26 s: four of address 3 and one of address 2 about
        // 1.3 s.
        QVERIFY2(firstWaited < 800, qPrintable(QString::number(firstWaited)));
        QVERIFY2(messageTook < 2000, qPrintable(QString::number(messageTook)));
        // Four tries for address 3, the others' between two of them.
        const QList<int> order = requestAddresses(supply);
        QCOMPARE(std::make_tuple(order.count(3), order.count(2), order.count(0), order.first(), order.last()),
                 std::make_tuple(4, 1, 1, 3, 3));
        QCOMPARE(ask(*third, "SYST:ERR:COUN?;:STAT:QUES:COND?"), QByteArray("3;512"));
        QCOMPARE(ask(*second, "SYST:ERR:COUN?;:STAT:QUES:COND?"), QByteArray("2;512"));
        QCOMPARE(ask(*first, "SYST:ERR:COUN?;:STAT:QUES:COND?"), QByteArray("0;0"));
        supply.setOptions({});
    }

    void idleClientsAreClosed()
    {
        stopServer();
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

    // Every instrument on the line ends with it, and the loss is told once.
    void lostSerialPortStopsTheServer()
    {
        stopServer();
        VirtualSupply::Options line;
        line.moreAddresses = {2};
        supply.setOptions(line);
        startServer({}, "0,2");
        auto first = connectClient(ports.at(0));
        auto second = connectClient(ports.at(1));
        QCOMPARE(ask(*second, "*OPC?"), QByteArray("1"));
        supply.closeMaster();
        QCOMPARE(Finish(server, 5000), 1);
        QCOMPARE(server.readAllStandardError().count("lost the serial port"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(first->state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(second->state(), QAbstractSocket::UnconnectedState, 5000);
    }

private:
    void stopServer()
    {
        server.terminate();
        QVERIFY(server.waitForFinished(5000));
    }

    // Output, set volts and set amperes as the supply holds them.
    std::tuple<bool, int, int> held() { return {supply.model().outputOn(), supply.model().voltageSetMv(), supply.model().currentSetMa()}; }

    // With addresses (a list), one line per address, each naming its port;
    // without, the two lines of one instrument.
    void startServer(const QStringList &options, const QString &addresses = {})
    {
        const QStringList several =
            addresses.isEmpty() ? QStringList() : QStringList{"--address", addresses};
        StartCtl(server, QStringList{"--port", supply.portPath()} + several
                             + QStringList{"serve-scpi", "--listen", "127.0.0.1:0"} + options);
        ports.clear();
        const QStringList expected = addresses.isEmpty() ? QStringList{"0"} : addresses.split(',');
        for (const QString &address : expected) {
            QVERIFY(QTest::qWaitFor([&] { return server.canReadLine(); }, 5000));
            const QByteArray line = server.readLine().simplified();
            QVERIFY2(line.startsWith("listening 127.0.0.1:"), line.constData());
            const QByteArray listening = line.split(' ').at(1);
            ports.append(quint16(listening.mid(listening.lastIndexOf(':') + 1).toUInt()));
            if (!addresses.isEmpty())
                QVERIFY2(line.endsWith(", address " + address.toUtf8()), line.constData());
        }
        if (addresses.isEmpty()) {
            QVERIFY(QTest::qWaitFor([&] { return server.canReadLine(); }, 5000));
            QVERIFY(server.readLine().simplified().endsWith(", address 0"));
        }
        port = ports.first();
        // Each its own port, from a free one each.
        QCOMPARE(QSet<quint16>(ports.begin(), ports.end()).size(), ports.size());
    }

    // The server's link has the supply again once a reading is one request
    // and its reply: the requests left unanswered by a silence are given up
    // when a reply comes after they could still be answered (OvertakeMs).
    // The errors of the readings that failed meanwhile are cleared.
    bool foundAgain(QTcpSocket &client)
    {
        if (!QTest::qWaitFor([&] { return ask(client, "MEAS:VOLT?") != "9.91E+37"; }, 5000))
            return false;
        QTest::qWait(int(DeviceLink::OvertakeMs) + 50);
        if (ask(client, "MEAS:VOLT?") == "9.91E+37")
            return false;
        supply.clearReceived();
        return ask(client, "MEAS:VOLT?;*CLS;*OPC?").endsWith(";1")
               && requests(supply, false) == QList<QByteArray>{"0101"};
    }

    std::unique_ptr<QTcpSocket> connectClient(quint16 to = 0)
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, to ? to : port);
        (void)QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }, 5000);
        return socket;
    }

    VirtualSupply supply;
    QProcess server;
    quint16 port = 0;
    QList<quint16> ports;  // one per address, in their order
};

PANEL_TEST_MAIN(ScpiServerTest)
#include "tst_scpiserver.moc"
