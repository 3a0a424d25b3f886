#pragma once

#include "vxi11protocol.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QUdpSocket;
class RpcConnection;

// How clients find the VXI-11 core channel: through the portmapper on port
// 111 (program 100000 version 2: GETPORT over TCP and UDP, the broadcast
// discovery sends included, and DUMP). Where a portmapper of the system
// (rpcbind) holds the port, the programs are registered with it (SET) and
// taken off again at Stop() (UNSET); where the port is free and may be bound,
// this one answers there itself; where neither can be had, Start() says why
// clients cannot find the instruments and how to fix that.
class Portmapper : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Own, System, Unreachable };
    // How long the system's portmapper gets to answer a registration.
    static constexpr int SystemReplyMs = 1000;

    explicit Portmapper(QObject *parent = nullptr);
    ~Portmapper() override;

    // A program reached over TCP at port.
    void Add(quint32 program, quint32 version, quint16 port);
    // address: where to answer (broadcasts reach only the any-address);
    // message: for Unreachable, the one line saying why and what to do.
    Mode Start(const QHostAddress &address, quint16 port, QString *message);
    void Stop();
    // The port it answers on (Own), or the system's (System).
    quint16 Port() const { return tcp ? tcp->serverPort() : systemPort; }

private slots:
    void AcceptClient();
    void ReadDatagrams();

private:
    // The reply to a call of the portmapper program, or nothing for none.
    QByteArray Answer(const RpcCall &call, const QByteArray &record) const;
    // Sends SET or UNSET of each program to the system's portmapper and
    // tells whether every one was accepted.
    bool TellSystem(quint32 procedure);

    QList<Portmap::Mapping> mappings;
    QTcpServer *tcp = nullptr;
    QUdpSocket *udp = nullptr;
    quint16 systemPort = 0;
    bool registered = false;
    quint32 nextXid;
};
