// velkaroctl as a user runs it: the built program against the virtual supply
// on a pseudo-terminal, judged by its output, its exit status and what the
// supply holds afterwards.

#include "commandset.h"
#include "ctlprocess.h"
#include "filetext.h"
#include "replyframe.h"
#include "seriallock.h"
#include "supplyoptions.h"
#include "supplyprogram.h"
#include "testmain.h"
#include "virtualsupply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <csignal>
#include <sys/file.h>

using namespace CommandSet;

namespace {

using Result = std::pair<int, QByteArray>;

QJsonObject Json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

// Each line of the output as a JSON object.
QList<QJsonObject> JsonLines(const QByteArray &out)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : out.trimmed().split('\n'))
        objects << QJsonDocument::fromJson(line).object();
    return objects;
}

// Every line of a recording whole: ended, with all its fields.
bool WholeLines(const QByteArray &text, int fields)
{
    for (const QByteArray &line : text.trimmed().split('\n'))
        if (line.count(',') != fields - 1)
            return false;
    return text.endsWith('\n');
}

const QByteArray CalibrationText =
    R"({"KuDacVolt": 1234, "KuAdcVolt": 999, "KuDacCurr": 65535, "KuAdcCurr": 1001,
        "KuAdcCurrFine": 0, "OffDacVolt": -1, "OffAdcVolt": 32767, "OffDacCurr": -32768,
        "OffAdcCurr": 5, "OffAdcCurrFine": -7, "Rout": 42})";
const QByteArray ParamsText =
    R"({"NVPstatus": 0, "CurrTrigStat": 1, "CurrTrigTime": 255, "VoltmetrStatus": 1,
        "VoltmetrTime": 7, "AdjStatus": 0, "CurrAdgStatus": 2, "CurrentTrigger": 1})";

}  // namespace

class TestVelkaroctl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void commandsAgainstTheSupplyProgram();
    void writesEndConfirmedOrFail();
    void silentSupplyFailsEveryCommand_data();
    void silentSupplyFailsEveryCommand();
    void parameterFilesRoundTrip_data();
    void parameterFilesRoundTrip();
    void refusedInputSendsNothing_data();
    void refusedInputSendsNothing();
    void watchForCountDurationAndFormat();
    void watchEndsCleanlyOnSignal();
    void watchWritesNoLineForAFailedSample();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();
    void lostRepliesAreReadAgain();
    void outputThatCannotBeWrittenFails();
    void writeIsFinishedBeforeASignalEnds_data();
    void writeIsFinishedBeforeASignalEnds();
    void portIsLockedOnItsDevice();
    void aLockLeftEmptyIsTakenOnceNobodyHoldsIt();
    void getReadsWhatTheSupplyHolds();
    void repliesLeftByAStallAreNotTakenByTheNextCommand();
    void watchAppendsAndAddsPower();
    void severalAddressesAreWrittenThenConfirmed();
    void watchReadsEveryAddressInTurn();
    void scanListsTheSuppliesThatAnswer();

private:
    // The in-process supply, for tests that look inside it.
    std::unique_ptr<VirtualSupply> supply;
    QString port;
    QStringList at;  // --port and the in-process supply's port

    // Supplies at 1 (10 ohm), 2 (2 ohm) and 5 on the in-process line.
    void serveThreeAddresses();
    // "W<address>" or "R<address>" for each request the line carried.
    QStringList requestsSeen() const;
};

void TestVelkaroctl::serveThreeAddresses()
{
    VirtualSupply::Options options;
    options.address = 1;
    options.moreAddresses = {2, 5};
    options.loadByAddress = {{2, 2.0}};
    supply->setOptions(options);
    supply->clearReceived();
}

QStringList TestVelkaroctl::requestsSeen() const
{
    QStringList seen;
    for (const QByteArray &line : supply->receivedLines()) {
        QByteArray bytes;
        DeviceLink::DecodeLine(line, bytes);
        seen << QStringLiteral("%1%2").arg(bytes.at(3) == char(AccessWrite) ? 'W' : 'R').arg(int(quint8(bytes.at(0))));
    }
    return seen;
}

void TestVelkaroctl::init()
{
    supply = std::make_unique<VirtualSupply>();
    QString error;
    QVERIFY2(supply->open(&error), qPrintable(error));
    supply->model().setNoiseEnabled(false);
    port = supply->portPath();
    at = QStringList{"--port", port};
}

void TestVelkaroctl::commandsAgainstTheSupplyProgram()
{
    const SupplyProcess program(QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--load", "10", "--pace", "--address", "3"});
    QVERIFY(program.up());
    const QStringList at{"--port", program.port, "--address", "3"};

    // Decimal comma in, point out; the supply starts switched off.
    QCOMPARE(Ctl(at + QStringList{"set", "--voltage", "12,34", "--current", "1.5"}).result(),
             Result(0, "voltage set  12.340 V\ncurrent set  1.500 A\n"));
    QCOMPARE(Ctl(at + QStringList{"--json", "status"}).json(),
             Json(R"({"voltage": 0, "current": 0, "mode": null, "output": false})"));
    QCOMPARE(Ctl(at + QStringList{"on"}).result(), Result(0, "output  on\n"));

    // 12.34 V into 10 ohm draws 1.234 A, under the 1.5 A limit: CV.
    const CtlRun run = Ctl(at + QStringList{"status"});
    QCOMPARE(std::make_tuple(run.status, run.out, run.err),
             std::make_tuple(0, QByteArray("voltage  12.34 V\ncurrent  1.234 A\nmode     CV\noutput   on\n"), QByteArray()));
    const CtlRun traced = Ctl(at + QStringList{"--trace", "status"});
    QCOMPARE(traced.out, run.out);
    // One line per frame, request then reply, each with its time stamp.
    const QRegularExpression frames(R"(^\d+\.\d{3} > #03800101[0-9A-F]{4}\n\d+\.\d{3} < #80030101[0-9A-F]+\n$)");
    QVERIFY2(frames.match(QString::fromLatin1(traced.err)).hasMatch(), traced.err);

    // Only the current given: the voltage stays; 0.5 A into 10 ohm limits at 5 V: CC.
    const CtlRun set = Ctl(at + QStringList{"--json", "set", "--current", "0.5"});
    QCOMPARE(set.status, 0);
    QCOMPARE(set.json(), Json(R"({"voltageSet": 12.34, "currentSet": 0.5, "confirmed": true})"));
    QCOMPARE(Ctl(at + QStringList{"--json", "status"}).json(),
             Json(R"({"voltage": 5, "current": 0.5, "mode": "CC", "output": true})"));

    const CtlRun measure = Ctl(at + QStringList{"--json", "measure"});
    QCOMPARE(measure.status, 0);
    const QJsonObject measured = measure.json();
    QVERIFY(qAbs(measured["voltage"].toDouble() - 5.0) <= 0.003);
    QVERIFY(qAbs(measured["current"].toDouble() - 0.5) <= 0.002);
    QVERIFY(qAbs(measured["reference"].toDouble() - 2.5) <= 0.002);
    const CtlRun ports = Ctl({"--json", "ports"});
    QCOMPARE(ports.status, 0);
    QVERIFY(ports.json()["ports"].isArray());
}

void TestVelkaroctl::writesEndConfirmedOrFail()
{
    // 1.005 goes out as 1005 mV, not 1004.
    QCOMPARE(Ctl(at + QStringList{"set", "--voltage", "1.005"}).status, 0);
    QCOMPARE(supply->model().voltageSetMv(), 1005);

    // Acknowledged, but reading back shows 1 V and 0.5 A.
    supply->queueRawReply({ReplyFrame(0, Setpoints, AccessAccepted, {})});
    supply->queueRawReply({ReplyFrame(0, Setpoints, AccessRead, QByteArray::fromHex("E803F401"))});
    CtlRun run = Ctl(at + QStringList{"set", "--voltage", "12", "--current", "1"});
    QCOMPARE(run.result(), Result(1, ""));
    QVERIFY2(run.err.contains("reads back other values: it holds 1.000 V and 0.500 A"), run.err);

    // Acknowledged, but the output still reads off.
    supply->queueRawReply({ReplyFrame(0, Output, AccessAccepted, {})});
    supply->queueRawReply({ReplyFrame(0, Status, AccessRead, QByteArray::fromHex("0000000000000100"))});
    run = Ctl(at + QStringList{"--json", "on"});
    QVERIFY2(run.status == 1 && run.err.contains("the output is still off"), run.told());
    QCOMPARE(run.json()["exit"], QJsonValue(1));
    QVERIFY(!run.json().contains("confirmed"));
    QVERIFY(!supply->model().outputOn());

    // A write the supply refuses is tried four times, then reported.
    for (int i = 0; i < 4; ++i)
        supply->queueRawReply({ReplyFrame(0, Output, 0x11, {})});
    supply->clearReceived();
    run = Ctl(at + QStringList{"on"});
    QCOMPARE(run.status, 1);
    QCOMPARE(supply->receivedLines().size(), 4);
    QVERIFY2(run.err.contains("did not acknowledge the write in 4 tries"), run.err);
}

void TestVelkaroctl::silentSupplyFailsEveryCommand_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Reads and writes alike are tried four times: the request, then a read
    // of another command each time, whose reply could not be mistaken.
    QTest::newRow("status") << QStringList{"status"};
    QTest::newRow("measure") << QStringList{"measure"};
    QTest::newRow("set both") << QStringList{"set", "--voltage", "5", "--current", "1"};
    QTest::newRow("set one") << QStringList{"set", "--voltage", "5"};
    QTest::newRow("on") << QStringList{"on"};
    QTest::newRow("off") << QStringList{"--json", "off"};
    QTest::newRow("params read") << QStringList{"--json", "params", "read"};
}

void TestVelkaroctl::silentSupplyFailsEveryCommand()
{
    QFETCH(QStringList, arguments);
    supply->setOptions(Silent());
    const CtlRun run = Ctl(at + arguments);
    QVERIFY2(run.status == 1 && run.err.contains("did not answer"), run.told());
    // Nothing is claimed: no reading, no confirmation.
    if (arguments.first() == "--json")
        QCOMPARE(run.json().keys(), QStringList({"error", "exit"}));
    else
        QCOMPARE(run.out, QByteArray());
    QCOMPARE(supply->receivedLines().size(), 4);
}

void TestVelkaroctl::parameterFilesRoundTrip_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("calibration") << "calibration" << CalibrationText;
    QTest::newRow("params") << "params" << ParamsText;
}

void TestVelkaroctl::parameterFilesRoundTrip()
{
    QFETCH(QString, block);
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    const QString written = dir.filePath("written.json");
    const QString read = dir.filePath("read.json");
    WriteFile(written, text);
    QCOMPARE(Ctl(at + QStringList{block, "write", written}).status, 0);
    const CtlRun run = Ctl(at + QStringList{block, "read", read});
    QCOMPARE(run.status, 0);
    QJsonObject back = QJsonDocument::fromJson(ReadFile(read)).object();
    QCOMPARE(run.json(), QJsonObject());  // human output without --json
    // The life counter is the supply's own: read, never written.
    if (block == "params")
        QVERIFY(back.take("LifeCounter").isDouble());
    QCOMPARE(back, QJsonDocument::fromJson(text).object());
    SupplyModel &model = supply->model();
    if (block == "calibration")
        QCOMPARE(std::make_pair(int(model.calibration().OffDacCurr), int(model.calibration().KuDacCurr)),
                 std::make_pair(-32768, 65535));
    else
        QCOMPARE(model.userParams().CurrTrigTime, 255);
    // A file as read, life counter included, goes back as it is.
    QCOMPARE(Ctl(at + QStringList{block, "write", read}).status, 0);
}

void TestVelkaroctl::refusedInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("reason");
    const QStringList calibration{"calibration", "write", "FILE"};
    const QStringList params{"params", "write", "FILE"};
    const auto c = [](const char *from, const char *to) { return QByteArray(CalibrationText).replace(from, to); };
    const auto p = [](const char *from, const char *to) { return QByteArray(ParamsText).replace(from, to); };
    const QByteArray missing = c(R"(, "Rout": 42)", ""), range = p("255", "256"), fraction = c("1234", "12.5"),
                     negative = c("65535", "-1"), unknown = p("{", R"({"FanDuty": 3, )"),
                     twice = c("{", R"({"Rout": 0, )"),
                     escapedTwice = p("{", R"({"Adj\u0053tatus": 1, "Note": {"AdjStatus": 1}, )");
    QTest::newRow("malformed") << calibration << QByteArray(R"({"KuDacVolt": 1,)") << QByteArray("not JSON");
    QTest::newRow("an array") << params << QByteArray("[1, 2]") << QByteArray("not a JSON object");
    QTest::newRow("missing field") << calibration << missing << QByteArray("missing field \"Rout\"");
    QTest::newRow("duplicate field") << calibration << twice << QByteArray("field \"Rout\" is given twice");
    QTest::newRow("duplicate, escaped") << params << escapedTwice << QByteArray("field \"AdjStatus\" is given twice");
    QTest::newRow("unknown field") << params << unknown << QByteArray("unknown field \"FanDuty\"");
    QTest::newRow("out of range") << params << range << QByteArray("\"CurrTrigTime\" wants a whole number from 0 to 255");
    QTest::newRow("below range") << calibration << negative << QByteArray("\"KuDacCurr\" wants a whole number from 0 to 65535");
    QTest::newRow("not whole") << calibration << fraction << QByteArray("\"KuDacVolt\" wants a whole number");
    QTest::newRow("no file") << calibration << QByteArray() << QByteArray("cannot read");
    const QByteArray none;
    QTest::newRow("voltage too high") << QStringList{"set", "--voltage", "30.01"} << none << QByteArray("--voltage wants 0.01 to 30 V");
    QTest::newRow("current not a number") << QStringList{"set", "--current", "1.2.3"} << none << QByteArray("--current wants");
    QTest::newRow("set without values") << QStringList{"set"} << none << QByteArray("set wants --voltage, --current or both");
    QTest::newRow("option after command") << QStringList{"status", "--json"} << none << QByteArray("Unknown option 'json'");
    QTest::newRow("unknown command") << QStringList{"--json", "nosuchcmd"} << none << QByteArray("unknown command \"nosuchcmd\"");
    QTest::newRow("address") << QStringList{"--json", "--address", "300", "status"} << none << QByteArray("--address wants 0 to 255");
    QTest::newRow("command option") << QStringList{"--json", "set", "--volt", "5"} << none << QByteArray("Unknown option 'volt'");
    QTest::newRow("run option") << QStringList{"--json", "run", "--recrd", "r.csv"} << none << QByteArray("Unknown option 'recrd'");
    QTest::newRow("serve-scpi option") << QStringList{"--json", "serve-scpi", "--idle"} << none << QByteArray("Unknown option 'idle'");
    QTest::newRow("global option") << QStringList{"--json", "--nosuch", "status"} << none << QByteArray("Unknown option 'nosuch'");
    QTest::newRow("empty port") << QStringList{"--json", "--port", "", "status"} << none << QByteArray("--port is empty");
    QTest::newRow("get what") << QStringList{"--json", "get", "power"} << none << QByteArray("get wants voltage, current or output");
}

void TestVelkaroctl::refusedInputSendsNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("block.json");
    if (!file.isEmpty())
        WriteFile(path, file);
    arguments.replaceInStrings("FILE", path);
    const CalibrationRecord calibration = supply->model().calibration();
    // The port comes from the environment; an empty --port must not fall
    // back to it.
    QProcessEnvironment environment = CtlEnvironment();
    environment.insert(QStringLiteral("VELKARO_PORT"), port);

    const CtlRun run = Ctl(arguments, environment);
    QCOMPARE(run.status, 2);
    if (arguments.first() == "--json") {
        // Told as any failure under --json: the error and the status alone.
        QCOMPARE(run.json().keys(), QStringList({"error", "exit"}));
        QVERIFY2(run.json()["error"].toString().contains(QString::fromUtf8(reason)), run.out);
    } else {
        QVERIFY2(run.err.contains(reason), run.err);
    }
    QCOMPARE(supply->receivedLines(), QList<QByteArray>());
    QCOMPARE(supply->model().calibration().KuDacVolt, calibration.KuDacVolt);
}

void TestVelkaroctl::watchForCountDurationAndFormat()
{
    const QRegularExpression csvLine(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,(\d+\.\d{3}),0\.00,0\.0000,-,off$)");
    CtlRun run = Ctl(at + QStringList{"watch", "--count", "4", "--interval", "0,1"});
    QCOMPARE(run.status, 0);
    QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.size(), 6);  // header, four samples, the empty rest after the last line end
    QCOMPARE(lines[0], QByteArray("time,elapsed_s,voltage_V,current_A,mode,output"));
    for (int k = 1; k <= 4; ++k) {
        const QRegularExpressionMatch match = csvLine.match(QString::fromLatin1(lines[k]));
        QVERIFY2(match.hasMatch(), lines[k]);
        // On the 0.1 s grid of a monotonic clock: no drift from sample to sample.
        QVERIFY2(qAbs(match.captured(1).toDouble() - 0.1 * (k - 1)) < 0.03, lines[k]);
    }

    // 0.5 s at 0.2 s: samples at 0, 0.2 and 0.4 s.
    QTemporaryDir dir;
    const QString output = dir.filePath("run.jsonl");
    run = Ctl(at + QStringList{"watch", "--duration", "0.5", "--interval", "0.2", "--measure",
                               "--format", "jsonl", "--output", output});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QByteArray());
    lines = ReadFile(output).split('\n');
    QCOMPARE(lines.size(), 4);
    for (int k = 0; k < 3; ++k) {
        const QJsonObject sample = QJsonDocument::fromJson(lines[k]).object();
        QVERIFY2(qAbs(sample["elapsed"].toDouble() - 0.2 * k) < 0.03, lines[k]);
        QCOMPARE(sample["status"].toObject()["output"], QJsonValue(false));
        QCOMPARE(sample["measurements"].toObject()["reference"], QJsonValue(2.5));
        QVERIFY(sample["time"].toString().endsWith('Z'));
    }
}

// SIGINT reaches a watch as SIGTERM does (portIsLockedOnItsDevice); the
// watch stops alike on either.
void TestVelkaroctl::watchEndsCleanlyOnSignal()
{
    const SupplyProcess program(QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--pace"});
    QVERIFY(program.up());
    QTemporaryDir dir;
    const QString output = dir.filePath("run.csv");
    QProcess watch;
    StartCtl(watch, {"--port", program.port, "watch", "--interval", "0", "--measure", "--output", output});
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(output).count('\n') >= 5, 10000);
    ::kill(pid_t(watch.processId()), SIGTERM);
    QCOMPARE(Finish(watch, 5000), 0);
    QVERIFY2(WholeLines(ReadFile(output), 12), ReadFile(output));
}

void TestVelkaroctl::watchWritesNoLineForAFailedSample()
{
    VirtualSupply::Options dropping;
    dropping.drop = 1;
    supply->setOptions(dropping);
    const CtlRun run = Ctl(at + QStringList{"watch", "--interval", "0", "--max-failures", "3"});
    QCOMPARE(run.result(), Result(1, "time,elapsed_s,voltage_V,current_A,mode,output\n"));
    QCOMPARE(run.err.count("no answer"), 3);
    QVERIFY2(run.err.contains("stopped after 3 failed samples in a row"), run.err);
}

void TestVelkaroctl::portThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("missing") << "/dev/velkaro-no-such-port" << QByteArray("No such file or directory");
    QTest::newRow("not a terminal") << "/dev/null" << QByteArray("cannot open /dev/null: ");
}

void TestVelkaroctl::portThatCannotBeOpened()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, reason);
    const CtlRun run = Ctl({"--port", path, "status"});
    QCOMPARE(run.result(), Result(3, ""));
    QVERIFY2(run.err.contains(reason), run.err);
}

// One lost reply must not fail a command: every read is tried four times,
// the reading back after a write too.
void TestVelkaroctl::lostRepliesAreReadAgain()
{
    for (int i = 0; i < 3; ++i)
        supply->queueRawReply({QByteArray()});
    CtlRun run = Ctl(at + QStringList{"--json", "status"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.json()["output"], QJsonValue(false));
    // Status, three settling reads, the last one answered, then status again.
    QCOMPARE(supply->receivedLines().size(), 5);

    // The write acknowledged, its reading back lost three times (the
    // set-point read, then a status and a measurement read to settle the
    // line); the fourth try settles it with a parameter read and reads back
    // 1 V and 0.5 A.
    supply->clearReceived();
    supply->model().setSetpoints(1000, 500);
    supply->queueRawReply({ReplyFrame(0, Setpoints, AccessAccepted, {})});
    for (int i = 0; i < 3; ++i)
        supply->queueRawReply({QByteArray()});
    run = Ctl(at + QStringList{"set", "--voltage", "1", "--current", "0.5"});
    QCOMPARE(run.result(), Result(0, "voltage set  1.000 V\ncurrent set  0.500 A\n"));
    const QList<QByteArray> lines = supply->receivedLines();
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(4).mid(5, 2) + lines.at(5).mid(5, 2), QByteArray("AB03"));
}

void TestVelkaroctl::outputThatCannotBeWrittenFails()
{
    const CtlRun run = Ctl(at + QStringList{"--json", "status"}, CtlEnvironment(), "/dev/full");
    QVERIFY2(run.status == 2 && run.err.contains("cannot write the standard output: No space left on device"),
             run.told());
    QCOMPARE(Ctl(at + QStringList{"get", "voltage"}, CtlEnvironment(), "/dev/full").status, 2);

    // A file that may grow to 1 KiB only: the line that does not fit is taken
    // back whole, and the system's reason told.
    QTemporaryDir dir;
    const QString output = dir.filePath("run.csv");
    QProcess watch;
    watch.setProcessEnvironment(CtlEnvironment());
    watch.start(QStringLiteral("bash"),
                {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", QStringLiteral(VELKAROCTL_EXE),
                 "--port", port, "watch", "--interval", "0", "--measure", "--output", output});
    QCOMPARE(Finish(watch), 2);
    QVERIFY(watch.readAllStandardError().contains("File too large"));
    const QByteArray text = ReadFile(output);
    QVERIFY(text.size() > 500 && text.size() <= 1024);
    QVERIFY2(WholeLines(text, 12), text);
}

void TestVelkaroctl::writeIsFinishedBeforeASignalEnds_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("SIGTERM, confirmed") << int(SIGTERM) << false
                                        << QByteArray("set: stopped by SIGTERM; the write was finished and the supply confirmed it");
    QTest::newRow("SIGINT, silent") << int(SIGINT) << true
                                    << QByteArray("set: stopped by SIGINT; the supply was left unconfirmed: the supply did not answer the write in 4 tries");
}

void TestVelkaroctl::writeIsFinishedBeforeASignalEnds()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, silent);
    QFETCH(QByteArray, said);
    VirtualSupply::Options options;
    options.silent = silent;
    supply->setOptions(options);
    supply->queueRawReply({QByteArray()});  // the first try goes unanswered
    const int heldMv = supply->model().voltageSetMv();
    QProcess set;
    StartCtl(set, at + QStringList{"set", "--voltage", "7", "--current", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(!supply->receivedLines().isEmpty(), 5000);
    ::kill(pid_t(set.processId()), signalNumber);
    QCOMPARE(Finish(set, 10000), 128 + signalNumber);
    QCOMPARE(set.readAllStandardError(), "velkaroctl: " + said + "\n");
    QCOMPARE(supply->model().voltageSetMv(), silent ? heldMv : 7000);
    // The write went on to its end: four tries, or a later one and its
    // reading back.
    const QList<QByteArray> lines = supply->receivedLines();
    if (silent) {
        QCOMPARE(lines.size(), 4);
    } else {
        QVERIFY(lines.size() >= 3);
        QVERIFY(lines.at(lines.size() - 2).startsWith("#00800311"));
        QVERIFY(lines.last().startsWith("#00800301"));
    }
}

void TestVelkaroctl::portIsLockedOnItsDevice()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("supply");
    QVERIFY(QFile::link(port, link));
    QProcess watch;
    // Held alone: a shared line would let the others attach.
    StartCtl(watch, {"--port", link, "--exclusive", "watch", "--interval", "0.1"});
    QTRY_VERIFY_WITH_TIMEOUT(supply->repliesSent() >= 1, 10000);

    // The device's own name meets the lock taken through the link.
    const CtlRun run = Ctl(at + QStringList{"status"});
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains(QStringLiteral("the port is busy: velkaroctl (pid %1) holds it")
                                  .arg(watch.processId())
                                  .toUtf8()),
             run.err);

    // A signal while waiting for the port ends the wait with nothing sent:
    // a write, and the commands that run until stopped.
    const struct {
        QStringList arguments;
        int signalNumber;
        QByteArray error;
    } stops[] = {
        {{"on"}, SIGTERM, "velkaroctl: on: stopped by SIGTERM; nothing was sent\n"},
        {{"watch", "--count", "1"}, SIGINT, "velkaroctl: watch: stopped by SIGINT; nothing was sent\n"},
        {{"run", "--record", dir.filePath("r.csv")}, SIGINT,
         "velkaroctl: run: stopped by SIGINT; nothing was sent\n"},
    };
    for (const auto &stop : stops) {
        QProcess waiting;
        StartCtl(waiting, at + QStringList{"--wait", "10"} + stop.arguments);
        QVERIFY(waiting.waitForStarted(5000));
        QTest::qWait(500);  // well into its wait
        ::kill(pid_t(waiting.processId()), stop.signalNumber);
        QCOMPARE(Finish(waiting, 3000), 128 + stop.signalNumber);
        QCOMPARE(waiting.readAllStandardError(), stop.error);
    }
    QVERIFY(!QFile::exists(dir.filePath("r.csv")));

    // --wait: the port is had once the watch lets it go.
    QProcess waiting;
    StartCtl(waiting, at + QStringList{"--wait", "10", "get", "output"});
    QVERIFY(waiting.waitForStarted(5000));
    QTest::qWait(300);
    QCOMPARE(waiting.state(), QProcess::Running);
    watch.terminate();
    QVERIFY(watch.waitForFinished(5000));
    QCOMPARE(Finish(waiting, 10000), 0);
    QCOMPARE(waiting.readAllStandardOutput(), QByteArray("off\n"));
}

// A program killed between making the port's lock and writing itself into
// it leaves the lock empty: the port is had once nobody holds that lock,
// never while a live program does.
void TestVelkaroctl::aLockLeftEmptyIsTakenOnceNobodyHoldsIt()
{
    const QString lockPath = SerialLockFile(port);
    QVERIFY(!lockPath.isEmpty());
    // The terminal is ours: a lock for its number is a gone program's.
    QFile::remove(lockPath);
    QFile lock(lockPath);
    QVERIFY2(lock.open(QIODevice::ReadWrite | QIODevice::NewOnly), qPrintable(lockPath));
    // As QLockFile holds a lock it is making; made a while ago.
    QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));

    const CtlRun held = Ctl(at + QStringList{"status"});
    QCOMPARE(held.status, 3);
    QVERIFY2(held.err.contains("the port is busy: another program holds it"), held.err);
    QVERIFY(QFile::exists(lockPath));
    QCOMPARE(supply->repliesSent(), 0);

    // Its maker gone, a while ago and just now.
    lock.close();
    QCOMPARE(Ctl(at + QStringList{"get", "output"}).result(), Result(0, "off\n"));
    QVERIFY(!QFile::exists(lockPath));
    QVERIFY(lock.open(QIODevice::ReadWrite | QIODevice::NewOnly));
    lock.close();
    QCOMPARE(Ctl(at + QStringList{"get", "output"}).result(), Result(0, "off\n"));
    QVERIFY(!QFile::exists(lockPath));
}

void TestVelkaroctl::getReadsWhatTheSupplyHolds()
{
    supply->model().setSetpoints(12340, 1500);
    supply->model().setOutputOn(true);
    QCOMPARE(Ctl(at + QStringList{"get", "current", "output", "voltage"}).result(), Result(0, "1.500\non\n12.340\n"));
    QCOMPARE(Ctl(at + QStringList{"--json", "get"}).json(),
             Json(R"({"voltage": 12.34, "current": 1.5, "output": true})"));
    // Only what is asked is read: the set-points alone.
    supply->clearReceived();
    QCOMPARE(Ctl(at + QStringList{"get", "voltage"}).out, QByteArray("12.340\n"));
    QCOMPARE(supply->receivedLines().size(), 1);
}

// The supply program stopped while a command waits, continued before the
// next one starts: it answers the first command's requests then, and the
// next command takes none of those replies for its own.
void TestVelkaroctl::repliesLeftByAStallAreNotTakenByTheNextCommand()
{
    const SupplyProcess program(QStringLiteral(VIRTUAL_SUPPLY_EXE), {"--load", "10", "--pace"});
    QVERIFY(program.up());
    const QStringList at{"--port", program.port};
    QCOMPARE(Ctl(at + QStringList{"set", "--voltage", "5", "--current", "1"}).status, 0);
    QCOMPARE(Ctl(at + QStringList{"on"}).status, 0);
    // 5 V into 10 ohm: the status reads 5.00 V and 0.500 A, the set-points 5 V and 1 A.
    const pid_t pid = pid_t(program.pid());
    for (int round = 0; round < 3; ++round) {
        ::kill(pid, SIGSTOP);
        const CtlRun failed = Ctl(at + QStringList{"status"});
        ::kill(pid, SIGCONT);
        QCOMPARE(failed.status, 1);
        // Whether the backlog of status replies comes before get listens
        // or while it waits is the line's timing; either way get shows the
        // set-points and the output, never a status reply read as them.
        const CtlRun get = Ctl(at + QStringList{"get"});
        QCOMPARE(get.result(), Result(0, "5.000\n1.000\non\n"));
    }
}

void TestVelkaroctl::watchAppendsAndAddsPower()
{
    // 12.34 V into 10 ohm: 1.234 A, 15.228 W.
    supply->model().setSetpoints(12340, 1500);
    supply->model().setOutputOn(true);
    QTemporaryDir dir;
    const QString output = dir.filePath("run.csv");
    const QStringList watch = at + QStringList{"watch", "--interval", "0", "--power", "--output", output};
    QCOMPARE(Ctl(watch + QStringList{"--count", "2"}).status, 0);
    QCOMPARE(Ctl(watch + QStringList{"--count", "1", "--append"}).status, 0);
    const QList<QByteArray> lines = ReadFile(output).trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QByteArray("time,elapsed_s,voltage_V,current_A,mode,output,power_W"));
    for (int k = 1; k < 4; ++k)
        QVERIFY2(lines[k].endsWith(",12.34,1.234,CV,on,15.228"), lines[k]);
    QCOMPARE(Ctl(at + QStringList{"watch", "--append"}).status, 2);

    // An interval shorter than a sample at the line's pace: told once.
    VirtualSupply::Options paced;
    paced.pace9600 = true;
    supply->setOptions(paced);
    const CtlRun run = Ctl(at + QStringList{"watch", "--interval", "0.005", "--count", "4"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out.count('\n'), 5);
    QCOMPARE(run.err.count("longer than --interval; sampling as fast as the line allows"), 1);
}

void TestVelkaroctl::severalAddressesAreWrittenThenConfirmed()
{
    serveThreeAddresses();
    // Every address written back to back, then each read back.
    CtlRun run = Ctl(at + QStringList{"--address", "1,2,5", "set", "--voltage", "7", "--current", "0.5"});
    QCOMPARE(run.result(), Result(0, "address      1\nvoltage set  7.000 V\ncurrent set  0.500 A\n\n"
                                 "address      2\nvoltage set  7.000 V\ncurrent set  0.500 A\n\n"
                                 "address      5\nvoltage set  7.000 V\ncurrent set  0.500 A\n"));
    QCOMPARE(requestsSeen(), (QStringList{"W1", "W2", "W5", "R1", "R2", "R5"}));
    for (const quint8 address : {1, 2, 5})
        QCOMPARE(supply->modelAt(address)->voltageSetMv(), 7000);

    // In the order given.
    QCOMPARE(Ctl(at + QStringList{"--address", "2,1", "on"}).out,
             QByteArray("address  2\noutput   on\n\naddress  1\noutput   on\n"));
    // Each supply reads its own: 7 V into 10 and 2 ohm, both held at 0.5 A.
    run = Ctl(at + QStringList{"--json", "--address", "1-2", "status"});
    QCOMPARE(run.status, 0);
    QCOMPARE(JsonLines(run.out),
             (QList<QJsonObject>{Json(R"({"address": 1, "voltage": 5, "current": 0.5, "mode": "CC", "output": true})"),
                                 Json(R"({"address": 2, "voltage": 1, "current": 0.5, "mode": "CC", "output": true})")}));
    QCOMPARE(Ctl(at + QStringList{"--address", "5,1", "get", "voltage", "output"}).out,
             QByteArray("address 5\n7.000\noff\n\naddress 1\n7.000\non\n"));

    // An address nobody answers at fails alone; the others are switched and
    // confirmed all the same, and the exit status is the worst.
    supply->clearReceived();
    run = Ctl(at + QStringList{"--json", "--address", "1,6,2", "off"});
    QCOMPARE(run.status, 1);
    // Address 6's write goes out once: while it is unanswered, its later
    // tries read other records there, whose replies could not be mistaken.
    QCOMPARE(requestsSeen(), (QStringList{"W1", "W6", "R6", "R6", "R6", "W2", "R1", "R2"}));
    const QList<QJsonObject> lines = JsonLines(run.out);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], Json(R"({"address": 1, "output": false, "confirmed": true})"));
    QCOMPARE((QList<QJsonValue>{lines[1]["address"], lines[1]["exit"]}), (QList<QJsonValue>{6, 1}));
    QVERIFY2(run.err.contains("did not answer the write in 4 tries (port " + port.toUtf8() + ", address 6)"),
             run.err);
    QCOMPARE(lines[2]["address"], QJsonValue(2));
    QVERIFY(!supply->modelAt(1)->outputOn() && !supply->modelAt(2)->outputOn());

    // SIGTERM while address 6 is tried: its tries end, 2 is not written, 1
    // is still confirmed, and the status is the signal's.
    supply->clearReceived();
    QProcess on;
    StartCtl(on, at + QStringList{"--address", "1,6,2", "on"});
    QTRY_VERIFY_WITH_TIMEOUT(requestsSeen().contains("W6"), 5000);
    ::kill(pid_t(on.processId()), SIGTERM);
    QCOMPARE(Finish(on, 10000), 143);
    QCOMPARE(requestsSeen(), (QStringList{"W1", "W6", "R6", "R6", "R6", "R1"}));
    QCOMPARE(on.readAllStandardOutput(), QByteArray("address  1\noutput   on\n"));
    const QByteArray told = on.readAllStandardError();
    QVERIFY2(told.contains("on: stopped by SIGTERM; nothing was sent to address 2"), told);
    QVERIFY(supply->modelAt(1)->outputOn() && !supply->modelAt(2)->outputOn());

    // Commands of one supply take one address; a list names each once.
    supply->clearReceived();
    run = Ctl(at + QStringList{"--address", "1,2", "calibration", "read"});
    QVERIFY2(run.status == 2 && run.err.contains("calibration takes one address"), run.told());
    QCOMPARE(Ctl(at + QStringList{"--address", "1,1", "status"}).status, 2);
    QCOMPARE(supply->receivedLines().size(), 0);
}

void TestVelkaroctl::watchReadsEveryAddressInTurn()
{
    serveThreeAddresses();
    // Address 6 never answers: told, then backed off, not read every sample.
    CtlRun run = Ctl(at + QStringList{"--address", "1,2,6", "watch", "--interval", "0", "--count", "5"});
    QCOMPARE(run.status, 0);
    QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.size(), 12);
    QCOMPARE(lines[0], QByteArray("time,elapsed_s,address,voltage_V,current_A,mode,output"));
    const QRegularExpression row(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,\d+\.\d{3},(\d),0\.00,0\.0000,-,off$)");
    for (int k = 1; k <= 10; ++k) {
        const QRegularExpressionMatch match = row.match(QString::fromLatin1(lines[k]));
        QVERIFY2(match.hasMatch(), lines[k]);
        QCOMPARE(match.captured(1), k % 2 ? QStringLiteral("1") : QStringLiteral("2"));
    }
    QCOMPARE(requestsSeen().count("R6"), 3);
    QVERIFY2(run.err.contains("address 6 missed 3 requests in a row; asked once every 4 s"), run.err);
    QCOMPARE(run.err.count("no answer"), 3);

    run = Ctl(at + QStringList{"--json", "--address", "2,1", "watch", "--count", "2", "--interval", "0"});
    QList<int> addresses;
    for (const QJsonObject &sample : JsonLines(run.out))
        addresses << sample["address"].toInt(-1);
    QCOMPARE(addresses, (QList<int>{2, 1, 2, 1}));

    // Only when every address has failed that often does the watch end.
    run = Ctl(at + QStringList{"--address", "6,7", "watch", "--interval", "0", "--max-failures", "3"});
    QVERIFY2(run.status == 1 && run.err.contains("stopped after 3 failed samples in a row at every address"),
             run.told());
}

void TestVelkaroctl::scanListsTheSuppliesThatAnswer()
{
    serveThreeAddresses();
    supply->modelAt(2)->setSetpoints(12340, 1500);
    supply->modelAt(5)->setOutputOn(true);
    CtlRun run = Ctl(at + QStringList{"scan", "--range", "0-6"});
    QCOMPARE(run.result(), Result(0, "address 1  5.000 V  1.000 A  output off\n"
                                 "address 2  12.340 V  1.500 A  output off\n"
                                 "address 5  5.000 V  1.000 A  output on\n"));
    // No progress line off a terminal; one status read per address, one try.
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(requestsSeen(), (QStringList{"R0", "R1", "R1", "R2", "R2", "R3", "R4", "R5", "R5", "R6"}));

    run = Ctl(at + QStringList{"--json", "scan", "--range", "2-3"});
    QCOMPARE(run.json(), Json(R"({"range": "2-3", "supplies": [{"address": 2, "voltageSet": 12.34,
                                 "currentSet": 1.5, "output": false}]})"));
    run = Ctl(at + QStringList{"scan", "--range", "7-8"});
    QVERIFY2(run.status == 1 && run.err.contains("no supply answered at addresses 7-8"), run.told());
    QCOMPARE(Ctl(at + QStringList{"scan", "--range", "5-3"}).status, 2);

    // A port that goes away ends the scan at once, not after every address.
    supply->clearReceived();
    QProcess scan;
    StartCtl(scan, at + QStringList{"scan"});
    QTRY_VERIFY_WITH_TIMEOUT(supply->receivedLines().size() >= 3, 5000);
    supply->closeMaster();
    QCOMPARE(Finish(scan, 3000), 1);
    QVERIFY(scan.readAllStandardError().contains("scan: the port failed"));
}

PANEL_TEST_MAIN(TestVelkaroctl)

#include "tst_velkaroctl.moc"
