#include "commandset.h"
#include "filetext.h"
#include "linkfixture.h"
#include "scriptedsupply.h"
#include "testmain.h"
#include "traceablepattern.h"
#include "unansweredrequests.h"

#include <QElapsedTimer>
#include <QTemporaryFile>

using namespace CommandSet;

namespace {

const QByteArray StatusData = QByteArray::fromHex("D204370200000101");

// A link on a real port to the scripted supply at address 1.
struct ScriptedLink {
    ScriptedLink()
        : supply(LinkFixture::Address)
    {
        QString error;
        opened = supply.Open(&error) && (port.setPortName(supply.PortPath()), port.open(QIODevice::ReadWrite));
        link.SetPort(&port);
        link.SetTraceStream(nullptr);
    }

    // One read of command, as the window or velkaroctl makes it. A value
    // taken from a reply to another request than this call's counts in wrong.
    LinkResult Read(quint8 command)
    {
        int number = -1;
        LinkResult result = LinkResult::NoReply;
        if (command == Status) {
            StatusRecord r;
            result = link.GetStatus(LinkFixture::Address, r);
            number = r.Voltage;
        } else if (command == Measurements) {
            MeasurementRecord r;
            result = link.GetMeasurements(LinkFixture::Address, r);
            number = r.Vsdadc;
        } else {
            SetpointRecord r;
            result = link.GetSetpoints(LinkFixture::Address, r);
            number = r.VoltageSet;
        }
        if (result == LinkResult::GoodReply && number != supply.LastNumberOf(command))
            ++wrong;
        return result;
    }

    // Reads of command until one is answered, at most tries; the calls made.
    int ReadUntilAnswered(quint8 command, int tries)
    {
        int calls = 0;
        while (calls < tries) {
            ++calls;
            if (Read(command) == LinkResult::GoodReply)
                break;
        }
        return calls;
    }

    ScriptedSupply supply;
    QSerialPort port;
    DeviceLink link;
    bool opened = false;
    int wrong = 0;
};

}  // namespace

class LinkTransactionsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanReadHasExactTraceAndRequest()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        const QByteArray reply = LinkFixture::Reply(Status, AccessRead, StatusData);
        f.supply->queueRawReply({reply});
        const LinkFixture::TracedRead read = f.TracedStatusRead();
        QCOMPARE(std::make_tuple(read.result, int(read.count), read.out),
                 std::make_tuple(LinkResult::GoodReply, 14, QByteArray::fromHex("80010101D2043702000001018AAC")));
        QCOMPARE(read.trace, "Call GetLine\n" + reply + "line=" + reply + "\n\nLineCode = " + reply + "\n");
        QCOMPARE(f.supply->receivedLines(), QList<QByteArray>{"#01800101EA3E\r"});
    }

    void replyInPiecesIsJoined()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        const QByteArray reply = LinkFixture::Reply(Status, AccessRead, StatusData);
        const QByteArray first = "noise" + reply.left(7);
        f.supply->queueRawReply({first, reply.mid(7, 10), reply.mid(17)}, 15);
        StatusRecord record;
        LinkResult result = LinkResult::NoReply;
        const QByteArray trace = CaptureTrace([&] { result = f.link.GetStatus(1, record); });
        QCOMPARE(std::make_pair(result, record.Voltage), std::make_pair(LinkResult::GoodReply, 1234));
        QVERIFY2(trace.contains(first + "line=" + reply.left(7) + "\n"), trace.constData());
        QVERIFY2(trace.contains(reply.mid(7, 10) + "line+" + reply.mid(7, 10) + "\n"), trace.constData());
        // Passes that find nothing new while a line is held say so.
        QVERIFY2(trace.contains("line+\n"), trace.constData());
        QVERIFY(trace.endsWith("LineCode = " + reply + "\n"));
    }

    // On a link that has had its first exchange (a fresh one does not know
    // what the line carries yet, and takes the last of two).
    void twoFramesInOneReadTakeTheFirst()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        StatusRecord first;
        QCOMPARE(f.link.GetStatus(1, first), LinkResult::GoodReply);
        const QByteArray second = LinkFixture::Reply(Status, AccessRead, QByteArray(8, char(0x11)));
        f.supply->queueRawReply({"\x02xx" + LinkFixture::Reply(Status, AccessRead, StatusData) + second});
        StatusRecord record;
        QCOMPARE(f.link.GetStatus(1, record), LinkResult::GoodReply);
        QCOMPARE(std::make_pair(record.Voltage, record.Current), std::make_pair(1234, 567));
    }

    void closedPortTracesOnlyTheCall()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.port.close();
        QElapsedTimer timer;
        timer.start();
        const LinkFixture::TracedRead read = f.TracedStatusRead();
        QCOMPARE(read.result, LinkResult::NoReply);
        QVERIFY(timer.elapsed() >= 200);
        QCOMPARE(read.trace, QByteArray("Call GetLine\n"));
    }

    void rejectedReadReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("traceEnd");
        const QByteArray good = LinkFixture::Reply(Status, AccessRead, StatusData);
        QByteArray badCrc = good;
        badCrc[badCrc.size() - 2] = badCrc.at(badCrc.size() - 2) == '0' ? '1' : '0';
        QTest::newRow("undecodable") << QByteArray("#0180ZZ\r") << QByteArray("Error crc\n");
        QTest::newRow("one byte below the minimum")
            << LinkFixture::Reply(Status, AccessRead, StatusData.left(4)) << QByteArray("Error linesize\n10 11");
        QTest::newRow("wrong crc") << badCrc << QByteArray("Error crc\n");
        QTest::newRow("addressed to 1") << LinkFixture::Reply(Status, AccessRead, StatusData, 1) << QByteArray("Error Id\n1");
        QTest::newRow("addressed to 0xFF") << LinkFixture::Reply(Status, AccessRead, StatusData, 0xFF) << QByteArray("Error Id\n-1");
        QTest::newRow("empty frame") << QByteArray("#\r") << QByteArray("Error linesize\n0 11");
    }

    void rejectedReadReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, traceEnd);
        LinkFixture f;
        QVERIFY(f.opened);
        f.supply->queueRawReply({reply});
        const LinkFixture::TracedRead read = f.TracedStatusRead();
        QCOMPARE(read.result, LinkResult::BadReply);
        QVERIFY2(read.trace.endsWith("LineCode = " + reply + "\n" + traceEnd), read.trace.constData());
    }

    // Frames written out here, their CRCs from an independent CRC-16/CCITT-FALSE
    // (Python's binascii.crc_hqx with 0xFFFF).
    void writeReplyIsJudgedByItsAccessByte_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::newRow("acknowledged") << QByteArray("#8001071F1481\r") << int(LinkResult::GoodReply);
        // An acknowledgement counts only when it is whole: one whose CRC is
        // damaged may be anything, and the write is tried again.
        QTest::newRow("acknowledged, wrong crc") << QByteArray("#8001071F1482\r") << int(LinkResult::BadReply);
        QTest::newRow("refused") << LinkFixture::Reply(Output, 0x1E, {}) << int(LinkResult::BadReply);
        QTest::newRow("too short for an access byte") << QByteArray("#80010\r") << int(LinkResult::BadReply);
    }

    void writeReplyIsJudgedByItsAccessByte()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        LinkFixture f;
        QVERIFY(f.opened);
        f.supply->queueRawReply({reply});
        QCOMPARE(int(f.link.SetOutput(1, OutputOnValue)), result);
        QCOMPARE(f.supply->receivedLines(), QList<QByteArray>{"#018007119A1B1864\r"});
    }

    // A damaged acknowledgement is no acknowledgement, but on a line where
    // nothing else is unanswered it is the write's reply: the next try
    // writes again at once, without a read to settle the line first.
    void damagedAcknowledgementIsTriedAgainAtOnce()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.link.SetTraceStream(nullptr);
        StatusRecord status;
        QCOMPARE(f.link.GetStatus(1, status), LinkResult::GoodReply);
        f.supply->queueRawReply({"#8001071F1482\r"});
        QCOMPARE(f.link.SetOutput(1, OutputOnValue), LinkResult::BadReply);
        f.supply->clearReceived();
        QCOMPARE(f.link.SetOutput(1, OutputOnValue), LinkResult::GoodReply);
        QCOMPARE(f.supply->receivedLines(), QList<QByteArray>{"#018007119A1B1864\r"});
    }

    // A read reply is known by its source and command whatever the supply
    // writes in its access byte, except a write's acknowledgement code.
    void readReplyWhateverItsAccessByte()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.link.SetTraceStream(nullptr);
        for (const QByteArray &reply : {QByteArray("#80010105D2043702000001011643\r"),
                                        QByteArray("#80010100D204370200000101618F\r")}) {
            f.supply->queueRawReply({reply});
            StatusRecord record;
            QCOMPARE(f.link.GetStatus(1, record), LinkResult::GoodReply);
            QCOMPARE(std::make_pair(record.Voltage, record.Current), std::make_pair(1234, 567));
        }
        // The same data as an acknowledgement answers no read.
        f.supply->queueRawReply({"#8001011FD204370200000101AA25\r"});
        StatusRecord record;
        QCOMPARE(f.link.GetStatus(1, record), LinkResult::NoReply);
        QCOMPARE(record.Voltage, 0);
    }

    // An acknowledgement of another command or another supply is no
    // acknowledgement: dropped, said in the frame trace, and the wait goes on.
    // (Read replies of either kind: tst_lineschedule's real link.)
    void foreignAcknowledgementsAreDropped()
    {
        ScriptedLink s;
        QVERIFY(s.opened);
        QTemporaryFile frames;
        QVERIFY(frames.open());
        FILE *frameFile = std::fopen(qPrintable(frames.fileName()), "w");
        s.link.SetFrameTrace(frameFile);
        const QByteArray otherAck = ReplyFrame(LinkFixture::Address, Setpoints, AccessAccepted, {});
        const QByteArray foreignAck = ReplyFrame(2, Output, AccessAccepted, {});
        s.supply.PrecedeNextReply(otherAck + foreignAck);
        QCOMPARE(s.link.SetOutput(LinkFixture::Address, OutputOnValue), LinkResult::GoodReply);
        s.supply.Stall();
        QTimer::singleShot(30, [&] { s.supply.Write(otherAck + foreignAck); });
        QCOMPARE(s.link.SetOutput(LinkFixture::Address, OutputOffValue), LinkResult::NoReply);
        s.link.SetFrameTrace(nullptr);
        std::fclose(frameFile);
        const QList<QByteArray> lines = ReadFile(frames.fileName()).split('\n');
        const QByteArray dropped = " (unrequested reply, dropped)";
        QVERIFY2(lines.size() >= 7, ReadFile(frames.fileName()).constData());
        QVERIFY(lines[1].endsWith("< " + otherAck.chopped(1) + dropped));
        QVERIFY(lines[2].endsWith("< " + foreignAck.chopped(1) + dropped));
        QVERIFY(lines[5].endsWith(dropped) && lines[6].endsWith(dropped));
    }

    // The window's polling (status and measurements in turn, one read a
    // tick) through a stall: few requests go out while the supply is
    // stopped, and once it answers them all, no value is taken from a reply
    // to another request.
    void stalledSupplyAnswersItsBacklog()
    {
        ScriptedLink s;
        QVERIFY(s.opened);
        int tick = 0;
        const auto next = [&] { return tick++ % 2 ? Measurements : Status; };
        for (int i = 0; i < 4; ++i)
            QCOMPARE(s.Read(next()), LinkResult::GoodReply);
        s.supply.Stall();
        QElapsedTimer stall;
        stall.start();
        int stallCalls = 0;
        while (stall.elapsed() < 3000) {
            QCOMPARE(s.Read(next()), LinkResult::NoReply);
            ++stallCalls;
            QTest::qWait(50);
        }
        // Every call asked the supply something, one request each.
        QCOMPARE(s.supply.KeptCount(), stallCalls);
        // The backlog takes longer than a time-out to pass (a reply every
        // 30 ms): the read under way waits for it and gets its own value.
        s.supply.Resume(30);
        QVERIFY2(stallCalls * 30 > DeviceLink::TimeoutMs + 100, qPrintable(QString::number(stallCalls)));
        QCOMPARE(s.Read(next()), LinkResult::GoodReply);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(s.Read(next()), LinkResult::GoodReply);
        QCOMPARE(s.wrong, 0);
    }

    // A supply that lost requests (a restart, a damaged request) is found
    // again within a bounded number of reads, with the right values.
    void supplyThatLostRequestsIsFoundAgain()
    {
        ScriptedLink s;
        QVERIFY(s.opened);
        s.supply.DropNext();
        QCOMPARE(s.Read(Status), LinkResult::NoReply);
        // Its request may still be answered late until OvertakeMs has passed.
        QVERIFY2(s.ReadUntilAnswered(Status, 6) <= 5, "after one lost request");

        // A silence that loses what it is asked, as the window polls through
        // it: once the supply answers again, the very next read gets its value.
        for (int round = 0; round < 2; ++round) {
            s.supply.Stall();
            for (int i = 0; i < 6; ++i)
                QCOMPARE(s.Read(i % 2 ? Measurements : Status), LinkResult::NoReply);
            QCOMPARE(s.supply.KeptCount(), 6);
            s.supply.LoseKept();
            s.supply.Resume(10);
            QCOMPARE(s.Read(Status), LinkResult::GoodReply);
            QCOMPARE(s.Read(Measurements), LinkResult::GoodReply);
        }
        // A write after such a silence goes out in its first call and is
        // acknowledged: the earlier write of the same kind was lost too.
        s.supply.Stall();
        QCOMPARE(s.link.SetOutput(LinkFixture::Address, OutputOnValue), LinkResult::NoReply);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(s.Read(Status), LinkResult::NoReply);
        s.supply.LoseKept();
        s.supply.Resume(10);
        const int before = s.supply.Requests().size();
        QCOMPARE(s.link.SetOutput(LinkFixture::Address, OutputOffValue), LinkResult::GoodReply);
        QCOMPARE(s.supply.Requests().last().command, Output);
        QVERIFY(s.supply.Requests().size() - before <= 2);
        QCOMPARE(s.wrong, 0);
    }

    // A night of silence, asked once a second: the memory of what went
    // unanswered stays bounded, and the newest requests are the ones kept,
    // so a reply that does come still answers the request it belongs to.
    void unansweredRequestsStayBounded()
    {
        UnansweredRequests unanswered;
        const int night = 12 * 3600;
        for (int second = 0; second < night; ++second)
            unanswered.Add(0, CommandSet::Status, second * 1000LL);
        const quint64 newest = unanswered.Add(0, CommandSet::Measurements, night * 1000LL);
        QVERIFY(unanswered.Count() <= 1000);
        QVERIFY(unanswered.Contains(0, CommandSet::Status));
        QCOMPARE(unanswered.Answer(0, CommandSet::Measurements, night * 1000LL + 50, 350), newest);
    }

    void endlessInputIsBounded()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        const QByteArray junk = "#" + QByteArray(3000, '7');
        const QByteArray reply = LinkFixture::Reply(Status, AccessRead, StatusData);
        f.supply->queueRawReply({junk, reply}, 30);
        QByteArray line;
        f.link.SendFrame(1, Status, AccessRead, nullptr, 0);
        bool complete = false;
        CaptureTrace([&] { complete = f.link.GetLine(line, 200); });
        QVERIFY(complete);
        QCOMPARE(line.left(reply.size()), reply);
        QVERIFY(line.size() <= MaxLineChars + DeviceLink::ReadChunk);

        f.supply->queueRawReply({junk + "\r"});
        StatusRecord record;
        QCOMPARE(f.link.GetStatus(1, record), LinkResult::NoReply);
    }

    // Against a supply whose replies often come after the time-out, at the
    // line's own pace: every status taken is newer than the one before.
    void lateRepliesNeverPassForNewOnes()
    {
        VirtualSupply::Options options;
        options.late = 0.3;
        options.pace9600 = true;
        options.traceable = true;
        LinkFixture f(options);
        QVERIFY(f.opened);
        f.link.SetTraceStream(nullptr);
        int taken = 0;
        int lastSerial = -1;
        for (int i = 0; i < 30; ++i) {
            StatusRecord record;
            if (f.link.GetStatus(1, record) != LinkResult::GoodReply)
                continue;
            QVERIFY(TraceablePattern::matches(record));
            QVERIFY2(record.Voltage > lastSerial,
                     qPrintable(QStringLiteral("serial %1 after %2").arg(record.Voltage).arg(lastSerial)));
            lastSerial = record.Voltage;
            ++taken;
        }
        QVERIFY2(taken >= 10 && taken < 30, qPrintable(QString::number(taken)));
    }

    // What a program does before it lets the port go: the late reply is met
    // and dropped, not left for the port's next user.
    void drainTakesTheLateReplyOffTheLine()
    {
        VirtualSupply::Options options;
        options.late = 1.0;
        LinkFixture f(options);
        QVERIFY(f.opened);
        StatusRecord record;
        QCOMPARE(f.link.GetStatus(1, record), LinkResult::NoReply);
        f.link.DrainLateReply();
        QTest::qWait(100);  // past the latest a late reply comes
        QCOMPARE(f.port.bytesAvailable(), 0);
        QCOMPARE(f.supply->repliesSent(), 1);
    }

    void shortReplyLeavesRecordUnchanged()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        // Passes the minimum of 11 bytes but lacks the flags of the full 14.
        f.supply->queueRawReply({LinkFixture::Reply(Status, AccessRead, StatusData.left(5))});
        StatusRecord record;
        record.OutputOn = 1;
        record.Voltage = 9;
        QCOMPARE(f.link.GetStatus(1, record), LinkResult::BadReply);
        QCOMPARE(std::make_pair(record.OutputOn, record.Voltage), std::make_pair(1, 9));
    }
};

PANEL_TEST_MAIN(LinkTransactionsTest)
#include "tst_linktransactions.moc"
