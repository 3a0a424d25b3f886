#include "commandset.h"
#include "linkfixture.h"
#include "testmain.h"

using namespace CommandSet;

namespace {

QByteArray Bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

}  // namespace

class DeviceCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void statusFieldsSignAndOffsets()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        // Voltage 0xFFFE (u16), Current 0xFFFF (s16), fine 2, CC 3, CV 4, on 5.
        f.supply->queueRawReply({LinkFixture::Reply(Status, AccessRead, Bytes("FEFFFFFF02030405"))});
        StatusRecord r;
        QCOMPARE(f.link.GetStatus(1, r), GoodReply);
        QCOMPARE(r.Voltage, 65534);
        QCOMPARE(r.Current, -1);
        QCOMPARE(r.CurrentFine, 2);
        QCOMPARE(r.CcFlag, 3);
        QCOMPARE(r.CvFlag, 4);
        QCOMPARE(r.OutputOn, 5);
    }

    void measurementsTakeVrefBeforeVpwm()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.supply->queueRawReply(
            {LinkFixture::Reply(Measurements, AccessRead, Bytes("0100020003000400FFFF0600"))});
        MeasurementRecord r;
        QCOMPARE(f.link.GetMeasurements(1, r), GoodReply);
        QCOMPARE(r.Vsdadc, 1);
        QCOMPARE(r.Csdadc, 2);
        QCOMPARE(r.Temp, 3);
        QCOMPARE(r.Vin, 4);
        QCOMPARE(r.Vref, 65535);  // unsigned
        QCOMPARE(r.Vpwm, 6);
        QCOMPARE(f.supply->receivedLines().last(), DeviceLink::EncodeFrame(Bytes("01801001")));
    }

    void setpointsCurrentIsSigned()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.supply->queueRawReply({LinkFixture::Reply(Setpoints, AccessRead, Bytes("3430FFFF"))});
        SetpointRecord r;
        QCOMPARE(f.link.GetSetpoints(1, r), GoodReply);
        QCOMPARE(r.VoltageSet, 12340);
        QCOMPARE(r.CurrentSet, -1);
    }

    void calibrationPairsInWireOrder()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        // KuDacVolt, OffDacVolt, KuDacCurr, OffDacCurr, KuAdcVolt, OffAdcVolt,
        // KuAdcCurr, OffAdcCurr, KuAdcCurrFine, OffAdcCurrFine, Rout.
        f.supply->queueRawReply({LinkFixture::Reply(
            Calibration, AccessRead, Bytes("FFFFFFFF0200FEFF030003000400FCFF0500FBFF0A00"))});
        CalibrationRecord r;
        QCOMPARE(f.link.GetCalibration(1, r, AccessRead), GoodReply);
        QCOMPARE(r.KuDacVolt, 65535);
        QCOMPARE(r.OffDacVolt, -1);
        QCOMPARE(r.KuDacCurr, 2);
        QCOMPARE(r.OffDacCurr, -2);
        QCOMPARE(r.KuAdcVolt, 3);
        QCOMPARE(r.OffAdcVolt, 3);
        QCOMPARE(r.KuAdcCurr, 4);
        QCOMPARE(r.OffAdcCurr, -4);
        QCOMPARE(r.KuAdcCurrFine, 5);
        QCOMPARE(r.OffAdcCurrFine, -5);
        QCOMPARE(r.Rout, 10);
    }

    void userParamsAndShortRecord()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        f.supply->queueRawReply({LinkFixture::Reply(UserParams, AccessRead, Bytes("01FFFF0203040506FE07"))});
        UserParamRecord r;
        QCOMPARE(f.link.GetUserParams(1, r, AccessRead), GoodReply);
        QCOMPARE(r.NVPstatus, 1);
        QCOMPARE(r.LifeCounter, 65535);
        QCOMPARE(r.CurrTrigStat, 2);
        QCOMPARE(r.CurrTrigTime, 3);
        QCOMPARE(r.VoltmetrStatus, 4);
        QCOMPARE(r.VoltmetrTime, 5);
        QCOMPARE(r.AdjStatus, 6);
        QCOMPARE(r.CurrAdgStatus, 254);
        QCOMPARE(r.CurrentTrigger, 7);

        f.supply->queueRawReply({LinkFixture::Reply(UserParams, AccessRead, Bytes("3412FF7856"))});
        UserParamShortRecord s;
        QCOMPARE(f.link.GetUserParamsShort(1, s, AccessRead), GoodReply);
        QCOMPARE(s.Word0, 0x1234);
        QCOMPARE(s.Byte2, 0xFF);
        QCOMPARE(s.Word3, 0x5678);
    }

    void failedReadsLeaveRecordsUnchanged()
    {
        VirtualSupply::Options options;
        options.silent = true;
        LinkFixture f(options);
        QVERIFY(f.opened);
        CalibrationRecord calibration;
        calibration.Rout = 7;
        QCOMPARE(f.link.GetCalibration(1, calibration, AccessRead), NoReply);
        QCOMPARE(calibration.Rout, 7);
        UserParamRecord user;
        user.CurrTrigTime = 9;
        f.supply->queueRawReply({LinkFixture::Reply(UserParams, AccessRead, Bytes("01"), 0x02)});
        QCOMPARE(f.link.GetUserParams(1, user, AccessRead), BadReply);
        QCOMPARE(user.CurrTrigTime, 9);
    }

    void writeFramesOnTheWire()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        QCOMPARE(f.link.SetSetpoints(1, 12340, 1500), GoodReply);
        QCOMPARE(f.link.SetOutput(1, OutputOnValue), GoodReply);
        QCOMPARE(f.link.SetOutput(1, OutputOffValue), GoodReply);
        UserParamRecord user;
        user.NVPstatus = 1;
        user.LifeCounter = 4660;
        user.CurrTrigStat = 1;
        user.CurrTrigTime = 300;  // one byte on the wire: 44
        user.VoltmetrStatus = 0;
        user.VoltmetrTime = 100;
        user.AdjStatus = 1;
        user.CurrAdgStatus = 3;
        user.CurrentTrigger = 1;
        QCOMPARE(f.link.SetUserParams(1, user, AccessWrite), GoodReply);
        CalibrationRecord cal;
        cal.KuDacVolt = 1000;
        cal.OffDacVolt = -1;
        QCOMPARE(f.link.SetCalibration(1, cal, AccessWrite), GoodReply);

        const QList<QByteArray> lines = f.supply->receivedLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), QByteArray("#018003113430DC059EAD\r"));
        QCOMPARE(lines.at(1), QByteArray("#018007119A1B1864\r"));
        QCOMPARE(lines.at(2), DeviceLink::EncodeFrame(Bytes("018007110000")));
        QCOMPARE(lines.at(3), DeviceLink::EncodeFrame(Bytes("0180AB11" "010000012C00640103" "01")));
        QCOMPARE(lines.at(4), DeviceLink::EncodeFrame(Bytes("0180A811" "E803FFFF" + QByteArray(36, '0'))));
        QCOMPARE(lines.at(4).size(), MaxLineChars);
    }

    void writesReachTheSupplyAndReadBack()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        CalibrationRecord sent;
        sent.KuDacVolt = 1100;
        sent.KuAdcVolt = 900;
        sent.KuDacCurr = 1200;
        sent.KuAdcCurr = 800;
        sent.KuAdcCurrFine = 1001;
        sent.OffDacVolt = -200;
        sent.OffAdcVolt = 200;
        sent.OffDacCurr = -1;
        sent.OffAdcCurr = 1;
        sent.OffAdcCurrFine = -900;
        sent.Rout = 10;
        QCOMPARE(f.link.SetCalibration(1, sent, AccessWrite), GoodReply);
        CalibrationRecord back;
        QCOMPARE(f.link.GetCalibration(1, back, AccessRead), GoodReply);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&back), sizeof back),
                 QByteArray(reinterpret_cast<const char *>(&sent), sizeof sent));

        QCOMPARE(f.link.SetSetpoints(1, 12340, 1005), GoodReply);
        SetpointRecord setpoints;
        QCOMPARE(f.link.GetSetpoints(1, setpoints), GoodReply);
        QCOMPARE(setpoints.VoltageSet, 12340);
        QCOMPARE(setpoints.CurrentSet, 1005);
    }
};

PANEL_TEST_MAIN(DeviceCommandsTest)
#include "tst_devicecommands.moc"
