// One line shared by several velkaroctl processes: the built program against
// the virtual-supply program on a pseudo-terminal, the owner stopped or
// killed for real; and the wire format the programs speak to each other.

#include "commandset.h"
#include "ctlprocess.h"
#include "devicelink.h"
#include "linemessage.h"
#include "lineserver.h"
#include "sharedline.h"
#include "recordingrows.h"
#include "seriallock.h"
#include "supplyprogram.h"
#include "supplystate.h"
#include "testmain.h"

#include <QDataStream>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpSocket>

#include <csignal>
#include <memory>

namespace {

// The virtual-supply program on a pseudo-terminal, paced as a real line.
struct Supply : LinkedSupply {
    explicit Supply(const QStringList &arguments)
        : LinkedSupply(QStringLiteral(VIRTUAL_SUPPLY_EXE), QStringList{"--pace"} + arguments)
    {
    }
};

// A velkaroctl that goes on in the background: killed (and continued, were
// it stopped) when the test leaves it.
struct Background {
    // --wait: a terminal's number is soon used again, and a program of an
    // earlier test may still be letting the same name go.
    explicit Background(const QStringList &arguments) { StartCtl(process, QStringList{"--wait", "5"} + arguments); }
    ~Background()
    {
        if (process.state() != QProcess::NotRunning) {
            ::kill(pid(), SIGCONT);
            process.kill();
            process.waitForFinished(5000);
        }
    }
    pid_t pid() const { return pid_t(process.processId()); }
    void signal(int number) { QVERIFY(::kill(pid(), number) == 0); }
    // Waits until the program has printed at least rows lines.
    bool printed(int rows)
    {
        const bool done = QTest::qWaitFor([&] {
            out += process.readAllStandardOutput();
            return out.count('\n') >= rows;
        }, 15000);
        if (!done)
            qWarning("%s printed %d lines; %s", qPrintable(process.arguments().join(' ')), int(out.count('\n')),
                     process.readAllStandardError().constData());
        return done;
    }

    QProcess process;
    QByteArray out;
};

// The programs on the line as `who --json` lists them, by pid.
QMap<qint64, QJsonObject> Who(const QString &port)
{
    QMap<qint64, QJsonObject> programs;
    const CtlRun who = Ctl({"--json", "--port", port, "who"});
    for (const QJsonValue &program : who.json().value("programs").toArray())
        programs.insert(program.toObject().value("pid").toVariant().toLongLong(), program.toObject());
    return programs;
}

// The elapsed seconds of a run's readings (rows with a voltage), and of its
// events by name.
struct RunRecord {
    explicit RunRecord(const QString &path)
    {
        for (const QByteArray &row : RecordingRows(path)) {
            const QByteArrayList fields = RecordingFields(row);
            if (fields.size() <= RecEvent)
                continue;
            const double elapsed = fields.at(RecElapsed).toDouble();
            if (!fields.at(RecEvent).isEmpty())
                events << qMakePair(QString::fromUtf8(fields.at(RecEvent)), elapsed);
            if (!fields.at(RecVolts).isEmpty())
                readings << elapsed;
        }
    }
    QStringList names() const
    {
        QStringList list;
        for (const auto &event : events)
            list << event.first;
        return list;
    }
    double at(const QString &name) const
    {
        for (const auto &event : events)
            if (event.first == name)
                return event.second;
        return -1;
    }
    QList<QPair<QString, double>> events;
    QList<double> readings;
};

LineMember Member(qint64 pid, const char *doing, QList<int> addresses)
{
    LineMember member;
    member.pid = pid;
    member.program = QStringLiteral("velkaroctl");
    member.doing = QString::fromUtf8(doing);
    member.addresses = addresses;
    return member;
}

bool SameMember(const LineMember &a, const LineMember &b)
{
    return a.pid == b.pid && a.program == b.program && a.addresses == b.addresses && a.doing == b.doing
        && a.owner == b.owner;
}

// A hand-made frame: length, then a body written by the test itself.
QByteArray Framed(const QByteArray &body)
{
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << quint32(body.size());
    return framed + body;
}

}  // namespace

class TestCtlShared : public QObject
{
    Q_OBJECT

private slots:
    void wireFormatRoundTripsAndRefusesDamage()
    {
        LineMessage request;
        request.type = LineMessage::Type::Request;
        request.serial = 77;
        request.request.kind = LineRequest::Kind::Write;
        request.request.address = 250;
        request.request.command = 5;
        request.request.access = 2;
        request.request.payload = QByteArray("\x00\x10\xff", 3);
        request.answerByMs = 123456789012LL;
        LineMessage outcome;
        outcome.type = LineMessage::Type::Outcome;
        outcome.serial = 77;
        outcome.outcome.result = LinkResult::BadReply;
        outcome.outcome.reply = QByteArray("\x01\x02\r", 3);
        outcome.outcome.notAsked = true;
        LineMessage members;
        members.type = LineMessage::Type::Members;
        members.members = {Member(10, "run r.csv", {1}), Member(11, "serve-scpi, 2 clients", {1, 2, 5})};
        members.members[0].owner = true;
        LineMessage hello;
        hello.type = LineMessage::Type::Hello;
        hello.member = Member(12, "watch", {});
        LineMessage heard;
        heard.type = LineMessage::Type::Heard;
        heard.heard = {true, 7, 2, QByteArray("\x94\x11\xe8\x03", 4), 98765432101LL};

        // Four messages back to back, given a byte at a time: each comes
        // whole once its last byte is in, never before.
        const QByteArray stream = EncodeLineMessage(request) + EncodeLineMessage(outcome)
                                  + EncodeLineMessage(members) + EncodeLineMessage(hello)
                                  + EncodeLineMessage(heard);
        QByteArray buffer;
        QList<LineMessage> taken;
        for (char c : stream) {
            buffer.append(c);
            LineMessage message;
            const LineMessageTaken result = TakeLineMessage(buffer, message);
            QVERIFY(result != LineMessageTaken::Malformed);
            if (result == LineMessageTaken::Whole)
                taken << message;
        }
        QVERIFY(buffer.isEmpty());
        QCOMPARE(taken.size(), 5);
        QCOMPARE(taken[0].type, LineMessage::Type::Request);
        QCOMPARE(taken[0].serial, 77u);
        QCOMPARE(int(taken[0].request.kind), int(LineRequest::Kind::Write));
        QCOMPARE(int(taken[0].request.address), 250);
        QCOMPARE(int(taken[0].request.command), 5);
        QCOMPARE(int(taken[0].request.access), 2);
        QCOMPARE(taken[0].request.payload, QByteArray("\x00\x10\xff", 3));
        QCOMPARE(taken[0].answerByMs, 123456789012LL);
        QCOMPARE(int(taken[1].outcome.result), int(LinkResult::BadReply));
        QCOMPARE(taken[1].outcome.reply, QByteArray("\x01\x02\r", 3));
        QVERIFY(taken[1].outcome.notAsked);
        QCOMPARE(taken[2].members.size(), 2);
        QVERIFY(SameMember(taken[2].members[0], members.members[0]));
        QVERIFY(SameMember(taken[2].members[1], members.members[1]));
        QVERIFY(SameMember(taken[3].member, hello.member));
        QCOMPARE(taken[4].type, LineMessage::Type::Heard);
        QVERIFY(taken[4].heard.written);
        QCOMPARE(int(taken[4].heard.address), 7);
        QCOMPARE(int(taken[4].heard.command), 2);
        QCOMPARE(taken[4].heard.bytes, QByteArray("\x94\x11\xe8\x03", 4));
        QCOMPARE(taken[4].heard.atMs, 98765432101LL);

        // Damage: each is refused, none is taken as a message, and none makes
        // the reader allocate what the stream claims.
        const auto body = [](quint16 version, quint8 type, const std::function<void(QDataStream &)> &rest) {
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_5_15);
            out << version << type << quint32(1);
            rest(out);
            return bytes;
        };
        const quint16 v = LineMessage::Version;
        const QList<QByteArray> damaged{
            // A length beyond any message: a stream out of step.
            QByteArray("\x7f\xff\xff\xff", 4) + QByteArray(16, 'x'),
            // Another build's version.
            Framed(body(quint16(v + 1), 3, [](QDataStream &) {})),
            // No such message type, and no such request kind.
            Framed(body(v, 9, [](QDataStream &) {})),
            Framed(body(v, 3, [](QDataStream &out) { out << quint8(7); })),
            // A body shorter than its fields.
            Framed(body(v, 4, [](QDataStream &out) { out << int(1); })),
            // A member list, and a member's address list, claiming billions.
            Framed(body(v, 5, [](QDataStream &out) { out << quint32(0xfffffff0u); })),
            Framed(body(v, 1, [](QDataStream &out) {
                out << qint64(1) << QStringLiteral("x") << quint32(0x7ffffff0u);
            })),
            // Heard bytes longer than any frame, and claiming more than the body holds.
            Framed(body(v, 6, [](QDataStream &out) { out << false << quint8(1) << quint8(1) << QByteArray(600, 'x') << qint64(1); })),
            Framed(body(v, 6, [](QDataStream &out) { out << false << quint8(1) << quint8(1) << quint32(400); })),
        };
        for (const QByteArray &bad : damaged) {
            QByteArray buffer = bad;
            LineMessage message;
            QCOMPARE(TakeLineMessage(buffer, message), LineMessageTaken::Malformed);
        }
    }

    // Heard out of order (one program's messages held up on the way), an
    // older set-point never replaces a newer one, and keeps its age.
    void olderValuesNeverReplaceNewerOnes()
    {
        const auto payload = [](int mv, int ma) {
            QByteArray bytes;
            for (int word : {mv, ma})
                bytes.append(char(word & 0xFF)).append(char((word >> 8) & 0xFF));  // little-endian
            return bytes;
        };
        SupplyStates states;
        states.NoteWritten(1, CommandSet::Setpoints, payload(4500, 750), 100);
        states.NoteWritten(1, CommandSet::Setpoints, payload(3000, 500), 400);
        QCOMPARE(states.At(1).setpoints.value->VoltageSet, 4500);
        QCOMPARE(states.At(1).setpoints.value->CurrentSet, 750);
        QVERIFY(states.AgeMs(states.At(1).setpoints) >= 100);
        states.NoteWritten(1, CommandSet::Setpoints, payload(2000, -5), 0);
        QCOMPARE(states.At(1).setpoints.value->VoltageSet, 2000);
        QCOMPARE(states.At(1).setpoints.value->CurrentSet, -5);
        QVERIFY(!states.At(2).setpoints.value);
    }

    // A program attached and stopped reads nothing: what the owner hears
    // meanwhile is held for it only up to a bound, and it is told again once
    // it reads.
    void aStoppedProgramIsHeldNoMoreThanABound()
    {
        DeviceLink link;
        LineServer server(link);
        QTemporaryDir dir;
        QVERIFY(server.Listen(dir.filePath("line"), nullptr));
        QLocalSocket reader;
        reader.connectToServer(dir.filePath("line"));
        QVERIFY(reader.waitForConnected(2000));
        LineMessage hello;
        hello.type = LineMessage::Type::Hello;
        hello.member = Member(12, "watch", {});
        reader.write(EncodeLineMessage(hello));
        QTRY_COMPARE(server.Members().size(), 2);
        const LineHeard bulk{false, 1, 1, QByteArray(400, 'x'), 0};
        const int passed = 20000;  // 8 MB
        for (int i = 0; i < passed; ++i)
            server.PassHeard(bulk);
        // Reading now: the held messages, then, once the owner holds little
        // enough, a later one.
        QByteArray buffer;
        int bulkTaken = 0;
        bool lastTaken = false;
        QVERIFY(QTest::qWaitFor([&] {
            server.PassHeard(LineHeard{true, 2, 1, QByteArray(4, 'y'), 0});
            buffer += reader.readAll();
            LineMessage message;
            while (!lastTaken && TakeLineMessage(buffer, message) == LineMessageTaken::Whole) {
                bulkTaken += message.heard.address == 1;
                lastTaken = message.heard.address == 2;
            }
            return lastTaken;
        }, 20000));
        QVERIFY2(bulkTaken > 0 && bulkTaken * 400 < 4 * 1024 * 1024, qPrintable(QString::number(bulkTaken)));
    }

    void attachedCommandsGoThroughTheOwner()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        Background owner({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.1"});
        QVERIFY(owner.printed(3));

        // Through the link's name and the device's alike, while the owner
        // goes on watching.
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "2", "set", "--voltage", "4", "--current", "0.5"}).status, 0);
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "2", "on"}).status, 0);
        const CtlRun get = Ctl({"--port", supply.link(), "--address", "2", "get"});
        QCOMPARE(get.status, 0);
        QCOMPARE(get.out, QByteArray("4.000\n0.500\non\n"));
        const CtlRun status = Ctl({"--json", "--port", supply.link(), "--address", "2", "status"});
        QCOMPARE(status.status, 0);
        QCOMPARE(status.json().value("output").toBool(), true);
        QCOMPARE(status.json().value("voltage").toDouble(), 4.0);
        // Address 1 was left alone.
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "1", "get"}).out, QByteArray("5.000\n1.000\noff\n"));

        // who: the owner, as it told itself; who itself is not listed.
        const QMap<qint64, QJsonObject> programs = Who(supply.link());
        QCOMPARE(programs.keys(), QList<qint64>{owner.pid()});
        const QJsonObject watch = programs.value(owner.pid());
        QCOMPARE(watch.value("role").toString(), QString("owner"));
        QCOMPARE(watch.value("doing").toString(), QString("watch"));
        QCOMPARE(watch.value("addresses").toArray(), QJsonArray{1});
        const CtlRun who = Ctl({"--port", supply.link(), "who"});
        QVERIFY2(QRegularExpression(QStringLiteral("\n%1 +velkaroctl +1 +owner +watch\n").arg(owner.pid()))
                     .match(QString::fromUtf8(who.out))
                     .hasMatch(),
                 who.out);
        // Under another TMPDIR (another terminal's, a service's) the line
        // is the same one, held by the same owner.
        QTemporaryDir elsewhere;
        QProcessEnvironment other = CtlEnvironment();
        other.insert("TMPDIR", elsewhere.path());
        const CtlRun whoElsewhere = Ctl({"--json", "--port", supply.link(), "who"}, other);
        const QJsonArray listed = whoElsewhere.json().value("programs").toArray();
        QVERIFY2(listed.size() == 1 && listed[0].toObject().value("pid").toVariant().toLongLong() == owner.pid(),
                 whoElsewhere.out);

        // The owner missed no sample meanwhile.
        QVERIFY(owner.printed(owner.out.count('\n') + 2));
        QCOMPARE(owner.process.state(), QProcess::Running);
        QVERIFY2(owner.process.readAllStandardError().isEmpty(), owner.out);
    }

    // Short commands in three loops, with no long-lived owner: each one
    // finds the port held by another that is just starting or just leaving,
    // and attaches to it or takes the port. None fails.
    void shortCommandsRacingForTheLineAllSucceed()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        struct Loop {
            QString address;
            int left = 15;
            int done = 0;
            QStringList failures;
            QProcess process;
        };
        Loop loops[3];
        loops[0].address = loops[2].address = QStringLiteral("1");
        loops[1].address = QStringLiteral("2");
        for (Loop &loop : loops) {
            QObject::connect(&loop.process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop.process,
                             [&loop, &supply](int code, QProcess::ExitStatus how) {
                                 const QByteArray out = loop.process.readAllStandardOutput();
                                 if (how != QProcess::NormalExit || code != 0 || out != "5.000\n1.000\noff\n")
                                     loop.failures << QStringLiteral("exit %1: %2%3").arg(code).arg(
                                         QString::fromUtf8(out), QString::fromUtf8(loop.process.readAllStandardError()));
                                 ++loop.done;
                                 if (--loop.left > 0) {
                                     QTimer::singleShot(0, &loop.process, [&loop, &supply] {
                                         StartCtl(loop.process, {"--port", supply.link(), "--address", loop.address, "get"});
                                     });
                                 }
                             });
            StartCtl(loop.process, {"--port", supply.link(), "--address", loop.address, "get"});
        }
        QTRY_VERIFY_WITH_TIMEOUT(loops[0].left == 0 && loops[1].left == 0 && loops[2].left == 0, 120000);
        for (const Loop &loop : loops) {
            QCOMPARE(loop.done, 15);
            QVERIFY2(loop.failures.isEmpty(), qPrintable(loop.failures.join(QLatin1Char('\n'))));
        }
    }

    void whoTellsWhatEachProgramDoes()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        Background owner({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        Background scpi({"--json", "--port", supply.link(), "--address", "2", "serve-scpi", "--listen",
                         "127.0.0.1:0"});
        QVERIFY(scpi.printed(1));
        const QString listening =
            QJsonDocument::fromJson(scpi.out).object().value("listening").toString();
        const quint16 tcpPort = quint16(listening.section(':', -1).toUInt());
        QVERIFY2(tcpPort > 0, qPrintable(listening));
        const auto doing = [&] { return Who(supply.link()).value(scpi.pid()).value("doing").toString(); };
        QCOMPARE(doing(), QString("serve-scpi, 0 clients"));
        QTcpSocket first;
        QTcpSocket second;
        first.connectToHost(QHostAddress::LocalHost, tcpPort);
        second.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(first.waitForConnected(5000) && second.waitForConnected(5000));
        QTRY_COMPARE_WITH_TIMEOUT(doing(), QString("serve-scpi, 2 clients"), 5000);
        // A client served through the owner.
        first.write("MEAS:VOLT?\n");
        QTRY_VERIFY_WITH_TIMEOUT(first.canReadLine(), 5000);
        second.close();
        QTRY_COMPARE_WITH_TIMEOUT(doing(), QString("serve-scpi, 1 client"), 5000);
        const QJsonObject programs = Who(supply.link()).value(scpi.pid());
        QCOMPARE(programs.value("role").toString(), QString("attached"));
        QCOMPARE(programs.value("addresses").toArray(), QJsonArray{2});
    }

    void exclusiveRefusesToShareAndIsRefused()
    {
        const Supply supply({"--address", "1"});
        QVERIFY(supply.up());
        const QString holder = QStringLiteral("velkaroctl (pid %1) holds it");
        {
            Background shared({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
            QVERIFY(shared.printed(2));
            const CtlRun alone = Ctl({"--port", supply.link(), "--exclusive", "status"});
            QCOMPARE(alone.status, 3);
            QVERIFY2(alone.err.contains(holder.arg(shared.pid()).toUtf8()), alone.err);
        }
        Background exclusive({"--port", supply.link(), "--exclusive", "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(exclusive.printed(2));
        // Its refusal of others: tst_velkaroctl's portIsLockedOnItsDevice.
        const CtlRun who = Ctl({"--json", "--port", supply.link(), "who"});
        QCOMPARE(who.status, 0);
        QCOMPARE(who.json().value("shared").toBool(true), false);
        QVERIFY(who.json().value("holder").toString().contains(QString::number(exclusive.pid())));
    }

    // A system that lets a second program open a held port (Wine does;
    // here the owner's lock file is taken away): the line is still found
    // served and attached to, never shared on the wire unknowingly.
    void aHeldPortOpenedAgainIsAttachedTo()
    {
        const Supply supply({"--address", "1"});
        QVERIFY(supply.up());
        Background owner({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        const QString lock = SerialLockFile(supply.port);
        QVERIFY2(QFile::exists(lock), qPrintable(lock));
        QVERIFY(QFile::remove(lock));

        const CtlRun alone = Ctl({"--port", supply.link(), "--exclusive", "status"});
        QCOMPARE(alone.status, 3);
        QVERIFY2(alone.err.contains("the port is busy"), alone.err);
        Background attached({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(attached.printed(2));
        const QMap<qint64, QJsonObject> programs = Who(supply.link());
        QCOMPARE(programs.value(owner.pid()).value("role").toString(), QString("owner"));
        QCOMPARE(programs.value(attached.pid()).value("role").toString(), QString("attached"));
        const CtlRun status = Ctl({"--port", supply.link(), "--address", "1", "status"});
        QVERIFY2(status.status == 0, status.err);
        // Neither watch missed a sample: nobody else read their replies.
        QVERIFY(owner.printed(owner.out.count('\n') + 3));
        QVERIFY(attached.printed(attached.out.count('\n') + 3));
        const QByteArray ownerErr = owner.process.readAllStandardError();
        const QByteArray attachedErr = attached.process.readAllStandardError();
        QVERIFY2(ownerErr.isEmpty(), ownerErr);
        QVERIFY2(attachedErr.isEmpty(), attachedErr);
    }

    void ownerKilledDuringTwoAttachedRuns()
    {
        const Supply supply({"--address", "1,2,3"});
        QVERIFY(supply.up());
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n3,1,5\n");
        Background owner({"--port", supply.link(), "--address", "3", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        std::unique_ptr<Background> runs[2];
        QString records[2];
        for (int i = 0; i < 2; ++i) {
            records[i] = dir.filePath(QStringLiteral("r%1.csv").arg(i + 1));
            runs[i] = std::make_unique<Background>(QStringList{
                "--port", i == 0 ? supply.port : supply.link(), "--address", QString::number(i + 1), "run",
                dir.filePath("p.csv"), "--record", records[i], "--interval", "0.2"});
        }
        // Both read through the owner before it is killed.
        QTRY_VERIFY_WITH_TIMEOUT(RunRecord(records[0]).readings.size() >= 4
                                     && RunRecord(records[1]).readings.size() >= 4, 10000);
        const QMap<qint64, QJsonObject> programs = Who(supply.link());
        QCOMPARE(programs.size(), 3);
        QCOMPARE(programs.value(runs[0]->pid()).value("doing").toString(), QString("run r1.csv"));
        QCOMPARE(programs.value(runs[1]->pid()).value("role").toString(), QString("attached"));
        owner.signal(SIGKILL);

        for (int i = 0; i < 2; ++i) {
            QCOMPARE(Finish(runs[i]->process), 0);
            const QByteArray out = runs[i]->process.readAllStandardOutput();
            QVERIFY2(out.startsWith("end after 00:00:05.") && out.endsWith("output off (confirmed)\n"), out);
            const RunRecord record(records[i]);
            const QStringList names = record.names();
            // The owner's loss, then the line back; the run's own end and
            // output off last. (The run that took the line over may hand it
            // to the other as it ends: a second loss is told the same way.)
            QVERIFY2(names.size() >= 6, qPrintable(names.join(',')));
            QCOMPARE(names.mid(0, 4), (QStringList{"start", "step 1", "port lost", "reconnected"}));
            QVERIFY2(names.contains("end") && names.last() == "output off", qPrintable(names.join(',')));
            QVERIFY(!names.contains("abort port lost"));
            // Read again within 2 s of the loss, and no reading missing
            // beyond the gap: rows 0.2 s apart before and after it.
            const double lost = record.at("port lost");
            double back = -1;
            for (double reading : record.readings)
                if (reading > lost) {
                    back = reading;
                    break;
                }
            QVERIFY2(back > lost && back - lost <= 2.0, qPrintable(QString::number(back - lost)));
            for (int r = 1; r < record.readings.size(); ++r) {
                const double before = record.readings[r - 1];
                const double after = record.readings[r];
                if (before < lost && after >= back)
                    continue;  // the gap itself
                if (after > record.at("end"))
                    break;
                QVERIFY2(after - before <= 0.35, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
            }
        }
        for (const char *address : {"1", "2"})
            QCOMPARE(Ctl({"--port", supply.link(), "--address", address, "get"}).out.split('\n').value(2),
                     QByteArray("off"));
    }

    // Each stopping signal's own status, unattached: tst_velkaroctlrun.
    void aSignalEndsAnAttachedRunWithItsOutputOff()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n3,1,60\n");
        Background owner({"--port", supply.link(), "--address", "2", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        Background run({"--port", supply.link(), "--address", "1", "run", dir.filePath("p.csv"), "--record",
                        dir.filePath("r.csv"), "--interval", "0.2"});
        QTRY_VERIFY_WITH_TIMEOUT(RunRecord(dir.filePath("r.csv")).readings.size() >= 3, 10000);
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "1", "get", "output"}).out, QByteArray("on\n"));
        run.signal(SIGTERM);
        // Its own supply switched off through the owner, and said so; the
        // owner and its supply go on.
        QCOMPARE(Finish(run.process), 128 + SIGTERM);
        const QStringList names = RunRecord(dir.filePath("r.csv")).names();
        QCOMPARE(names.mid(names.size() - 2), (QStringList{"stop", "output off"}));
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "1", "get", "output"}).out, QByteArray("off\n"));
        QVERIFY(owner.printed(owner.out.count('\n') + 3));
        QCOMPARE(owner.process.state(), QProcess::Running);
    }

    void threeProgramsOneOwnsAfterTheOwnerDies()
    {
        const Supply supply({"--address", "1,2,3"});
        QVERIFY(supply.up());
        Background a({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(a.printed(2));
        Background b({"--port", supply.link(), "--address", "2", "watch", "--interval", "0.2"});
        Background c({"--port", supply.link(), "--address", "3", "watch", "--interval", "0.2"});
        QVERIFY(b.printed(2));
        QVERIFY(c.printed(2));
        QCOMPARE(Who(supply.link()).value(a.pid()).value("role").toString(), QString("owner"));
        a.signal(SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(Who(supply.link()).keys(), (QList<qint64>{b.pid(), c.pid()}), 5000);
        const QMap<qint64, QJsonObject> programs = Who(supply.link());
        const QStringList roles{programs.value(b.pid()).value("role").toString(),
                                programs.value(c.pid()).value("role").toString()};
        QCOMPARE(roles.count("owner"), 1);
        QCOMPARE(roles.count("attached"), 1);
        // Both go on reading.
        QVERIFY(b.printed(b.out.count('\n') + 3));
        QVERIFY(c.printed(c.out.count('\n') + 3));
    }

    void aWriteInFlightWhenTheOwnerDiesIsMadeOnTheNextTry()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        Background owner({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        // This process attached, its write waiting in the stopped owner when
        // the owner is killed: the owner never made it.
        QSerialPort port;
        DeviceLink link;
        link.SetTraceStream(nullptr);
        SharedLine line(port, link);
        QString reason;
        QVERIFY2(line.Open(supply.port, false, &reason), qPrintable(reason));
        QCOMPARE(line.CurrentRole(), SharedLine::Role::Attached);
        owner.signal(SIGSTOP);
        QTimer::singleShot(300, this, [&] { ::kill(owner.pid(), SIGKILL); });
        QCOMPARE(link.SetSetpoints(2, 7000, 500), LinkResult::NoReply);
        // By the time the try has failed the line is this program's, and the
        // next try is made.
        QCOMPARE(line.CurrentRole(), SharedLine::Role::Owner);
        QCOMPARE(link.SetSetpoints(2, 7000, 500), LinkResult::GoodReply);
        SetpointRecord setpoints;
        QCOMPARE(link.GetSetpoints(2, setpoints), LinkResult::GoodReply);
        QCOMPARE(int(setpoints.VoltageSet), 7000);
        QVERIFY(line.Interrupted());
    }

    void repliesFromAnotherAddressAreNeverTaken()
    {
        // Late and lost replies on a line shared by two programs, each on
        // its own supply set apart by its voltage.
        const Supply supply({"--address", "1,2", "--late", "0.2", "--drop", "0.1", "--seed", "7"});
        QVERIFY(supply.up());
        for (const auto &[address, volts] : {std::pair{"1", "5"}, std::pair{"2", "2"}}) {
            QCOMPARE(Ctl({"--port", supply.link(), "--address", address, "set", "--voltage", volts}).status, 0);
            QCOMPARE(Ctl({"--port", supply.link(), "--address", address, "on"}).status, 0);
        }
        // What is judged is whose replies are taken, not how long a stretch
        // of this much noise a watch bears: neither stops on failed samples.
        Background one({"--port", supply.link(), "--address", "1", "watch", "--interval", "0",
                        "--max-failures", "1000"});
        QVERIFY(one.printed(2));
        Background two({"--port", supply.link(), "--address", "2", "watch", "--interval", "0", "--count", "60",
                        "--max-failures", "1000"});
        const int twoEnded = Finish(two.process, 60000);
        QVERIFY2(twoEnded == 0, two.process.readAllStandardError().right(2000));
        QVERIFY(one.printed(30));
        const auto voltages = [](const QByteArray &csv) {
            QSet<QByteArray> seen;
            for (const QByteArray &row : csv.split('\n').mid(1))
                if (!row.isEmpty())
                    seen << row.split(',').value(2);
            return seen;
        };
        const QByteArray twoRows = two.process.readAllStandardOutput();
        QCOMPARE(twoRows.count('\n'), 61);
        QCOMPARE(voltages(twoRows), QSet<QByteArray>{"2.00"});
        QCOMPARE(voltages(one.out), QSet<QByteArray>{"5.00"});
    }

    void stalledOwnerNeitherHangsNorWritesLate()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        Background owner({"--port", supply.link(), "--address", "1", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n3,1,60\n");
        const QString record = dir.filePath("r.csv");
        Background run({"--port", supply.link(), "--address", "1", "run", dir.filePath("p.csv"), "--record", record,
                        "--interval", "0.2", "--max-silence", "3", "--off-retry", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(RunRecord(record).readings.size() >= 2, 10000);
        owner.signal(SIGSTOP);
        // A write and a read through a stopped owner: each fails within its
        // bound (3 s, then short probes), naming the owner.
        QElapsedTimer took;
        took.start();
        for (const QStringList &command : {QStringList{"on"}, QStringList{"set", "--voltage", "7"},
                                           QStringList{"status"}}) {
            const CtlRun run = Ctl(QStringList{"--port", supply.link(), "--address", "2"} + command);
            QVERIFY2(run.status == 1, run.err + QByteArray::number(run.status));
            QVERIFY2(run.err.contains(QStringLiteral("the line's owner, velkaroctl (pid %1), does not answer")
                                          .arg(owner.pid())
                                          .toUtf8()),
                     run.err);
        }
        QVERIFY2(took.elapsed() < 3 * 8000, qPrintable(QString::number(took.elapsed())));
        const CtlRun who = Ctl({"--port", supply.link(), "who"});
        QCOMPARE(who.status, 1);
        QVERIFY2(who.err.contains(QStringLiteral("velkaroctl (pid %1) holds %2 and shares it, but does not answer")
                                      .arg(owner.pid())
                                      .arg(supply.link())
                                      .toUtf8()),
                 who.err);
        // A run through it sees no answer: its own rule for silence ends it,
        // the output's state unknown (the stopped owner holds the port).
        QCOMPARE(Finish(run.process), 1);
        QCOMPARE(RunRecord(record).names().mid(2),
                 (QStringList{"no answer", "abort no answer", "output unknown"}));
        // Let go, the owner makes none of the writes given up on, and goes on.
        owner.signal(SIGCONT);
        QVERIFY(owner.printed(owner.out.count('\n') + 3));
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "2", "get"}).out, QByteArray("5.000\n1.000\noff\n"));
        QCOMPARE(owner.process.state(), QProcess::Running);
    }

    // An attached program that asks nothing itself knows what the owner and
    // the other attached programs heard, with its age; a stopped owner tells
    // nothing, and after a takeover what was known stays, growing older.
    void attachedStatesLearnWhatTheOwnerHears()
    {
        const Supply supply({"--address", "1,2"});
        QVERIFY(supply.up());
        Background owner({"--port", supply.link(), "--address", "2", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        QSerialPort port;
        DeviceLink link;
        link.SetTraceStream(nullptr);
        SupplyStates states;
        link.SetStates(&states);
        SharedLine line(port, link);
        QString reason;
        QVERIFY2(line.Open(supply.port, false, &reason), qPrintable(reason));
        QCOMPARE(line.CurrentRole(), SharedLine::Role::Attached);

        // The owner's own reads of address 2.
        QTRY_VERIFY(states.At(2).status.value.has_value());
        QVERIFY(!states.At(1).setpoints.value);
        // Another attached program's write, and its read of the output.
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "1", "set", "--voltage", "4.5", "--current", "0.75"}).status, 0);
        QTRY_VERIFY(states.At(1).setpoints.value.has_value());
        QCOMPARE(states.At(1).setpoints.value->VoltageSet, 4500);
        QCOMPARE(states.At(1).setpoints.value->CurrentSet, 750);
        QVERIFY(states.AgeMs(states.At(1).setpoints) < 1000);
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "1", "status"}).status, 0);
        QTRY_VERIFY(states.At(1).status.value.has_value());

        // Stopped, the owner tells nothing: the status only grows older.
        // (Watching every 0.2 s, it never lets the status get a second old.)
        owner.signal(SIGSTOP);
        QTRY_VERIFY_WITH_TIMEOUT(states.AgeMs(states.At(2).status) > 1000, 5000);
        // Killed: this program takes the line over and keeps what it knew,
        // as old as it is.
        owner.signal(SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(line.CurrentRole(), SharedLine::Role::Owner, 5000);
        QCOMPARE(states.At(1).setpoints.value->VoltageSet, 4500);
        QVERIFY(states.AgeMs(states.At(2).status) > 1000);
        // Now the owner, it tells an attached program's write to its states itself.
        QCOMPARE(Ctl({"--port", supply.link(), "--address", "1", "set", "--voltage", "2"}).status, 0);
        QTRY_COMPARE(states.At(1).setpoints.value->VoltageSet, 2000);
    }

    // serve-scpi holding the line while an attached watch keeps it busy: an
    // SCPI client's message that arrives while the watch's exchange waits is
    // carried out after it, never inside it. On the owner's frame trace no
    // frame goes out while another waits for its reply (the supply answers
    // every request).
    void scpiMessagesWaitForTheExchangeUnderWay()
    {
        const Supply supply({"--address", "1,2"});
        Background scpi({"--trace", "--json", "--port", supply.link(), "--address", "2", "serve-scpi",
                         "--listen", "127.0.0.1:0"});
        QVERIFY(scpi.printed(1));
        const QString listening =
            QJsonDocument::fromJson(scpi.out).object().value("listening").toString();
        const quint16 tcpPort = quint16(listening.section(':', -1).toUInt());
        QVERIFY2(tcpPort > 0, qPrintable(listening));
        Background watch({"--port", supply.link(), "--address", "1", "watch", "--interval", "0"});
        QVERIFY(watch.printed(3));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(client.waitForConnected(5000));
        for (int k = 0; k < 20; ++k) {
            client.write(k % 2 ? "MEAS:VOLT?\n" : "VOLT?;:MEAS:CURR?\n");
            QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 5000);
            const QByteArray answer = client.readLine().trimmed();
            QVERIFY2(!answer.contains("9.91E+37"), answer.constData());
        }
        const int rows = int(watch.out.count('\n'));
        QVERIFY(watch.printed(rows + 3));
        scpi.process.terminate();
        QVERIFY(scpi.process.waitForFinished(5000));
        int sent = 0;
        int sentWhileWaiting = 0;
        bool waiting = false;
        for (const QByteArray &line : scpi.process.readAllStandardError().split('\n')) {
            const QByteArrayList fields = line.split(' ');
            if (fields.size() < 3 || (fields.at(1) != ">" && fields.at(1) != "<"))
                continue;
            if (fields.at(1) == ">") {
                ++sent;
                sentWhileWaiting += waiting ? 1 : 0;
            }
            waiting = fields.at(1) == ">";
        }
        QVERIFY2(sent >= 40, qPrintable(QString::number(sent)));
        QCOMPARE(sentWhileWaiting, 0);
    }

    void attachedRunEndsWhenNobodyCanTakeTheLineOver()
    {
        auto supply = std::make_unique<Supply>(QStringList{"--address", "1,2"});
        QVERIFY(supply->up());
        const QString link = supply->link();
        QTemporaryDir dir;
        WriteFile(dir.filePath("p.csv"), "voltage,current,duration\n3,1,60\n");
        Background owner({"--port", link, "--address", "2", "watch", "--interval", "0.2"});
        QVERIFY(owner.printed(2));
        const QString record = dir.filePath("r.csv");
        Background run({"--port", link, "--address", "1", "run", dir.filePath("p.csv"), "--record", record,
                        "--interval", "0.2", "--off-retry", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(RunRecord(record).readings.size() >= 2, 10000);
        Background scpi({"--port", link, "--address", "2", "serve-scpi", "--listen", "127.0.0.1:0"});
        QVERIFY(scpi.printed(1));
        // The owner and the line go together (the adapter pulled): the
        // terminal and its link are gone.
        owner.signal(SIGKILL);
        supply.reset();
        QCOMPARE(Finish(run.process), 1);
        QVERIFY2(run.process.readAllStandardError().contains("run: abort port lost; output unknown"), "");
        const QStringList names = RunRecord(record).names();
        QCOMPARE(names.mid(2, 2), (QStringList{"port lost", "abort port lost"}));
        QCOMPARE(names.last(), QString("output unknown"));
        // A lost line ends the SCPI server, attached as it was.
        QCOMPARE(Finish(scpi.process), 1);
        QVERIFY(scpi.process.readAllStandardError().contains(
            "the program holding it went and the line could not be taken over"));
    }
};

PANEL_TEST_MAIN(TestCtlShared)
#include "tst_ctlshared.moc"
