#pragma once

#include "oncrpc.h"
#include "vxi11protocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>

#include <map>
#include <optional>
#include <vector>

class QTcpServer;
class QTimer;
class RpcConnection;
class ScpiInstrument;
class ScpiTurns;
class Vxi11Device;

// Serves instruments as VXI-11 devices: the core channel (create_link,
// device_write/read/readstb/clear/trigger/local/remote/lock/unlock,
// destroy_link) and the abort channel (device_abort), each on a TCP port of
// its own. The device name picks the instrument: inst<N> or gpib0,<N> the
// one at address N; inst0 (what a bare TCPIP::host::INSTR asks for) the one
// at address 0 when it is served, else the first one added.
//
// A link's messages take their turns with every other client of every
// instrument on the line (see ScpiTurns and Vxi11Device). A link belongs to
// its connection and goes with it, its lock with it.
//
// Bounded whatever clients do: at most MaxConnections connections on each
// channel (more are closed at once) and MaxLinks links (create_link answers
// out of resources), RpcConnection's limits on each stream, a line of at most
// ScpiServer::MaxLine characters (longer ones are dropped with -363, as on
// the raw socket) and Vxi11Device::MaxQueuedPerLink messages per link.
class Vxi11Server : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxConnections = 32;
    static constexpr int MaxLinks = 64;

    explicit Vxi11Server(ScpiTurns &turns, QObject *parent = nullptr);
    ~Vxi11Server() override;

    void AddInstrument(quint8 address, ScpiInstrument &instrument);
    // Listens for the core channel on corePort (0: a free one) and for the
    // abort channel on a free port.
    bool Listen(const QHostAddress &address, quint16 corePort, QString *error);
    quint16 CorePort() const;
    quint16 AbortPort() const;
    // The device names a link may ask for to reach the instrument at this
    // address, the first being the one to give out.
    static QByteArray DeviceName(quint8 address) { return "inst" + QByteArray::number(address); }
    // Stops listening and closes every connection; their links go.
    void Stop();

private slots:
    void AcceptCore();
    void AcceptAbort();
    void RetryWaiting();

private:
    struct Link {
        Vxi11Device *device = nullptr;
        RpcConnection *connection = nullptr;
        QByteArray input;
        bool skipping = false;  // the rest of an overlong line is dropped
    };
    // A call that cannot be answered at once: tried again whenever an
    // answer comes or a lock is let go, and when its time is up.
    struct Waiting {
        RpcCall call;
        QByteArray record;
        std::optional<QDeadlineTimer> lockDeadline;
        std::optional<QDeadlineTimer> ioDeadline;
        bool requested = false;  // the status byte was asked for
        bool aborted = false;
        QTimer *timer = nullptr;
    };

    RpcConnection *Accept(QTcpServer *server, int open);
    void Call(RpcConnection *connection, const RpcCall &call, const QByteArray &record);
    void AbortCall(RpcConnection *connection, const RpcCall &call, const QByteArray &record);
    // Answers the connection's waiting call if it can be answered now.
    void Attempt(RpcConnection *connection);
    // The results of a core call, or nothing while it has to wait.
    std::optional<QByteArray> Results(RpcConnection *connection, Waiting &waiting);
    std::optional<QByteArray> MakeLink(RpcConnection *connection, Waiting &waiting,
                                         const Vxi11::CreateLinkParms &parms);
    std::optional<QByteArray> Write(Waiting &waiting, const Vxi11::WriteParms &parms);
    std::optional<QByteArray> Read(Waiting &waiting, const Vxi11::ReadParms &parms);
    std::optional<QByteArray> Generic(Waiting &waiting, const Vxi11::GenericParms &parms);
    // The lock rule of calls that need the device: nothing while they wait
    // for another link's lock, else the error to answer (NoError: go on).
    std::optional<qint32> LockRule(Waiting &waiting, quint32 link, qint32 flags, quint32 lockTimeout);
    static void StopTimer(Waiting &entry);
    // The call's own form of an error result.
    static QByteArray ErrorResultOf(quint32 procedure, qint32 error);
    void TakeInput(quint32 link, Link &entry, const QByteArray &data, bool end);
    Vxi11Device *DeviceNamed(const QByteArray &name) const;
    void DropConnection(RpcConnection *connection);
    void EndLink(quint32 link);

    ScpiTurns &turns;
    QTcpServer *core;
    QTcpServer *abort;
    std::vector<std::pair<quint8, Vxi11Device *>> devices;
    std::map<quint32, Link> links;
    std::map<RpcConnection *, Waiting> waiting;
    int coreConnections = 0;
    int abortConnections = 0;
    quint32 nextLink = 1;
};
