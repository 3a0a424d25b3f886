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
        StdoutCapture quiet;
        for (int cut = 0; cut <= frame.size(); ++cut) {
            // Two reads, as GetLine makes them; complete on the second.
            DeviceLink link;
            QByteArray line;
            QVERIFY(!link.TakeLinePart(line, frame.left(cut)) || cut == frame.size());
            QVERIFY(cut == frame.size() || link.TakeLinePart(line, frame.mid(cut)));
            QCOMPARE(line, frame);

            // A status is accepted from 11 bytes and fills its 14.
            QByteArray reply;
            quint8 count = 0;
            QCOMPARE(link.JudgeReadReply(line, reply, count, 11), LinkResult::GoodReply);
            QCOMPARE(int(count), 14);
            StatusRecord record;
            QVERIFY(DeviceLink::FillStatus(reply, record));
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
