// The receive path without a port: the bytes of each read go through
// TakeLinePart, and the record layouts, as the fuzzer drives them. Lengths are
// the command set's, written out. A frame cut anywhere and the judging of
// complete lines are tst_linktransactions', on a real port.

#include "commandset.h"
#include "devicelink.h"
#include "stdoutcapture.h"
#include "replyframe.h"
#include "testmain.h"

using namespace CommandSet;

namespace {

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

    // The longest frame, 58 characters, byte by byte: complete on its
    // terminator and not before.
    void longestFrameByteByByte()
    {
        const QByteArray frame = ReplyFrame(1, Calibration, AccessRead, QByteArray(22, '\x5A'));
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
