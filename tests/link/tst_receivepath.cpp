// The receive path without a port: the bytes of each read go through
// TakeLinePart, complete lines through JudgeReadReply and the record layouts,
// as the fuzzer drives them. Inputs the fuzzer turns up are kept here.

#include "commandset.h"
#include "devicelink.h"
#include "stdoutcapture.h"
#include "testmain.h"

#include <functional>

using namespace CommandSet;

Q_DECLARE_METATYPE(LinkResult)

namespace {

QByteArray replyFrame(quint8 command, quint8 access, const QByteArray &data,
                      quint8 destination = MasterAddress)
{
    QByteArray bytes;
    bytes.append(char(destination));
    bytes.append(char(1));
    bytes.append(char(command));
    bytes.append(char(access));
    bytes.append(data);
    return DeviceLink::EncodeFrame(bytes);
}

// Outcome of feeding reads as GetLine does: the first complete line, if any.
struct Received {
    bool complete = false;
    QByteArray line;
    int longestHeld = 0;
};

Received receive(DeviceLink &link, const QList<QByteArray> &reads)
{
    Received r;
    StdoutCapture quiet;
    for (const QByteArray &bytes : reads) {
        r.complete = link.TakeLinePart(r.line, bytes);
        r.longestHeld = qMax(r.longestHeld, r.line.size());
        if (r.complete)
            break;
    }
    return r;
}

struct Judged {
    LinkResult result = NoReply;
    QByteArray reply;
    int count = -1;
};

Judged judge(DeviceLink &link, const QByteArray &line, quint8 minLength)
{
    StdoutCapture quiet;
    Judged j;
    quint8 count = 0;
    j.result = link.JudgeReadReply(line, j.reply, count, minLength);
    j.count = count;
    return j;
}

const QByteArray StatusData = QByteArray::fromHex("D204370200000101");

}  // namespace

class ReceivePathTest : public QObject
{
    Q_OBJECT

private slots:
    void frameCutAnywhereIsGatheredWhole()
    {
        const QByteArray frame = replyFrame(Status, AccessRead, StatusData);
        for (int cut = 0; cut <= frame.size(); ++cut) {
            DeviceLink link;
            const Received r = receive(link, {frame.left(cut), frame.mid(cut)});
            QVERIFY2(r.complete, qPrintable(QString::number(cut)));
            QCOMPARE(r.line, frame);

            const Judged j = judge(link, r.line, StatusReply.min);
            QCOMPARE(j.result, GoodReply);
            QCOMPARE(j.count, int(StatusReply.full));
            StatusRecord record;
            QVERIFY(DeviceLink::FillStatus(j.reply, record));
            QCOMPARE(record.Voltage, 1234);
            QCOMPARE(record.Current, 567);
            QCOMPARE(record.CvFlag, 1);
            QCOMPARE(record.OutputOn, 1);
        }
    }

    void frameByteByByteCompletesOnTheTerminator()
    {
        const QByteArray frame = replyFrame(Calibration, AccessRead, QByteArray(22, '\x5A'));
        QCOMPARE(frame.size(), MaxLineChars);
        DeviceLink link;
        StdoutCapture quiet;
        QByteArray line;
        for (int i = 0; i < frame.size(); ++i)
            QCOMPARE(link.TakeLinePart(line, frame.mid(i, 1)), i == frame.size() - 1);
        QCOMPARE(line, frame);
    }

    void junkNeverGrowsTheHeldLine()
    {
        // A start character and then hex digits without end, in full reads,
        // followed by a good frame: the junk is dropped and the frame taken.
        const QByteArray frame = replyFrame(Setpoints, AccessRead, QByteArray::fromHex("88130A00"));
        QList<QByteArray> reads{"#" + QByteArray(DeviceLink::ReadChunk - 1, '0')};
        for (int i = 0; i < 20; ++i)
            reads.append(QByteArray(DeviceLink::ReadChunk, 'F'));
        reads.append(frame);
        DeviceLink link;
        const Received r = receive(link, reads);
        QVERIFY(r.complete);
        QCOMPARE(r.line, frame);
        QVERIFY(r.longestHeld <= MaxLineChars + DeviceLink::ReadChunk);
    }

    // Lines at the edges of what the decoder and the judge accept, whole or
    // cut into reads; kept from the fuzzer's exploration of the receive path.
    void edgeLines_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<quint8>("minLength");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<LinkResult>("result");

        const QByteArray longest = replyFrame(Calibration, AccessRead, QByteArray(22, '\xFF'));
        QByteArray oneOver = longest;
        oneOver.insert(1, "00");
        QTest::newRow("longest frame, terminator alone in the next read")
            << QList<QByteArray>{longest.chopped(1), "\r"} << CalibrationReply.min << true << GoodReply;
        QTest::newRow("one byte past the longest frame")
            << QList<QByteArray>{oneOver} << quint8(0) << false << NoReply;
        QTest::newRow("start character ending a full read")
            << QList<QByteArray>{QByteArray(DeviceLink::ReadChunk - 1, 'x') + "#", "800101"} << quint8(0)
            << false << NoReply;
        QTest::newRow("empty body") << QList<QByteArray>{"#\r"} << quint8(0) << true << BadReply;
        QTest::newRow("odd body takes the terminator")
            << QList<QByteArray>{"#800\r"} << quint8(0) << true << BadReply;
        QTest::newRow("NUL inside the body")
            << QList<QByteArray>{QByteArray("#80\0" "1\r", 6)} << quint8(0) << true << BadReply;
        QTest::newRow("lower-case digits")
            << QList<QByteArray>{replyFrame(Setpoints, AccessRead, {}).toLower()} << quint8(0) << true
            << BadReply;
        QTest::newRow("good CRC, zero minimum, header only")
            << QList<QByteArray>{replyFrame(Output, AccessAccepted, {})} << quint8(0) << true << GoodReply;
        QTest::newRow("good CRC, other destination")
            << QList<QByteArray>{replyFrame(Status, AccessRead, StatusData, 0x81)} << StatusReply.min
            << true << BadReply;
        QTest::newRow("high bytes around the frame")
            << QList<QByteArray>{"\xFF\x80#", replyFrame(Setpoints, AccessRead, "\x01\x02").mid(1) + "\xFE"}
            << SetpointsReply.min << true << GoodReply;
    }

    void edgeLines()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(quint8, minLength);
        QFETCH(bool, complete);
        QFETCH(LinkResult, result);

        DeviceLink link;
        const Received r = receive(link, reads);
        QCOMPARE(r.complete, complete);
        QVERIFY(r.longestHeld <= MaxLineChars + DeviceLink::ReadChunk);
        if (!complete)
            return;
        const Judged j = judge(link, r.line, minLength);
        QCOMPARE(j.result, result);
        QVERIFY(j.reply.size() <= MaxFrameBytes);
        if (result == GoodReply)
            QCOMPARE(j.count, j.reply.size());
    }

    void recordFillNeedsItsWholeLayout()
    {
        struct Layout {
            const char *name;
            ReplyLength length;
            std::function<bool(const QByteArray &, int32_t &)> fill;  // first field
        };
        const QList<Layout> layouts{
            {"status", StatusReply,
             [](const QByteArray &b, int32_t &v) {
                 StatusRecord r;
                 r.Voltage = -1;
                 const bool ok = DeviceLink::FillStatus(b, r);
                 v = r.Voltage;
                 return ok;
             }},
            {"measurements", MeasurementsReply,
             [](const QByteArray &b, int32_t &v) {
                 MeasurementRecord r;
                 r.Vsdadc = -1;
                 const bool ok = DeviceLink::FillMeasurements(b, r);
                 v = r.Vsdadc;
                 return ok;
             }},
            {"set-points", SetpointsReply,
             [](const QByteArray &b, int32_t &v) {
                 SetpointRecord r;
                 r.VoltageSet = -1;
                 const bool ok = DeviceLink::FillSetpoints(b, r);
                 v = r.VoltageSet;
                 return ok;
             }},
            {"calibration", CalibrationReply,
             [](const QByteArray &b, int32_t &v) {
                 CalibrationRecord r;
                 r.KuDacVolt = -1;
                 const bool ok = DeviceLink::FillCalibration(b, r);
                 v = r.KuDacVolt;
                 return ok;
             }},
            {"user parameters", UserParamsReply,
             [](const QByteArray &b, int32_t &v) {
                 UserParamRecord r;
                 r.NVPstatus = -1;
                 const bool ok = DeviceLink::FillUserParams(b, r);
                 v = r.NVPstatus;
                 return ok;
             }},
            {"short user parameters", UserParamsShortReply,
             [](const QByteArray &b, int32_t &v) {
                 UserParamShortRecord r;
                 r.Word0 = -1;
                 const bool ok = DeviceLink::FillUserParamsShort(b, r);
                 v = r.Word0;
                 return ok;
             }},
        };
        for (const Layout &layout : layouts) {
            const QByteArray full(layout.length.full, '\0');
            int32_t first = 0;
            QVERIFY2(!layout.fill(full.chopped(1), first), layout.name);
            QCOMPARE(first, -1);
            QVERIFY2(layout.fill(full, first), layout.name);
            QCOMPARE(first, 0);
        }
    }
};

PANEL_TEST_MAIN(ReceivePathTest)
#include "tst_receivepath.moc"
