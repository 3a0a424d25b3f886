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
    void readLayoutsSignsAndOffsets()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        // Voltage 0xFFFE (u16), Current 0xFFFF (s16), fine 2, CC 3, CV 4, on 5.
        f.supply->queueRawReply({LinkFixture::Reply(Status, AccessRead, Bytes("FEFFFFFF02030405"))});
        StatusRecord r;
        QCOMPARE(f.link.GetStatus(1, r), LinkResult::GoodReply);
        QCOMPARE((QList<int>{r.Voltage, r.Current, r.CurrentFine, r.CcFlag, r.CvFlag, r.OutputOn}),
                 (QList<int>{65534, -1, 2, 3, 4, 5}));

        f.supply->queueRawReply(
            {LinkFixture::Reply(Measurements, AccessRead, Bytes("0100020003000400FFFF0600"))});
        // Vref comes before Vpwm, and is unsigned.
        MeasurementRecord m;
        QCOMPARE(f.link.GetMeasurements(1, m), LinkResult::GoodReply);
        QCOMPARE((QList<int>{m.Vsdadc, m.Csdadc, m.Temp, m.Vin, m.Vref, m.Vpwm}), (QList<int>{1, 2, 3, 4, 65535, 6}));
        QCOMPARE(f.supply->receivedLines().last(), QByteArray("#01801001DA7C\r"));

        f.supply->queueRawReply({LinkFixture::Reply(Setpoints, AccessRead, Bytes("3430FFFF"))});
        SetpointRecord sp;
        QCOMPARE(f.link.GetSetpoints(1, sp), LinkResult::GoodReply);
        QCOMPARE(std::make_pair(sp.VoltageSet, sp.CurrentSet), std::make_pair(12340, -1));  // signed

        // KuDacVolt, OffDacVolt, KuDacCurr, OffDacCurr, KuAdcVolt, OffAdcVolt,
        // KuAdcCurr, OffAdcCurr, KuAdcCurrFine, OffAdcCurrFine, Rout.
        f.supply->queueRawReply({LinkFixture::Reply(
            Calibration, AccessRead, Bytes("FFFFFFFF0200FEFF030003000400FCFF0500FBFF0A00"))});
        CalibrationRecord c;
        QCOMPARE(f.link.GetCalibration(1, c, AccessRead), LinkResult::GoodReply);
        QCOMPARE((QList<int>{c.KuDacVolt, c.OffDacVolt, c.KuDacCurr, c.OffDacCurr, c.KuAdcVolt, c.OffAdcVolt,
                             c.KuAdcCurr, c.OffAdcCurr, c.KuAdcCurrFine, c.OffAdcCurrFine, c.Rout}),
                 (QList<int>{65535, -1, 2, -2, 3, 3, 4, -4, 5, -5, 10}));

        f.supply->queueRawReply({LinkFixture::Reply(UserParams, AccessRead, Bytes("01FFFF0203040506FE07"))});
        UserParamRecord u;
        QCOMPARE(f.link.GetUserParams(1, u, AccessRead), LinkResult::GoodReply);
        QCOMPARE((QList<int>{u.NVPstatus, u.LifeCounter, u.CurrTrigStat, u.CurrTrigTime, u.VoltmetrStatus,
                             u.VoltmetrTime, u.AdjStatus, u.CurrAdgStatus, u.CurrentTrigger}),
                 (QList<int>{1, 65535, 2, 3, 4, 5, 6, 254, 7}));

        f.supply->queueRawReply({LinkFixture::Reply(UserParams, AccessRead, Bytes("3412FF7856"))});
        UserParamShortRecord s;
        QCOMPARE(f.link.GetUserParamsShort(1, s, AccessRead), LinkResult::GoodReply);
        QCOMPARE((QList<int>{s.Word0, s.Byte2, s.Word3}), (QList<int>{0x1234, 0xFF, 0x5678}));
    }

    void writeFramesOnTheWire()
    {
        LinkFixture f;
        QVERIFY(f.opened);
        QCOMPARE(f.link.SetSetpoints(1, 12340, 1500), LinkResult::GoodReply);
        QCOMPARE(f.link.SetOutput(1, OutputOnValue), LinkResult::GoodReply);
        QCOMPARE(f.link.SetOutput(1, OutputOffValue), LinkResult::GoodReply);
        // In field order; CurrTrigTime 300 is one byte on the wire: 44.
        const UserParamRecord user{1, 4660, 1, 300, 0, 100, 1, 3, 1};
        QCOMPARE(f.link.SetUserParams(1, user, AccessWrite), LinkResult::GoodReply);
        CalibrationRecord cal;
        cal.KuDacVolt = 1000;
        cal.OffDacVolt = -1;
        QCOMPARE(f.link.SetCalibration(1, cal, AccessWrite), LinkResult::GoodReply);

        const QList<QByteArray> lines = f.supply->receivedLines();
        QCOMPARE(lines, (QList<QByteArray>{"#018003113430DC059EAD\r", "#018007119A1B1864\r", "#0180071100004C1E\r",
                                           "#0180AB11010000012C00640103013847\r",
                                           "#0180A811E803FFFF" + QByteArray(36, '0') + "DE75\r"}));
    }
};

PANEL_TEST_MAIN(DeviceCommandsTest)
#include "tst_devicecommands.moc"
