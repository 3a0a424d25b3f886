// The supply's behaviour without any I/O: regulation, measurements, the
// command handler, and the fault plan and traceable pattern the soak relies on.

#include "commandhandler.h"
#include "faultplan.h"
#include "recordwire.h"
#include "supplymodel.h"
#include "traceablepattern.h"
#include "testmain.h"

namespace {

// CRC bytes are not looked at by the handler; the responder checks them.
QByteArray request(quint8 command, quint8 access, const QByteArray &payload = {})
{
    return QByteArray("\x01\x80", 2) + char(command) + char(access) + payload + QByteArray(2, '\0');
}

}  // namespace

class TestSupplyModel : public QObject
{
    Q_OBJECT

private slots:
    void regulationFollowsTheLoad_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<double>("ohms");
        QTest::addColumn<int>("voltage");  // 10 mV
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("fine");
        QTest::addColumn<int>("cc");
        QTest::addColumn<int>("cv");
        // 5 V, 1 A limit.
        QTest::newRow("10 ohm: CV, 500 mA in 0.1 mA") << true << 10.0 << 500 << 5000 << 1 << 0 << 1;
        QTest::newRow("2 ohm: CC at 1 A, 2 V") << true << 2.0 << 200 << 1000 << 0 << 1 << 0;
        QTest::newRow("open circuit: CV, no current") << true << 0.0 << 500 << 0 << 1 << 0 << 1;
        QTest::newRow("output off: nothing, no lamp") << false << 10.0 << 0 << 0 << 1 << 0 << 0;
    }

    void regulationFollowsTheLoad()
    {
        QFETCH(bool, on);
        QFETCH(double, ohms);
        QFETCH(int, voltage);
        QFETCH(int, current);
        QFETCH(int, fine);
        QFETCH(int, cc);
        QFETCH(int, cv);
        SupplyModel model;
        model.setOutputOn(on);
        model.setLoadOhms(ohms);
        const StatusRecord s = model.status();
        QCOMPARE(s.Voltage, voltage);
        QCOMPARE(s.Current, current);
        QCOMPARE(s.CurrentFine, fine);
        QCOMPARE(s.CcFlag, cc);
        QCOMPARE(s.CvFlag, cv);
        QCOMPARE(s.OutputOn, on ? 1 : 0);
    }

    void measurementsAreNoisyButReproducible()
    {
        SupplyModel a(42), b(42), exact;
        for (SupplyModel *m : {&a, &b, &exact}) {
            m->setOutputOn(true);
            m->setSetpoints(12000, 3000);
            m->setLoadOhms(6.0);  // 2 A, CV
        }
        exact.setNoiseEnabled(false);
        const MeasurementRecord truth = exact.measurements();
        QCOMPARE(truth.Vsdadc, 12000);
        QCOMPARE(truth.Csdadc, 2000);
        QCOMPARE(truth.Temp, 250);
        QCOMPARE(truth.Vref, 2500);
        QVERIFY(truth.Vin > truth.Vpwm);
        QVERIFY(truth.Vpwm > truth.Vsdadc);
        bool varied = false;
        for (int i = 0; i < 20; ++i) {
            const MeasurementRecord ra = a.measurements();
            QCOMPARE(RecordWire::pack(ra), RecordWire::pack(b.measurements()));
            QVERIFY(qAbs(ra.Vsdadc - truth.Vsdadc) <= 2);
            QVERIFY(qAbs(ra.Vin - truth.Vin) <= 5);
            varied = varied || ra.Vsdadc != truth.Vsdadc;
        }
        QVERIFY(varied);
    }

    void handlerReadsGiveFullLayouts()
    {
        SupplyModel model;
        for (const auto &read : {qMakePair(0x01, 8), qMakePair(0x10, 12), qMakePair(0x03, 4),
                                 qMakePair(0xA8, 22), qMakePair(0xAB, 10)}) {
            const auto answer = CommandHandler::answer(model, request(quint8(read.first), 0x01));
            QVERIFY(answer && answer->isRead);
            QCOMPARE(answer->command, quint8(read.first));
            QCOMPARE(answer->access, quint8(0x01));
            QCOMPARE(answer->data.size(), read.second);
        }
    }

    void handlerWritesChangeTheModel()
    {
        SupplyModel model;
        auto write = [&model](quint8 command, const char *hex) {
            const auto answer = CommandHandler::answer(model, request(command, 0x11, QByteArray::fromHex(hex)));
            return answer && answer->access == 0x1F && answer->data.isEmpty();
        };
        QVERIFY(write(0x03, "3430DC05"));  // 12340 mV, 1500 mA
        QCOMPARE(model.voltageSetMv(), 12340);
        QCOMPARE(model.currentSetMa(), 1500);
        QVERIFY(write(0x07, "9A1B"));
        QVERIFY(model.outputOn());
        QVERIFY(write(0x07, "0000"));
        QVERIFY(!model.outputOn());

        // Calibration: written in wire order, read back the same, signs kept.
        const char *calibration = "1004FFFFB004F6FF2003CEFFE8030A00FFFF84030500";
        QVERIFY(write(0xA8, calibration));
        QCOMPARE(model.calibration().OffDacVolt, -1);
        QCOMPARE(model.calibration().KuAdcCurrFine, 65535);
        QCOMPARE(model.calibration().OffAdcCurrFine, 900);
        QCOMPARE(model.calibration().Rout, 5);
        QCOMPARE(CommandHandler::answer(model, request(0xA8, 0x01))->data, QByteArray::fromHex(calibration));

        // User parameters: the life counter (seconds up) is the supply's own.
        model.advance(7500);
        QVERIFY(write(0xAB, "00" "3412" "01" "64" "01" "05" "00" "04" "01"));
        QCOMPARE(RecordWire::pack(model.userParams()).toHex(), QByteArray("00" "0700" "01" "64" "01" "05" "00" "04" "01"));
    }

    void faultPlanIsReproducible()
    {
        FaultPlan::Rates rates;
        rates.drop = rates.corrupt = rates.split = rates.noise = rates.late = 0.4;
        FaultPlan a(rates, 7), b(rates, 7), c(rates, 8);
        bool otherSeedDiffers = false;
        int drops = 0, splits = 0, late = 0;
        for (int i = 0; i < 50; ++i) {
            const FaultPlan::Decision d = a.next();
            QVERIFY(d == b.next());
            otherSeedDiffers = otherSeedDiffers || !(d == c.next());
            drops += d.drop;
            splits += !d.cuts.isEmpty();
            late += d.delayMs > 0;
        }
        QVERIFY(otherSeedDiffers);
        // 0.4 of 50: far from none and from all.
        for (int count : {drops, splits, late})
            QVERIFY2(count > 8 && count < 35, qPrintable(QString::number(count)));
    }

    // The soak's ledger takes a reply from its first '#' and judges an
    // acknowledgement by its access byte alone: noise must never hold '#', and
    // corruption must only ever change a CRC digit.
    void faultShapeKeepsTheFrameRecoverable()
    {
        const QByteArray frame = "#80010101F401881301000101EEB8\r";
        FaultPlan::Rates rates;
        rates.corrupt = rates.split = rates.noise = 1.0;
        FaultPlan plan(rates, 11);
        for (int i = 0; i < 30; ++i) {
            const FaultPlan::Decision d = plan.next();
            const QList<QByteArray> pieces = FaultPlan::shape(d, frame);
            QVERIFY(pieces.size() >= 2 && pieces.size() <= 4);
            QVERIFY(!d.junk.isEmpty() && !d.junk.contains('#'));
            const QByteArray text = pieces.join();
            QVERIFY(text.startsWith(d.junk));
            const QByteArray sent = text.mid(d.junk.size());
            const int crcAt = frame.size() - 5;
            QCOMPARE(sent.size(), frame.size());
            QCOMPARE(sent.left(crcAt), frame.left(crcAt));
            QCOMPARE(sent.right(1), QByteArray("\r"));
            const QByteArray crc = sent.mid(crcAt, 4);
            QVERIFY(crc != frame.mid(crcAt, 4));
            QCOMPARE(QByteArray::fromHex(crc).toHex().toUpper(), crc);  // still hex digits
        }
    }

    // The soak counts read replies whose data is not the pattern; that count
    // means something only if any foreign byte breaks the match.
    void traceablePatternDetectsForeignData()
    {
        const QByteArray status = TraceablePattern::data(0x01, 8, 0x1234);
        QVERIFY(TraceablePattern::matches(0x01, status));
        QVERIFY(!TraceablePattern::matches(0x10, status));  // answer to another command
        QVERIFY(!TraceablePattern::matches(0x01, status.left(2)));
        for (int k = 0; k < status.size(); ++k) {
            QByteArray altered = status;
            altered[k] = char(altered.at(k) ^ 0x04);
            QVERIFY2(!TraceablePattern::matches(0x01, altered), qPrintable(QString::number(k)));
        }
    }
};

PANEL_TEST_MAIN(TestSupplyModel)
#include "tst_supplymodel.moc"
