// The supply's behaviour without any I/O: regulation, measurements, memories,
// the command handler, the fault plan, the line assembler and the traceable
// pattern.

#include "commandhandler.h"
#include "faultplan.h"
#include "lineassembler.h"
#include "recordwire.h"
#include "supplymodel.h"
#include "traceablepattern.h"
#include "testmain.h"

namespace {

QByteArray request(quint8 command, quint8 access, const QByteArray &payload = {})
{
    // CRC bytes are not looked at by the handler; the responder checks them.
    QByteArray bytes;
    bytes.append(char(0x01)).append(char(0x80)).append(char(command)).append(char(access));
    bytes.append(payload);
    bytes.append(2, '\0');
    return bytes;
}

}  // namespace

class TestSupplyModel : public QObject
{
    Q_OBJECT

private slots:
    void regulationFollowsTheLoad_data();
    void regulationFollowsTheLoad();
    void outputOffReportsNothing();
    void measurementsAreNoisyButReproducible();
    void temperatureLagsTheDissipatedPower();
    void lifeCounterIsTheSupplysOwn();

    void handlerReadsGiveFullLayouts();
    void handlerWritesChangeTheModel();
    void handlerOutputSwitchValues();
    void handlerIgnoresWhatItDoesNotKnow();

    void faultPlanIsReproducible();
    void faultPlanExtremes();
    void faultShapeKeepsTheFrameRecoverable();

    void assemblerCutsLines();
    void traceablePatternDetectsForeignData();
};

void TestSupplyModel::regulationFollowsTheLoad_data()
{
    QTest::addColumn<double>("ohms");
    QTest::addColumn<int>("voltage");  // 10 mV
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("fine");
    QTest::addColumn<int>("cc");
    QTest::addColumn<int>("cv");

    // 5 V, 1 A limit.
    QTest::newRow("10 ohm: CV, 500 mA in 0.1 mA") << 10.0 << 500 << 5000 << 1 << 0 << 1;
    QTest::newRow("2 ohm: CC at 1 A, 2 V") << 2.0 << 200 << 1000 << 0 << 1 << 0;
    QTest::newRow("open circuit: CV, no current") << 0.0 << 500 << 0 << 1 << 0 << 1;
    QTest::newRow("negative is open too") << -1.0 << 500 << 0 << 1 << 0 << 1;
}

void TestSupplyModel::regulationFollowsTheLoad()
{
    QFETCH(double, ohms);
    SupplyModel model;
    model.setOutputOn(true);
    model.setLoadOhms(ohms);
    const StatusRecord s = model.status();
    QFETCH(int, voltage);
    QFETCH(int, current);
    QFETCH(int, fine);
    QFETCH(int, cc);
    QFETCH(int, cv);
    QCOMPARE(s.Voltage, voltage);
    QCOMPARE(s.Current, current);
    QCOMPARE(s.CurrentFine, fine);
    QCOMPARE(s.CcFlag, cc);
    QCOMPARE(s.CvFlag, cv);
    QCOMPARE(s.OutputOn, 1);
}

void TestSupplyModel::outputOffReportsNothing()
{
    SupplyModel model;
    QVERIFY(!model.outputOn());
    const StatusRecord s = model.status();
    QCOMPARE(s.Voltage, 0);
    QCOMPARE(s.Current, 0);
    QCOMPARE(s.CcFlag, 0);
    QCOMPARE(s.CvFlag, 0);
    QCOMPARE(s.OutputOn, 0);
}

void TestSupplyModel::measurementsAreNoisyButReproducible()
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
        const MeasurementRecord rb = b.measurements();
        QCOMPARE(RecordWire::pack(ra), RecordWire::pack(rb));
        QVERIFY(qAbs(ra.Vsdadc - truth.Vsdadc) <= 2);
        QVERIFY(qAbs(ra.Vin - truth.Vin) <= 5);
        varied = varied || ra.Vsdadc != truth.Vsdadc;
    }
    QVERIFY(varied);
}

void TestSupplyModel::temperatureLagsTheDissipatedPower()
{
    SupplyModel model;
    model.setOutputOn(true);
    model.setSetpoints(5000, 5000);
    model.setLoadOhms(2.0);  // 2.5 A at 5 V with some 30 V in front of it
    const double target =
        SupplyModel::AmbientCelsius + SupplyModel::ThermalKelvinPerWatt * model.dissipatedWatts();
    QVERIFY(target > 40.0);

    model.advance(qint64(SupplyModel::ThermalTimeConstantS * 1000));  // one time constant
    const double oneTau = SupplyModel::AmbientCelsius + (target - SupplyModel::AmbientCelsius) * 0.632;
    QVERIFY2(qAbs(model.temperatureCelsius() - oneTau) < 0.5, qPrintable(QString::number(model.temperatureCelsius())));

    // The same span in small steps ends at the same place.
    SupplyModel stepped;
    stepped.setOutputOn(true);
    stepped.setSetpoints(5000, 5000);
    stepped.setLoadOhms(2.0);
    for (int i = 0; i < SupplyModel::ThermalTimeConstantS * 10; ++i)
        stepped.advance(100);
    QVERIFY(qAbs(stepped.temperatureCelsius() - model.temperatureCelsius()) < 0.01);

    // Switched off it cools towards the idle temperature.
    model.setOutputOn(false);
    const double idle =
        SupplyModel::AmbientCelsius + SupplyModel::ThermalKelvinPerWatt * model.dissipatedWatts();
    QVERIFY(idle < 30.0);
    model.advance(qint64(SupplyModel::ThermalTimeConstantS * 10000));
    QVERIFY(qAbs(model.temperatureCelsius() - idle) < 0.05);
}

void TestSupplyModel::lifeCounterIsTheSupplysOwn()
{
    SupplyModel model;
    const UserParamRecord initial = model.userParams();
    QCOMPARE(initial.NVPstatus, 1);
    QCOMPARE(initial.CurrTrigTime, 20);
    QCOMPARE(initial.AdjStatus, 1);
    QCOMPARE(initial.CurrAdgStatus, 3);
    QCOMPARE(initial.VoltmetrTime, 100);
    QCOMPARE(initial.LifeCounter, 0);

    model.advance(7500);
    QCOMPARE(model.userParams().LifeCounter, 7);

    UserParamRecord written = initial;
    written.LifeCounter = 999;
    written.VoltmetrTime = 50;
    model.setUserParams(written);
    QCOMPARE(model.userParams().LifeCounter, 7);
    QCOMPARE(model.userParams().VoltmetrTime, 50);
}

void TestSupplyModel::handlerReadsGiveFullLayouts()
{
    const struct {
        quint8 command;
        int dataBytes;
    } reads[] = {{0x01, 8}, {0x10, 12}, {0x03, 4}, {0xA8, 22}, {0xAB, 10}};
    SupplyModel model;
    for (const auto &read : reads) {
        const auto answer = CommandHandler::answer(model, request(read.command, 0x01));
        QVERIFY(answer);
        QVERIFY(answer->isRead);
        QCOMPARE(answer->command, read.command);
        QCOMPARE(answer->access, quint8(0x01));
        QCOMPARE(answer->data.size(), read.dataBytes);
    }
    // Calibration defaults on the wire: gains 1000 (0x03E8), offsets and Rout 0.
    const auto calibration = CommandHandler::answer(model, request(0xA8, 0x01));
    QCOMPARE(calibration->data.toHex(), QByteArray("e8030000e8030000e8030000e8030000e80300000000"));
}

void TestSupplyModel::handlerWritesChangeTheModel()
{
    SupplyModel model;
    const QByteArray setpoints = QByteArray::fromHex("3430DC05");  // 12340 mV, 1500 mA
    auto answer = CommandHandler::answer(model, request(0x03, 0x11, setpoints));
    QVERIFY(answer);
    QCOMPARE(answer->access, quint8(0x1F));
    QVERIFY(answer->data.isEmpty());
    QCOMPARE(model.voltageSetMv(), 12340);
    QCOMPARE(model.currentSetMa(), 1500);

    // Calibration: written in wire order, read back the same, signs kept.
    const QByteArray calibration = QByteArray::fromHex("1004FFFFB004F6FF2003CEFFE8030A00FFFF8403" "0500");
    answer = CommandHandler::answer(model, request(0xA8, 0x11, calibration));
    QVERIFY(answer);
    QCOMPARE(answer->access, quint8(0x1F));
    QCOMPARE(model.calibration().OffDacVolt, -1);
    QCOMPARE(model.calibration().KuAdcCurrFine, 65535);
    QCOMPARE(model.calibration().OffAdcCurrFine, 900);
    QCOMPARE(model.calibration().Rout, 5);
    QCOMPARE(CommandHandler::answer(model, request(0xA8, 0x01))->data, calibration);

    // User parameters: the life counter bytes are not taken.
    const QByteArray user = QByteArray::fromHex("00" "3412" "01" "64" "01" "05" "00" "04" "01");
    answer = CommandHandler::answer(model, request(0xAB, 0x11, user));
    QVERIFY(answer);
    const UserParamRecord stored = model.userParams();
    QCOMPARE(stored.NVPstatus, 0);
    QCOMPARE(stored.LifeCounter, 0);
    QCOMPARE(stored.CurrTrigStat, 1);
    QCOMPARE(stored.CurrTrigTime, 100);
    QCOMPARE(stored.VoltmetrStatus, 1);
    QCOMPARE(stored.VoltmetrTime, 5);
    QCOMPARE(stored.AdjStatus, 0);
    QCOMPARE(stored.CurrAdgStatus, 4);
    QCOMPARE(stored.CurrentTrigger, 1);
}

void TestSupplyModel::handlerOutputSwitchValues()
{
    SupplyModel model;
    auto send = [&model](const char *hex) {
        return CommandHandler::answer(model, request(0x07, 0x11, QByteArray::fromHex(hex)));
    };
    QVERIFY(send("9A1B"));
    QVERIFY(model.outputOn());
    const auto other = send("0100");
    QVERIFY(other);  // acknowledged ...
    QCOMPARE(other->access, quint8(0x1F));
    QVERIFY(model.outputOn());  // ... but nothing changes
    QVERIFY(send("0000"));
    QVERIFY(!model.outputOn());
}

void TestSupplyModel::handlerIgnoresWhatItDoesNotKnow()
{
    SupplyModel model;
    QVERIFY(!CommandHandler::answer(model, request(0x55, 0x01)));              // unknown command
    QVERIFY(!CommandHandler::answer(model, request(0x07, 0x01)));              // output is write-only
    QVERIFY(!CommandHandler::answer(model, request(0x01, 0x21)));              // unknown access
    QVERIFY(!CommandHandler::answer(model, request(0x01, 0x11)));              // status is read-only
    QVERIFY(!CommandHandler::answer(model, request(0x03, 0x11, "\x01\x02")));  // short write
    QVERIFY(!CommandHandler::answer(model, request(0x01, 0x01, "\x01")));      // read with payload
    QVERIFY(!CommandHandler::answer(model, QByteArray(5, '\x01')));            // too short a frame
    QCOMPARE(model.voltageSetMv(), 5000);
}

void TestSupplyModel::faultPlanIsReproducible()
{
    FaultPlan::Rates rates;
    rates.drop = rates.corrupt = rates.split = rates.noise = rates.late = 0.4;
    FaultPlan a(rates, 7), b(rates, 7), c(rates, 8);
    QList<FaultPlan::Decision> fromA, fromC;
    int drops = 0, splits = 0, late = 0;
    for (int i = 0; i < 50; ++i) {
        const FaultPlan::Decision d = a.next();
        QVERIFY(d == b.next());
        fromA.append(d);
        fromC.append(c.next());
        drops += d.drop;
        splits += !d.cuts.isEmpty();
        late += d.delayMs > 0;
    }
    QVERIFY(fromA != fromC);
    // 0.4 of 50: far from none and from all.
    for (int count : {drops, splits, late})
        QVERIFY2(count > 8 && count < 35, qPrintable(QString::number(count)));
}

void TestSupplyModel::faultPlanExtremes()
{
    FaultPlan never(FaultPlan::Rates(), 3);
    FaultPlan::Rates all;
    all.drop = all.corrupt = all.split = all.noise = all.late = 1.0;
    FaultPlan always(all, 3);
    for (int i = 0; i < 20; ++i) {
        QVERIFY(never.next() == FaultPlan::Decision());
        const FaultPlan::Decision d = always.next();
        QVERIFY(d.drop && d.corrupt);
        QVERIFY(d.cuts.size() >= 1 && d.cuts.size() <= 3);
        QVERIFY(d.gapMs >= 2 && d.gapMs <= 8);
        QVERIFY(!d.junk.isEmpty() && !d.junk.contains('#'));
        QVERIFY(d.delayMs >= FaultPlan::LateMinMs && d.delayMs <= FaultPlan::LateMaxMs);
        QVERIFY(FaultPlan::shape(d, "#8001031FD845\r").isEmpty());
    }
}

void TestSupplyModel::faultShapeKeepsTheFrameRecoverable()
{
    const QByteArray frame = "#80010101F401881301000101EEB8\r";
    FaultPlan::Rates rates;
    rates.corrupt = rates.split = rates.noise = 1.0;
    FaultPlan plan(rates, 11);
    for (int i = 0; i < 30; ++i) {
        const FaultPlan::Decision d = plan.next();
        const QList<QByteArray> pieces = FaultPlan::shape(d, frame);
        QVERIFY(pieces.size() >= 2 && pieces.size() <= 4);
        for (const QByteArray &piece : pieces)
            QVERIFY(!piece.isEmpty());
        const QByteArray text = pieces.join();
        QVERIFY(text.startsWith(d.junk));
        const QByteArray sent = text.mid(d.junk.size());
        QCOMPARE(sent.size(), frame.size());
        // Exactly one character differs, and it is a CRC digit.
        int differing = 0;
        for (int k = 0; k < frame.size(); ++k) {
            if (sent.at(k) != frame.at(k)) {
                ++differing;
                QVERIFY(k >= frame.size() - 5 && k < frame.size() - 1);
                QVERIFY(QByteArray("0123456789ABCDEF").contains(sent.at(k)));
            }
        }
        QCOMPARE(differing, 1);
    }
}

void TestSupplyModel::assemblerCutsLines()
{
    LineAssembler assembler(20);
    QCOMPARE(assembler.feed("junk#0180"), QList<QByteArray>());
    QCOMPARE(assembler.feed("0101EA3E\r#01\r"), (QList<QByteArray>{"#01800101EA3E\r", "#01\r"}));
    // A start character begins the line anew.
    QCOMPARE(assembler.feed("#0180#01800101EA3E\r"), QList<QByteArray>{"#01800101EA3E\r"});
    // Too long: dropped whole, and the next line is found again.
    QCOMPARE(assembler.feed("#" + QByteArray(30, 'A') + "\r"), QList<QByteArray>());
    QCOMPARE(assembler.feed("tail\r#A\r"), QList<QByteArray>{"#A\r"});
}

void TestSupplyModel::traceablePatternDetectsForeignData()
{
    const QByteArray status = TraceablePattern::data(0x01, 8, 0x1234);
    QCOMPARE(status.left(2), QByteArray("\x34\x12"));
    QVERIFY(TraceablePattern::matches(0x01, status));
    QCOMPARE(TraceablePattern::serialOf(0x01, status), 0x1234);
    QVERIFY(!TraceablePattern::matches(0x10, status));  // answer to another command
    QCOMPARE(TraceablePattern::serialOf(0x10, status), -1);
    for (int k = 0; k < status.size(); ++k) {
        QByteArray altered = status;
        altered[k] = char(altered.at(k) ^ 0x04);
        QVERIFY2(!TraceablePattern::matches(0x01, altered), qPrintable(QString::number(k)));
    }
    QVERIFY(!TraceablePattern::matches(0x01, status.left(2)));

    // Through a decoded record, as a client holds it.
    const QByteArray measured = TraceablePattern::data(0x10, 12, 77);
    MeasurementRecord record;
    record.Vsdadc = RecordWire::unpackU16(measured, 0);
    record.Csdadc = RecordWire::unpackU16(measured, 2);
    record.Temp = RecordWire::unpackU16(measured, 4);
    record.Vin = RecordWire::unpackU16(measured, 6);
    record.Vref = RecordWire::unpackU16(measured, 8);
    record.Vpwm = RecordWire::unpackU16(measured, 10);
    QVERIFY(TraceablePattern::matches(record));
    std::swap(record.Vref, record.Vpwm);  // the classic wire-order slip
    QVERIFY(!TraceablePattern::matches(record));
}

PANEL_TEST_MAIN(TestSupplyModel)
#include "tst_supplymodel.moc"
