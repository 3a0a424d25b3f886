// serve-scpi: the supply as a SCPI instrument on a TCP port.

#include "commandcontext.h"
#include "commandtable.h"
#include "dnssdadvertiser.h"
#include "exitstatus.h"
#include "portmapper.h"
#include "scpiinstrument.h"
#include "scpiserver.h"
#include "scpiturns.h"
#include "sharedline.h"
#include "terminationsignals.h"
#include "vxi11server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QSysInfo>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

// HOST:PORT, HOST an IP address (IPv6 in brackets) or "localhost".
bool ParseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(':');
    if (colon < 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    *port = quint16(number);
    if (host == QLatin1String("localhost")) {
        *address = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    return address->setAddress(host);
}

QString HostText(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]").arg(address.toString())
               : address.toString();
}

// The *IDN? response. With several addresses the serial field names the
// address, so that a client can tell the instruments apart; one address
// answers as it always has.
QByteArray Identity(bool several, quint8 address)
{
    const QByteArray serial = several ? "ADDR" + QByteArray::number(address) : QByteArray("0");
    return "norvel,TK4810M," + serial + ',' + QCoreApplication::applicationVersion().toUtf8();
}

}  // namespace

int RunServeScpi(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the supply to SCPI clients over TCP (VISA resource TCPIP::HOST::PORT::SOCKET, "
        "lines ending in LF) until SIGINT or SIGTERM. SCPI has no authentication: whoever reaches "
        "the port controls the supply, so it listens on loopback unless told otherwise. "
        "With --address LIST, each address is an instrument of its own on its own TCP port, "
        "from PORT upward in the order given; their messages take turns on the line. "
        "Where an Avahi daemon runs, every instrument is advertised over DNS-SD (mDNS). "
        "Ends with status 1 if the serial port is lost."));
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Address and TCP port to listen on (default 127.0.0.1:5025; port 0 picks a "
                       "free one, printed at start). Several addresses listen on PORT, PORT+1 "
                       "and so on (with port 0, a free one each)."),
        QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:5025"));
    parser.addOption(listenOption);
    const QCommandLineOption idleOption(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Close a client that sent nothing for S seconds (default 0: never), so that "
                       "forgotten sessions do not hold the connections."),
        QStringLiteral("S"), QStringLiteral("0"));
    parser.addOption(idleOption);
    const QCommandLineOption vxi11Option(
        QStringLiteral("vxi11"),
        QStringLiteral("Serve every instrument as a VXI-11 device too (VISA resource "
                       "TCPIP::HOST::inst<ADDRESS>::INSTR), found through the portmapper."));
    parser.addOption(vxi11Option);
    const QCommandLineOption portmapOption(
        QStringLiteral("portmap-port"),
        QStringLiteral("With --vxi11: the portmapper's port (default 111, where clients ask)."),
        QStringLiteral("PORT"), QStringLiteral("111"));
    parser.addOption(portmapOption);
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("serve-scpi takes only --listen, --idle-timeout, --vxi11 "
                                           "and --portmap-port"));
    bool idleOk = false;
    const int idleSeconds = parser.value(idleOption).toInt(&idleOk);
    // At most a day: the timer counts milliseconds in an int.
    if (!idleOk || idleSeconds < 0 || idleSeconds > 86400)
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("--idle-timeout wants whole seconds from 0 to 86400, not \"%1\"")
                                .arg(parser.value(idleOption)));
    QHostAddress address;
    quint16 tcpPort = 0;
    if (!ParseListen(parser.value(listenOption), &address, &tcpPort))
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("--listen wants HOST:PORT, such as 127.0.0.1:5025, not \"%1\"")
                                .arg(parser.value(listenOption)));
    bool portmapOk = false;
    const uint portmapPort = parser.value(portmapOption).toUInt(&portmapOk);
    if (!portmapOk || portmapPort > 65535)
        return context.Fail(ExitStatus::Usage, QStringLiteral("--portmap-port wants a TCP port, not \"%1\"")
                                                   .arg(parser.value(portmapOption)));
    const bool vxi11 = parser.isSet(vxi11Option);
    const QList<quint8> addresses = context.Options().addresses;
    const bool several = addresses.size() > 1;
    if (tcpPort != 0 && int(tcpPort) + addresses.size() - 1 > 65535)
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("--listen: %1 addresses from TCP port %2 go beyond 65535")
                                .arg(addresses.size())
                                .arg(tcpPort));

    TerminationSignals termination;
    if (!termination.isValid())
        return context.Fail(ExitStatus::Usage, QStringLiteral("cannot watch for SIGINT and SIGTERM"));
    context.EndWaitOn(&termination, QStringLiteral("serve-scpi"));
    if (const int status = context.Connect())
        return status;

    // One instrument per address, each with its own session on the line's
    // one link; the first address uses the context's own session.
    ScpiTurns turns(context.Session().Link());
    std::vector<std::unique_ptr<SupplySession>> sessions;
    std::vector<std::unique_ptr<ScpiInstrument>> instruments;
    std::vector<std::unique_ptr<ScpiServer>> servers;
    for (int i = 0; i < addresses.size(); ++i) {
        const quint8 supplyAddress = addresses.at(i);
        SupplySession *session = &context.Session();
        if (i > 0) {
            sessions.push_back(std::make_unique<SupplySession>(context.Session().Link(), supplyAddress));
            session = sessions.back().get();
        }
        instruments.push_back(
            std::make_unique<ScpiInstrument>(*session, Identity(several, supplyAddress)));
        servers.push_back(std::make_unique<ScpiServer>(*instruments.back(), &context.Port(), &turns));
        ScpiServer &server = *servers.back();
        server.SetIdleTimeout(idleSeconds);
        const quint16 wanted = tcpPort == 0 ? 0 : quint16(tcpPort + i);
        QString error;
        if (!server.Listen(address, wanted, &error)) {
            if (several)
                context.UseAddress(supplyAddress);
            return context.Fail(ExitStatus::PortFailed, QStringLiteral("cannot listen on %1:%2: %3")
                                                            .arg(HostText(address))
                                                            .arg(wanted)
                                                            .arg(error));
        }
    }
    // VXI-11 beside the raw sockets: one core channel for every instrument,
    // found through the portmapper.
    std::unique_ptr<Vxi11Server> vxi11Server;
    std::unique_ptr<Portmapper> portmapper;
    Portmapper::Mode portmapMode = Portmapper::Mode::Unreachable;
    QString portmapMessage;
    if (vxi11) {
        vxi11Server = std::make_unique<Vxi11Server>(turns);
        for (int i = 0; i < addresses.size(); ++i)
            vxi11Server->AddInstrument(addresses.at(i), *instruments.at(size_t(i)));
        QString error;
        if (!vxi11Server->Listen(address, 0, &error))
            return context.Fail(ExitStatus::PortFailed,
                                QStringLiteral("cannot listen for VXI-11 on %1: %2").arg(HostText(address), error));
        portmapper = std::make_unique<Portmapper>();
        portmapper->Add(Vxi11::CoreProgram, Vxi11::ProgramVersion, vxi11Server->CorePort());
        portmapMode = portmapper->Start(address, quint16(portmapPort), &portmapMessage);
    }
    const auto listening = [&](int i) {
        return QStringLiteral("%1:%2").arg(HostText(address)).arg(servers.at(size_t(i))->ServerPort());
    };
    if (!address.isLoopback())
        WriteErr(QStringLiteral("velkaroctl: listening on %1, beyond this machine: any host that "
                                "reaches it can control the supply\n")
                     .arg(several ? QStringLiteral("%1 to %2").arg(listening(0), listening(addresses.size() - 1))
                                  : listening(0)));
    for (int i = 0; i < addresses.size(); ++i) {
        const QJsonObject json{{QStringLiteral("listening"), listening(i)},
                               {QStringLiteral("port"), context.Port().portName()},
                               {QStringLiteral("address"), int(addresses.at(i))}};
        const QString supply =
            QStringLiteral("%1, address %2").arg(context.Port().portName()).arg(addresses.at(i));
        // Several: one line per address, the same two values on it.
        if (several)
            context.PrintLines(json, {QStringLiteral("listening  %1  supply %2").arg(listening(i), supply)});
        else
            context.PrintResult(json, {{QStringLiteral("listening"), listening(i)},
                                       {QStringLiteral("supply"), supply}});
    }

    if (vxi11) {
        const QString core = QStringLiteral("%1:%2").arg(HostText(address)).arg(vxi11Server->CorePort());
        for (const quint8 supplyAddress : addresses) {
            // Listening on every interface: clients reach it by the machine's name.
            const QString host = address == QHostAddress::Any || address == QHostAddress::AnyIPv6
                                         || address == QHostAddress::AnyIPv4
                                     ? QSysInfo::machineHostName()
                                     : address.toString();
            const QString resource = QStringLiteral("TCPIP::%1::%2::INSTR")
                                         .arg(host,
                                              QString::fromLatin1(Vxi11Server::DeviceName(supplyAddress)));
            context.PrintLines({{QStringLiteral("vxi11"), core},
                                {QStringLiteral("resource"), resource},
                                {QStringLiteral("address"), int(supplyAddress)}},
                               {QStringLiteral("vxi-11  %1  %2").arg(core, resource)});
        }
        const QString where = QStringLiteral("%1:%2").arg(HostText(address)).arg(portmapper->Port());
        if (portmapMode == Portmapper::Mode::Unreachable)
            WriteErr(QStringLiteral("velkaroctl: %1\n").arg(portmapMessage));
        else
            context.PrintLines({{QStringLiteral("portmapper"), where},
                                {QStringLiteral("system"), portmapMode == Portmapper::Mode::System}},
                               {QStringLiteral("portmapper  %1  %2")
                                    .arg(where, portmapMode == Portmapper::Mode::System
                                                    ? QStringLiteral("the system's, programs registered")
                                                    : QStringLiteral("own"))});
    }

    // Each instrument advertised over DNS-SD where an Avahi daemon runs
    // (the records outlive the advertiser, whose signals read them).
    QList<DnsSdInstrument> advertised;
    DnsSdAdvertiser advertiser;
    std::optional<quint16> vxi11Port;
    if (vxi11 && portmapMode != Portmapper::Mode::Unreachable)
        vxi11Port = portmapper->Port();
    for (int i = 0; i < addresses.size(); ++i)
        advertised.append(DnsSd::Instrument(Identity(several, addresses.at(i)), addresses.at(i),
                                               servers.at(size_t(i))->ServerPort(), vxi11Port));
    if (!DnsSdAdvertiser::Available())
        WriteErr(QStringLiteral("velkaroctl: built without Avahi: the instruments are not advertised over DNS-SD\n"));
    QObject::connect(&advertiser, &DnsSdAdvertiser::Advertised, [&](quint8 supplyAddress, const QString &name) {
        const auto found = std::find_if(advertised.cbegin(), advertised.cend(), [&](const DnsSdInstrument &each) {
            return each.address == supplyAddress;
        });
        if (found == advertised.cend())
            return;
        QStringList services;
        QJsonArray json;
        for (const DnsSdService &service : found->services) {
            services.append(QStringLiteral("%1 %2").arg(QString::fromLatin1(service.type)).arg(service.port));
            json.append(QJsonObject{{QStringLiteral("type"), QString::fromLatin1(service.type)},
                                    {QStringLiteral("port"), service.port}});
        }
        context.PrintLines({{QStringLiteral("dnssd"), name},
                            {QStringLiteral("address"), int(supplyAddress)},
                            {QStringLiteral("services"), json}},
                           {QStringLiteral("dns-sd  \"%1\"  %2").arg(name, services.join(QStringLiteral(", ")))});
    });
    QObject::connect(&advertiser, &DnsSdAdvertiser::Unavailable, [](const QString &reason) {
        WriteErr(QStringLiteral("velkaroctl: not advertised over DNS-SD for now (Avahi: %1); serving on, and "
                                "advertising once an Avahi daemon runs\n")
                     .arg(reason));
    });
    QObject::connect(&advertiser, &DnsSdAdvertiser::Failed, [](quint8 supplyAddress, const QString &reason) {
        WriteErr(QStringLiteral("velkaroctl: the instrument at address %1 is not advertised over DNS-SD "
                                "(Avahi: %2)\n")
                     .arg(supplyAddress)
                     .arg(reason));
    });
    advertiser.Start(DnsSd::ScopeOf(address), advertised);

    // The others on the line see how many SCPI clients this program serves.
    const auto tellClients = [&context, &servers] {
        int connected = 0;
        for (const auto &server : servers)
            connected += server->Connected();
        context.SetDoing(connected == 1 ? QStringLiteral("serve-scpi, 1 client")
                                        : QStringLiteral("serve-scpi, %1 clients").arg(connected));
    };
    for (const auto &server : servers)
        QObject::connect(server.get(), &ScpiServer::ClientsChanged, tellClients);
    tellClients();

    int status = ExitStatus::Success;
    bool lost = false;
    // The context's own handler, connected first at Connect(), has kept the
    // reason by the time a server reports the loss. Every server stops at
    // it; the loss is told once.
    const auto stopOnLoss = [&](const QString &reason) {
        if (std::exchange(lost, true))
            return;
        status = context.Fail(ExitStatus::SupplyFailed,
                              QStringLiteral("lost the serial port %1 (%2); the SCPI server stops")
                                  .arg(context.Port().portName(), reason));
        QCoreApplication::exit(status);
    };
    for (const auto &server : servers)
        QObject::connect(server.get(), &ScpiServer::PortLost, [&] { stopOnLoss(context.PortLoss()); });
    // Attached, the port is the owner's: its loss is the line's, when the
    // owner went and nobody could take the line over.
    QObject::connect(&context.Line(), &SharedLine::lost, [&](const QString &reason) {
        stopOnLoss(QStringLiteral("the program holding it went and the line could not be taken over: %1")
                       .arg(reason));
    });
    QObject::connect(&termination, &TerminationSignals::received, [&servers, &vxi11Server, &portmapper] {
        for (const auto &server : servers)
            server->Stop();
        if (vxi11Server)
            vxi11Server->Stop();
        if (portmapper)
            portmapper->Stop();
        QCoreApplication::exit(ExitStatus::Success);
    });
    QCoreApplication::exec();
    return status;
}
