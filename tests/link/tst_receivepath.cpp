// The receive path without a port: the bytes of each read go through
// TakeLinePart, complete lines through JudgeReadReply and the record layouts,
// as the fuzzer drives them. Lengths are the command set's, written out.

#include "commandset.h"
#include "devicelink.h"
#include "stdoutcapture.h"
#include "replyframe.h"
#include "testmain.h"

using namespace CommandSet;

namespace {

QByteArray replyFrame(quint8 command, quint8 access, const QByteArray &data)
{
    return ReplyFrame(1, command, access, data);
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

// Fills nothing from a reply one byte short of the layout, and the first field
// from the whole one.
template <typename Record>
bool needsWholeLayout(bool (*fill)(const QByteArray &, Record &), int32_t Record::*first, int fullLength)
{
    const QByteArray full(fullLength, '\0');
    Record record;
    record.*first = -1;
    if (fill(full.chopped(1), record) || record.*first != -1)
        return false;
    return fill(full, record) && record.*first == 0;
}

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
            QVERIFY(r.longestHeld <= 30);

            const Judged j = judge(link, r.line, 11);
            QCOMPARE(j.result, GoodReply);
            QCOMPARE(j.count, 14);
            StatusRecord record;
            QVERIFY(DeviceLink::FillStatus(j.reply, record));
            QCOMPARE(record.Voltage, 1234);
            QCOMPARE(record.Current, 567);
            QCOMPARE(record.CvFlag, 1);
            QCOMPARE(record.OutputOn, 1);
        }
    }

    // The longest frame, 58 characters, byte by byte: complete on its
    // terminator and not before.
    void longestFrameByteByByte()
    {
        const QByteArray frame = replyFrame(Calibration, AccessRead, QByteArray(22, '\x5A'));
        QCOMPARE(frame.size(), 58);
        DeviceLink link;
        StdoutCapture quiet;
        QByteArray line;
        for (int i = 0; i < frame.size(); ++i)
            QCOMPARE(link.TakeLinePart(line, frame.mid(i, 1)), i == frame.size() - 1);
        QCOMPARE(line, frame);
    }

    // Each layout refuses a reply one byte short and leaves the record as it was.
    void recordFillNeedsItsWholeLayout()
    {
        // Header 4, data, CRC 2.
        QVERIFY(needsWholeLayout(&DeviceLink::FillStatus, &StatusRecord::Voltage, 14));
        QVERIFY(needsWholeLayout(&DeviceLink::FillMeasurements, &MeasurementRecord::Vsdadc, 18));
        QVERIFY(needsWholeLayout(&DeviceLink::FillSetpoints, &SetpointRecord::VoltageSet, 10));
        QVERIFY(needsWholeLayout(&DeviceLink::FillCalibration, &CalibrationRecord::KuDacVolt, 28));
        QVERIFY(needsWholeLayout(&DeviceLink::FillUserParams, &UserParamRecord::NVPstatus, 16));
        QVERIFY(needsWholeLayout(&DeviceLink::FillUserParamsShort, &UserParamShortRecord::Word0, 11));
    }
};

PANEL_TEST_MAIN(ReceivePathTest)
#include "tst_receivepath.moc"
