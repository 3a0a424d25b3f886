// serve-scpi: the supply as a SCPI instrument on a TCP port.

#include "commandcontext.h"
#include "commandtable.h"
#include "exitstatus.h"
#include "scpiinstrument.h"
#include "scpiserver.h"
#include "terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>

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

}  // namespace

int RunServeScpi(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the supply to SCPI clients over TCP (VISA resource TCPIP::HOST::PORT::SOCKET, "
        "lines ending in LF) until SIGINT or SIGTERM. SCPI has no authentication: whoever reaches "
        "the port controls the supply, so it listens on loopback unless told otherwise. "
        "Ends with status 1 if the serial port is lost."));
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Address and TCP port to listen on (default 127.0.0.1:5025; port 0 picks a "
                       "free one, printed at start)."),
        QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:5025"));
    parser.addOption(listenOption);
    const QCommandLineOption idleOption(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Close a client that sent nothing for S seconds (default 0: never), so that "
                       "forgotten sessions do not hold the connections."),
        QStringLiteral("S"), QStringLiteral("0"));
    parser.addOption(idleOption);
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("serve-scpi takes only --listen and --idle-timeout"));
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

    TerminationSignals termination;
    if (!termination.isValid())
        return context.Fail(ExitStatus::Usage, QStringLiteral("cannot watch for SIGINT and SIGTERM"));
    context.EndWaitOn(&termination, QStringLiteral("serve-scpi"));
    if (const int status = context.Connect())
        return status;

    const QByteArray identity =
        "norvel,TK4810M,0," + QCoreApplication::applicationVersion().toUtf8();
    ScpiInstrument instrument(context.Session(), identity);
    ScpiServer server(instrument, &context.Port());
    server.SetIdleTimeout(idleSeconds);
    QString error;
    if (!server.Listen(address, tcpPort, &error))
        return context.Fail(ExitStatus::PortFailed, QStringLiteral("cannot listen on %1:%2: %3")
                                                        .arg(HostText(address))
                                                        .arg(tcpPort)
                                                        .arg(error));
    const QString listening = QStringLiteral("%1:%2").arg(HostText(address)).arg(server.ServerPort());
    if (!address.isLoopback())
        WriteErr(QStringLiteral("velkaroctl: listening on %1, beyond this machine: any host that "
                                "reaches it can control the supply\n")
                     .arg(listening));
    context.PrintResult(
        {{QStringLiteral("listening"), listening},
         {QStringLiteral("port"), context.Port().portName()},
         {QStringLiteral("address"), int(context.Options().address)}},
        {{QStringLiteral("listening"), listening},
         {QStringLiteral("supply"), QStringLiteral("%1, address %2")
                                        .arg(context.Port().portName())
                                        .arg(context.Options().address)}});

    int status = ExitStatus::Success;
    // The context's own handler, connected first at Connect(), has kept the
    // reason by the time the server reports the loss.
    QObject::connect(&server, &ScpiServer::PortLost, [&] {
        status = context.Fail(ExitStatus::SupplyFailed,
                              QStringLiteral("lost the serial port %1 (%2); the SCPI server stops")
                                  .arg(context.Port().portName(), context.PortLoss()));
        QCoreApplication::exit(status);
    });
    QObject::connect(&termination, &TerminationSignals::received, [&server] {
        server.Stop();
        QCoreApplication::exit(ExitStatus::Success);
    });
    QCoreApplication::exec();
    return status;
}
