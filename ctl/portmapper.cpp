#include "portmapper.h"

#include "rpcconnection.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {

// The most a datagram to the portmapper holds: a call header with two full
// credentials and a mapping fit in far less.
constexpr qint64 MaxDatagram = 2048;
constexpr int MaxConnections = 16;

}  // namespace

Portmapper::Portmapper(QObject *parent)
    : QObject(parent)
    , nextXid(QRandomGenerator::global()->generate())
{
}

Portmapper::~Portmapper()
{
    Stop();
}

void Portmapper::Add(quint32 program, quint32 version, quint16 port)
{
    mappings.append({program, version, Portmap::Tcp, port});
}

Portmapper::Mode Portmapper::Start(const QHostAddress &address, quint16 port, QString *message)
{
    tcp = new QTcpServer(this);
    if (tcp->listen(address, port)) {
        udp = new QUdpSocket(this);
        // The same port for both, also when the system picked it (port 0).
        port = tcp->serverPort();
        if (udp->bind(address, port, QAbstractSocket::DontShareAddress)) {
            connect(tcp, &QTcpServer::newConnection, this, &Portmapper::AcceptClient);
            connect(udp, &QUdpSocket::readyRead, this, &Portmapper::ReadDatagrams);
            // A portmapper lists itself: clients (rpcinfo) ask for it first.
            mappings.append({Portmap::Program, Portmap::Version, Portmap::Tcp, port});
            mappings.append({Portmap::Program, Portmap::Version, Portmap::Udp, port});
            return Mode::Own;
        }
    }
    const QAbstractSocket::SocketError error =
        tcp->isListening() ? udp->error() : tcp->serverError();
    delete tcp;
    delete udp;
    tcp = nullptr;
    udp = nullptr;
    if (error == QAbstractSocket::AddressInUseError) {
        // Someone holds the port: a portmapper of the system, if it takes
        // the programs. A mapping left by a run that was killed goes first.
        systemPort = port;
        TellSystem(Portmap::Unset);
        if (TellSystem(Portmap::Set)) {
            registered = true;
            return Mode::System;
        }
        TellSystem(Portmap::Unset);
        *message = QStringLiteral("VXI-11 clients cannot find the instruments: port %1 is held by a "
                                  "program that did not take them (not a portmapper?); stop it, or "
                                  "start rpcbind there")
                       .arg(port);
        return Mode::Unreachable;
    }
    *message = QStringLiteral("VXI-11 clients cannot find the instruments: no portmapper runs and "
                              "port %1 may not be bound by this user; start rpcbind, or let velkaroctl "
                              "bind it: setcap cap_net_bind_service=+ep \"$(command -v velkaroctl)\"")
                   .arg(port);
    return Mode::Unreachable;
}

void Portmapper::Stop()
{
    if (std::exchange(registered, false))
        TellSystem(Portmap::Unset);
    delete tcp;
    tcp = nullptr;
    delete udp;
    udp = nullptr;
}

bool Portmapper::TellSystem(quint32 procedure)
{
    QUdpSocket socket;
    bool all = true;
    for (const Portmap::Mapping &mapping : mappings) {
        const quint32 xid = nextXid++;
        XdrWriter call;
        // A call with null credentials; the system's portmapper takes SET
        // and UNSET from this machine.
        call.U32(xid).U32(Rpc::Call).U32(Rpc::Version).U32(Portmap::Program).U32(Portmap::Version);
        call.U32(procedure).U32(0).U32(0).U32(0).U32(0);
        Portmap::WriteMapping(call, mapping);
        socket.writeDatagram(call.Data(), QHostAddress(QHostAddress::LocalHost), systemPort);
        bool accepted = false;
        const QDeadlineTimer deadline(SystemReplyMs);
        while (!accepted && !deadline.hasExpired()
               && socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            while (socket.hasPendingDatagrams()) {
                QByteArray reply(int(qBound<qint64>(0, socket.pendingDatagramSize(), MaxDatagram)), '\0');
                socket.readDatagram(reply.data(), reply.size());
                XdrReader reader(reply);
                // xid, REPLY, MSG_ACCEPTED, verifier, SUCCESS, the bool.
                if (reader.U32() != xid || reader.U32() != Rpc::Reply || reader.U32() != 0)
                    continue;
                reader.U32();
                reader.Opaque(Rpc::MaxAuthBytes);
                if (reader.U32() != Rpc::Success)
                    break;
                accepted = reader.Bool() && reader.Ok();
                break;
            }
            if (accepted)
                break;
        }
        all = all && accepted;
    }
    return all;
}

void Portmapper::AcceptClient()
{
    while (QTcpSocket *socket = tcp->nextPendingConnection()) {
        if (findChildren<RpcConnection *>(QString(), Qt::FindDirectChildrenOnly).size() >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *connection = new RpcConnection(socket, this);
        connect(connection, &RpcConnection::CallReceived, this,
                [this, connection](const RpcCall &call, const QByteArray &record) {
                    const QByteArray reply = Answer(call, record);
                    if (reply.isEmpty())
                        connection->Abort();
                    else
                        connection->Reply(reply);
                });
        connect(connection, &RpcConnection::Closed, connection, &QObject::deleteLater);
    }
}

void Portmapper::ReadDatagrams()
{
    while (udp->hasPendingDatagrams()) {
        const qint64 size = udp->pendingDatagramSize();
        QByteArray datagram(int(qBound<qint64>(0, size, MaxDatagram)), '\0');
        QHostAddress sender;
        quint16 senderPort = 0;
        // A longer datagram is cut to the buffer and fails to decode.
        if (udp->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort) < 0)
            continue;
        if (size > MaxDatagram)
            continue;
        const std::optional<RpcCall> call = ParseRpcCall(datagram);
        if (!call)
            continue;
        const QByteArray reply = Answer(*call, datagram);
        if (!reply.isEmpty())
            udp->writeDatagram(reply, sender, senderPort);
    }
}

QByteArray Portmapper::Answer(const RpcCall &call, const QByteArray &record) const
{
    if (call.rpcVersion != Rpc::Version)
        return RpcVersionMismatchReply(call.xid);
    if (call.program != Portmap::Program)
        return RpcAcceptedReply(call.xid, Rpc::ProgramUnavailable);
    if (call.version != Portmap::Version) {
        XdrWriter versions;
        versions.U32(Portmap::Version).U32(Portmap::Version);
        return RpcAcceptedReply(call.xid, Rpc::ProgramMismatch, versions.Data());
    }
    XdrReader reader(record, call.arguments);
    XdrWriter results;
    switch (call.procedure) {
    case Portmap::Null:
        break;
    case Portmap::Set:
    case Portmap::Unset:
        // Nobody else registers here: this portmapper serves only its own.
        if (!Portmap::ReadMapping(reader))
            return RpcAcceptedReply(call.xid, Rpc::GarbageArguments);
        results.Bool(false);
        break;
    case Portmap::GetPort: {
        const std::optional<Portmap::Mapping> asked = Portmap::ReadMapping(reader);
        if (!asked)
            return RpcAcceptedReply(call.xid, Rpc::GarbageArguments);
        quint32 port = 0;
        for (const Portmap::Mapping &mapping : mappings) {
            if (mapping.program == asked->program && mapping.version == asked->version
                && mapping.protocol == asked->protocol)
                port = mapping.port;
        }
        results.U32(port);
        break;
    }
    case Portmap::Dump:
        for (const Portmap::Mapping &mapping : mappings) {
            results.Bool(true);
            Portmap::WriteMapping(results, mapping);
        }
        results.Bool(false);
        break;
    default:
        return RpcAcceptedReply(call.xid, Rpc::ProcedureUnavailable);
    }
    return RpcAcceptedReply(call.xid, Rpc::Success, results.Data());
}
