// DNS-SD advertising of serve-scpi: the records each instrument gets, the
// one line and the serving where no Avahi daemon answers, and the real thing
// with a D-Bus system bus and an Avahi daemon of the test's own, in a network
// and mount namespace of its own (the machine's bus and network are never
// touched): browsed with avahi-browse, withdrawn when the daemon goes and
// published again when it comes back, renamed on a collision, gone when
// serve-scpi ends.

#include "ctlprocess.h"
#include "dnssdrecords.h"
#include "testmain.h"
#include "virtualsupply.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>

#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

const QByteArray Version = PROJECT_VERSION;

// One resolved service as avahi-browse -p lists it.
struct Browsed {
    QString name;
    QString type;
    quint16 port = 0;
    QStringList txt;
};

// avahi-browse's parsable form escapes a name's spaces and dots as \DDD.
QString Unescape(const QString &text)
{
    QString plain;
    for (int i = 0; i < text.size(); ++i) {
        bool number = false;
        const int code = text.mid(i + 1, 3).toInt(&number);
        if (text.at(i) == '\\' && i + 3 < text.size() && number) {
            plain.append(QChar(code));
            i += 3;
        } else {
            plain.append(text.at(i));
        }
    }
    return plain;
}

QList<Browsed> ParseBrowse(const QByteArray &output)
{
    QList<Browsed> found;
    for (const QByteArray &line : output.split('\n')) {
        const QStringList fields = QString::fromUtf8(line).split(';');
        if (fields.size() < 10 || fields.at(0) != "=")
            continue;
        Browsed entry{Unescape(fields.at(3)), fields.at(4), quint16(fields.at(8).toUInt()), {}};
        // "a=b" "c=d": the TXT strings, each in quotes.
        const QString txt = fields.mid(9).join(';');
        QRegularExpressionMatchIterator quoted = QRegularExpression("\"([^\"]*)\"").globalMatch(txt);
        while (quoted.hasNext())
            entry.txt.append(quoted.next().captured(1));
        found.append(entry);
    }
    return found;
}

// A network and mount namespace of the test's own, held by a sleeping
// process; commands run in it through nsenter.
class OwnNamespace
{
public:
    ~OwnNamespace()
    {
        if (holder.state() != QProcess::NotRunning) {
            holder.kill();
            holder.waitForFinished(5000);
        }
    }

    bool open(QString *why)
    {
        holder.start("unshare", {"-n", "-m", "--propagation", "private", "sleep", "3600"});
        if (!holder.waitForStarted(5000)) {
            *why = "unshare did not start";
            return false;
        }
        // nsenter must not come before unshare has made them.
        const QString own = QFile::symLinkTarget("/proc/self/ns/net");
        const QString proc = QStringLiteral("/proc/%1/ns/").arg(holder.processId());
        if (!QTest::qWaitFor([&] { return QFile::symLinkTarget(proc + "net") != own; }, 5000)
            || QFile::symLinkTarget(proc + "mnt") == QFile::symLinkTarget("/proc/self/ns/mnt")) {
            *why = "unshare made no namespaces: " + holder.readAllStandardError();
            return false;
        }
        // Its loopback, and a /run of its own for the daemons' files.
        const QByteArray out = run({"sh", "-c", "ip link set lo up && mount -t tmpfs tmpfs /run"});
        if (out != "") {
            *why = "cannot set the namespace up: " + out;
            return false;
        }
        return true;
    }

    void start(QProcess &process, const QStringList &command)
    {
        process.setProcessEnvironment(environment);
        process.start("nsenter", QStringList{"-t", QString::number(holder.processId()), "-n", "-m", "--"} + command);
    }

    // Runs command to its end: its output, or what went wrong.
    QByteArray run(const QStringList &command, const QByteArray &input = {})
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        start(process, command);
        process.write(input);
        process.closeWriteChannel();
        // The event loop runs meanwhile: the virtual supply in this process
        // answers the servers the command may reach.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000)) {
            process.kill();
            process.waitForFinished(5000);
            return "(did not end) " + process.readAll();
        }
        const QByteArray out = process.readAll();
        return process.exitCode() == 0 ? out : "(exit " + QByteArray::number(process.exitCode()) + ") " + out;
    }

    // Of every command started in it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

private:
    QProcess holder;
};

bool NextLine(QProcess &process, QString *line, int timeoutMs = 10000)
{
    if (!QTest::qWaitFor([&] { return process.canReadLine(); }, timeoutMs))
        return false;
    *line = QString::fromUtf8(process.readLine()).trimmed();
    return true;
}

QByteArray Ask(quint16 port, const QByteArray &message)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(message + '\n');
    if (!QTest::qWaitFor([&] { return socket.canReadLine(); }, 5000))
        return "(no answer)";
    return socket.readLine().trimmed();
}

const QString NotYet = "velkaroctl: not advertised over DNS-SD for now (Avahi: Daemon not running); "
                       "serving on, and advertising once an Avahi daemon runs\n";

}  // namespace

class DnsSdTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        VirtualSupply::Options options;
        options.moreAddresses = {2};
        supply.setOptions(options);
        QString error;
        QVERIFY2(supply.open(&error), qPrintable(error));
    }

    void recordsCarryModelAndAddress()
    {
        const DnsSdInstrument raw = DnsSd::Instrument("maker,Model X,SN7,2.0", 3, 5025, std::nullopt);
        QCOMPARE(raw.address, quint8(3));
        QCOMPARE(raw.name, QString("maker Model X address 3"));
        QCOMPARE(raw.services.size(), 1);
        QCOMPARE(raw.services.at(0).type, QByteArray("_scpi-raw._tcp"));
        QCOMPARE(raw.services.at(0).port, quint16(5025));
        const QList<QByteArray> txt{"txtvers=1",          "Manufacturer=maker",  "Model=Model X",
                                    "SerialNumber=SN7",   "FirmwareVersion=2.0", "Address=3"};
        QCOMPARE(raw.services.at(0).txt, txt);

        // With VXI-11: the portmapper's port, where VISA asks, and the
        // device name that tells the instruments behind it apart.
        const DnsSdInstrument both = DnsSd::Instrument("maker,Model X,SN7,2.0", 3, 5025, quint16(111));
        QCOMPARE(both.services.size(), 3);
        QCOMPARE(both.services.at(1).type, QByteArray("_vxi-11._tcp"));
        QCOMPARE(both.services.at(2).type, QByteArray("_lxi._tcp"));
        for (int i : {1, 2}) {
            QCOMPARE(both.services.at(i).port, quint16(111));
            QCOMPARE(both.services.at(i).txt, txt + QList<QByteArray>{"Device=inst3"});
        }
        // A response short of fields gives empty values, never another's.
        const DnsSdInstrument bare = DnsSd::Instrument("maker", 0, 1, std::nullopt);
        QCOMPARE(bare.services.at(0).txt.at(2), QByteArray("Model="));
        QCOMPARE(bare.name, QString("maker  address 0"));
    }

    void instanceNamesFitADnsLabel()
    {
        QCOMPARE(DnsSd::InstanceName("maker M address 1", "bench"), QString("maker M address 1 on bench"));
        QCOMPARE(DnsSd::InstanceName("maker M address 1", ""), QString("maker M address 1"));
        // A long host is shortened to 63 bytes, never inside a character:
        // "ü" is two bytes, and 63 - 22 leaves room for 20 of them and one
        // byte that is not used.
        const QString name = DnsSd::InstanceName("maker M address 1", QString(40, QChar(0xFC)));
        QCOMPARE(name, "maker M address 1 on " + QString(21, QChar(0xFC)));
        QCOMPARE(name.toUtf8().size(), 63);
        const QString odd = DnsSd::InstanceName("maker M address 12", QString(40, QChar(0xFC)));
        QCOMPARE(odd, "maker M address 12 on " + QString(20, QChar(0xFC)));
        QCOMPARE(odd.toUtf8().size(), 62);
    }

    void scopeFollowsTheListeningAddress()
    {
        const DnsSdScope loopback = DnsSd::ScopeOf(QHostAddress::LocalHost);
        QCOMPARE(loopback.interfaceIndex, int(if_nametoindex("lo")));
        QCOMPARE(loopback.family, DnsSdScope::Family::IPv4);
        QCOMPARE(DnsSd::ScopeOf(QHostAddress::AnyIPv4).interfaceIndex, 0);
        QCOMPARE(DnsSd::ScopeOf(QHostAddress::AnyIPv4).family, DnsSdScope::Family::IPv4);
        QCOMPARE(DnsSd::ScopeOf(QHostAddress::Any).family, DnsSdScope::Family::Any);
        QCOMPARE(DnsSd::ScopeOf(QHostAddress::LocalHostIPv6).family, DnsSdScope::Family::IPv6);
    }

    // The usual case: no daemon (here, not even a system bus). One line says
    // so, and the instruments are served all the same.
    void withoutADaemonItSaysSoOnceAndServes()
    {
        QProcess server;
        StartCtl(server, {"--port", supply.portPath(), "--address", "1,2", "serve-scpi", "--listen",
                          "127.0.0.1:0"});
        QString first;
        QString second;
        QVERIFY(NextLine(server, &first) && NextLine(server, &second));
        const quint16 port = quint16(first.section(':', 1).section(' ', 0, 0).toUInt());
        QVERIFY2(port != 0, qPrintable(first));
        QCOMPARE(Ask(port, "*IDN?"), "norvel,TK4810M,ADDR1," + Version);
#ifdef AVAHI_BUILT
        const QByteArray told = NotYet.toUtf8();
#else
        const QByteArray told = "velkaroctl: built without Avahi: the instruments are not advertised over DNS-SD\n";
#endif
        QByteArray err;
        QVERIFY(QTest::qWaitFor([&] { return (err += server.readAllStandardError()).size() >= told.size(); }, 5000));
        QCOMPARE(err, told);
        server.terminate();
        QCOMPARE(Finish(server, 5000), 0);
        QCOMPARE(err + server.readAllStandardError(), told);
        QCOMPARE(server.readAllStandardOutput(), QByteArray());
    }

    void advertisedThroughAnAvahiDaemonOfItsOwn()
    {
#ifndef AVAHI_BUILT
        QSKIP("built without Avahi");
#endif
        if (geteuid() != 0)
            QSKIP("needs root: a network and mount namespace of the test's own (unshare -n -m)");
        for (const char *tool : {"unshare", "nsenter", "ip", "dbus-daemon", "avahi-daemon", "avahi-browse", "nc"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty() && QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin"}).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (dbus-daemon, avahi-daemon, avahi-utils, "
                                                "netcat-openbsd, iproute2, util-linux)")
                                     .arg(tool)));
        }
        OwnNamespace space;
        QString why;
        QVERIFY2(space.open(&why), qPrintable(why));

        // A system bus of the test's own, and a daemon that publishes on the
        // namespace's loopback under a host name of the test's.
        const QString dir = QDir::tempPath();
        const QString bus = dir + "/system_bus_socket";
        QFile busConf(dir + "/bus.conf");
        QVERIFY(busConf.open(QIODevice::WriteOnly));
        // Everyone may own and send to anything: only this test's programs
        // reach it.
        busConf.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig><type>system</type><listen>unix:path=" + bus.toUtf8() + "</listen>"
                      "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                      "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
        busConf.close();
        QFile avahiConf(dir + "/avahi-daemon.conf");
        QVERIFY(avahiConf.open(QIODevice::WriteOnly));
        avahiConf.write("[server]\nhost-name=velkarotest\nuse-ipv4=yes\nuse-ipv6=no\n"
                        "[wide-area]\nenable-wide-area=no\n"
                        "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
        avahiConf.close();
        QProcessEnvironment environment = CtlEnvironment();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + bus);
        space.environment = environment;

        QProcess dbus;
        space.start(dbus, {"dbus-daemon", "--config-file=" + busConf.fileName(), "--nofork", "--nopidfile",
                           "--print-address=1"});
        QString busAddress;
        QVERIFY(NextLine(dbus, &busAddress));
        QProcess avahi;
        const auto startAvahi = [&] {
            space.start(avahi, {"avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f",
                                avahiConf.fileName()});
            return avahi.waitForStarted(5000);
        };
        const auto cleanup = qScopeGuard([&] {
            for (QProcess *process : {&avahi, &dbus}) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
            }
        });
        // Every service the daemon knows, resolved: the last list kept for
        // a failed check's message.
        QByteArray browsed;
        const auto browse = [&] {
            browsed = space.run({"avahi-browse", "-arpt"});
            return ParseBrowse(browsed);
        };
        const auto instance = [](int address) {
            return QStringLiteral("norvel TK4810M address %1 on velkarotest").arg(address);
        };

        // serve-scpi starts before the daemon: it says so and serves.
        QProcess server;
        space.start(server, {VELKAROCTL_EXE, "--port", supply.portPath(), "--address", "1,2", "serve-scpi",
                             "--listen", "127.0.0.1:0", "--vxi11"});
        QVector<QString> lines(5);
        for (QString &line : lines)
            QVERIFY(NextLine(server, &line));
        QVERIFY2(lines.at(4).simplified() == "portmapper 127.0.0.1:111 own", qPrintable(QStringList(lines.toList()).join(QLatin1Char(10))));
        const quint16 rawPorts[] = {quint16(lines.at(0).section(':', 1).section(' ', 0, 0).toUInt()),
                                    quint16(lines.at(1).section(':', 1).section(' ', 0, 0).toUInt())};
        QByteArray err;
        QVERIFY(QTest::qWaitFor([&] { return (err += server.readAllStandardError()).contains('\n'); }, 10000));
        QCOMPARE(err, NotYet.toUtf8());
        const auto ask = [&](int i) {
            return space.run({"nc", "-N", "127.0.0.1", QString::number(rawPorts[i])}, "*IDN?\n").trimmed();
        };
        QCOMPARE(ask(0), "norvel,TK4810M,ADDR1," + Version);

        // The daemon comes: both instruments are advertised, each with its
        // three services and their TXT records.
        const auto advertisedLines = [&](int count) {
            QStringList got;
            QString line;
            while (got.size() < count && NextLine(server, &line))
                got.append(line);
            return got;
        };
        QVERIFY(startAvahi());
        QStringList told = advertisedLines(2);
        QCOMPARE(told.size(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(told.at(i).simplified(),
                     QStringLiteral("dns-sd \"%1\" _scpi-raw._tcp %2, _vxi-11._tcp 111, _lxi._tcp 111")
                         .arg(instance(i + 1))
                         .arg(rawPorts[i]));
        const auto listed = [&](const QList<Browsed> &all, const QByteArray &type, int address, quint16 port) {
            return std::any_of(all.cbegin(), all.cend(), [&](const Browsed &entry) {
                return entry.name == instance(address) && entry.type == type && entry.port == port
                       && entry.txt.contains("Model=TK4810M") && entry.txt.contains(QStringLiteral("Address=%1").arg(address))
                       && entry.txt.contains(QStringLiteral("SerialNumber=ADDR%1").arg(address))
                       && (type == "_scpi-raw._tcp" || entry.txt.contains(QStringLiteral("Device=inst%1").arg(address)));
            });
        };
        const auto everyServiceListed = [&] {
            const QList<Browsed> all = browse();
            for (int i = 0; i < 2; ++i) {
                if (!listed(all, "_scpi-raw._tcp", i + 1, rawPorts[i]) || !listed(all, "_vxi-11._tcp", i + 1, 111)
                    || !listed(all, "_lxi._tcp", i + 1, 111))
                    return false;
            }
            return true;
        };
        QVERIFY2(QTest::qWaitFor(everyServiceListed, 20000), browsed.constData());
        if (!QStandardPaths::findExecutable("lxi").isEmpty()) {
            QElapsedTimer took;
            took.start();
            const QByteArray discovered = space.run({"lxi", "discover", "-m", "-t", "1"});
            qInfo().noquote() << "lxi discover -m -t 1 in the namespace," << took.elapsed() << "ms:\n" << discovered;
            QVERIFY2(discovered.contains("Found \"" + instance(1).toUtf8() + "\" on address 127.0.0.1"),
                     discovered.constData());
            QVERIFY2(discovered.contains("Found 6 services"), discovered.constData());
        }

        // The daemon goes: one line, and serving goes on. It comes back:
        // everything is advertised again.
        avahi.terminate();
        QVERIFY(avahi.waitForFinished(10000));
        err.clear();
        QVERIFY(QTest::qWaitFor([&] { return (err += server.readAllStandardError()).contains('\n'); }, 10000));
        QCOMPARE(err, NotYet.toUtf8());
        QCOMPARE(ask(1), "norvel,TK4810M,ADDR2," + Version);
        QVERIFY(startAvahi());
        told = advertisedLines(2);
        QCOMPARE(told.size(), 2);
        told.sort();
        QVERIFY2(told.at(0).contains(instance(1)) && told.at(1).contains(instance(2)), qPrintable(told.join('\n')));
        QVERIFY2(QTest::qWaitFor(everyServiceListed, 20000), browsed.constData());

        // Another serve-scpi of this host with an instrument at address 1
        // (another line's): its name gives way to Avahi's alternative.
        VirtualSupply another;
        QVERIFY2(another.open(&why), qPrintable(why));
        QProcess second;
        space.start(second, {VELKAROCTL_EXE, "--port", another.portPath(), "--address", "1", "serve-scpi",
                             "--listen", "127.0.0.1:0"});
        QVector<QString> secondLines(3);
        for (QString &line : secondLines)
            QVERIFY(NextLine(second, &line));
        const quint16 secondPort = quint16(secondLines.at(0).section(':', 1).toUInt());
        QCOMPARE(secondLines.at(2).simplified(),
                 QStringLiteral("dns-sd \"%1 #2\" _scpi-raw._tcp %2").arg(instance(1)).arg(secondPort));
        const auto renamedListed = [&] {
            const QList<Browsed> all = browse();
            return std::any_of(all.cbegin(), all.cend(), [&](const Browsed &entry) {
                return entry.name == instance(1) + " #2" && entry.port == secondPort;
            });
        };
        QVERIFY2(QTest::qWaitFor(renamedListed, 20000), browsed.constData());
        second.terminate();
        QCOMPARE(Finish(second, 5000), 0);
        QVERIFY2(QTest::qWaitFor([&] { return !renamedListed(); }, 20000), browsed.constData());
        QVERIFY2(listed(ParseBrowse(browsed), "_scpi-raw._tcp", 1, rawPorts[0]), browsed.constData());

        // serve-scpi ends: its services go with it.
        server.terminate();
        QCOMPARE(Finish(server, 5000), 0);
        const auto noneOfOurs = [&] {
            const QList<Browsed> all = browse();
            return std::none_of(all.cbegin(), all.cend(),
                                [](const Browsed &entry) { return entry.name.startsWith("norvel TK4810M"); });
        };
        QVERIFY2(QTest::qWaitFor(noneOfOurs, 20000), browsed.constData());
    }

private:
    VirtualSupply supply;
};

PANEL_TEST_MAIN(DnsSdTest)
#include "tst_dnssd.moc"
