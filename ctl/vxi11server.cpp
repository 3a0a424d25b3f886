#include "vxi11server.h"

#include "rpcconnection.h"
#include "scpiserver.h"
#include "vxi11device.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace Vxi11;

namespace {

// Numbers after a device name's stem: "inst2", "gpib0,2".
std::optional<int> NumberAfter(const QByteArray &name, const QByteArray &stem)
{
    if (!name.startsWith(stem) || name.size() == stem.size() || name.size() > stem.size() + 3)
        return std::nullopt;
    bool ok = false;
    const int number = name.mid(stem.size()).toInt(&ok);
    for (const char c : name.mid(stem.size())) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return ok ? std::optional<int>(number) : std::nullopt;
}

QByteArray ProgramMismatch()
{
    XdrWriter versions;
    versions.U32(ProgramVersion).U32(ProgramVersion);
    return versions.Data();
}

}  // namespace

Vxi11Server::Vxi11Server(ScpiTurns &turns, QObject *parent)
    : QObject(parent)
    , turns(turns)
    , core(new QTcpServer(this))
    , abort(new QTcpServer(this))
{
    connect(core, &QTcpServer::newConnection, this, &Vxi11Server::AcceptCore);
    connect(abort, &QTcpServer::newConnection, this, &Vxi11Server::AcceptAbort);
}

Vxi11Server::~Vxi11Server()
{
    Stop();
}

void Vxi11Server::AddInstrument(quint8 address, ScpiInstrument &instrument)
{
    auto *device = new Vxi11Device(instrument, turns, this);
    // Queued: the calls are tried again from the event loop, never inside
    // a call being answered (an unlock, a link that goes) or a message.
    connect(device, &Vxi11Device::Finished, this, &Vxi11Server::RetryWaiting, Qt::QueuedConnection);
    connect(device, &Vxi11Device::LockReleased, this, &Vxi11Server::RetryWaiting, Qt::QueuedConnection);
    devices.emplace_back(address, device);
}

bool Vxi11Server::Listen(const QHostAddress &address, quint16 corePort, QString *error)
{
    if (!core->listen(address, corePort)) {
        *error = core->errorString();
        return false;
    }
    if (!abort->listen(address, 0)) {
        *error = abort->errorString();
        core->close();
        return false;
    }
    return true;
}

quint16 Vxi11Server::CorePort() const
{
    return core->serverPort();
}

quint16 Vxi11Server::AbortPort() const
{
    return abort->serverPort();
}

void Vxi11Server::Stop()
{
    core->close();
    abort->close();
    const auto connections = findChildren<RpcConnection *>(QString(), Qt::FindDirectChildrenOnly);
    for (RpcConnection *connection : connections) {
        DropConnection(connection);
        connection->disconnect(this);
        connection->Abort();
        connection->deleteLater();
    }
    coreConnections = 0;
    abortConnections = 0;
}

RpcConnection *Vxi11Server::Accept(QTcpServer *server, int open)
{
    QTcpSocket *socket = server->nextPendingConnection();
    if (!socket)
        return nullptr;
    if (open >= MaxConnections) {
        socket->abort();
        socket->deleteLater();
        return nullptr;
    }
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return new RpcConnection(socket, this);
}

void Vxi11Server::AcceptCore()
{
    while (core->hasPendingConnections()) {
        RpcConnection *connection = Accept(core, coreConnections);
        if (!connection)
            continue;
        ++coreConnections;
        connect(connection, &RpcConnection::CallReceived, this,
                [this, connection](const RpcCall &call, const QByteArray &record) {
                    Call(connection, call, record);
                });
        connect(connection, &RpcConnection::Closed, this, [this, connection] {
            --coreConnections;
            DropConnection(connection);
            connection->deleteLater();
        });
    }
}

void Vxi11Server::AcceptAbort()
{
    while (abort->hasPendingConnections()) {
        RpcConnection *connection = Accept(abort, abortConnections);
        if (!connection)
            continue;
        ++abortConnections;
        connect(connection, &RpcConnection::CallReceived, this,
                [this, connection](const RpcCall &call, const QByteArray &record) {
                    AbortCall(connection, call, record);
                });
        connect(connection, &RpcConnection::Closed, this, [this, connection] {
            --abortConnections;
            connection->deleteLater();
        });
    }
}

void Vxi11Server::DropConnection(RpcConnection *connection)
{
    const auto found = waiting.find(connection);
    if (found != waiting.end()) {
        StopTimer(found->second);
        waiting.erase(found);
    }
    QList<quint32> owned;
    for (const auto &entry : links) {
        if (entry.second.connection == connection)
            owned.append(entry.first);
    }
    for (const quint32 link : owned)
        EndLink(link);
}

void Vxi11Server::EndLink(quint32 link)
{
    const auto found = links.find(link);
    if (found == links.end())
        return;
    Vxi11Device *device = found->second.device;
    links.erase(found);
    // Last: letting go of the lock tries the waiting calls again.
    device->RemoveLink(link);
}

void Vxi11Server::AbortCall(RpcConnection *connection, const RpcCall &call, const QByteArray &record)
{
    if (call.rpcVersion != Rpc::Version) {
        connection->Reply(RpcVersionMismatchReply(call.xid));
        return;
    }
    if (call.program != AbortProgram) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::ProgramUnavailable));
        return;
    }
    if (call.version != ProgramVersion) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::ProgramMismatch, ProgramMismatch()));
        return;
    }
    if (call.procedure == 0) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::Success));
        return;
    }
    if (call.procedure != DeviceAbort) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::ProcedureUnavailable));
        return;
    }
    XdrReader reader(record, call.arguments);
    const std::optional<GenericParms> parms = ReadLinkOnly(reader);
    if (!parms) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::GarbageArguments));
        return;
    }
    const auto found = links.find(parms->link);
    if (found == links.end()) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::Success, ErrorResult(InvalidLink)));
        return;
    }
    // The link's call in progress, if any, ends with "abort".
    const auto call_ = waiting.find(found->second.connection);
    if (call_ != waiting.end()) {
        call_->second.aborted = true;
        Attempt(found->second.connection);
    }
    connection->Reply(RpcAcceptedReply(call.xid, Rpc::Success, ErrorResult(NoError)));
}

void Vxi11Server::Call(RpcConnection *connection, const RpcCall &call, const QByteArray &record)
{
    if (call.rpcVersion != Rpc::Version) {
        connection->Reply(RpcVersionMismatchReply(call.xid));
        return;
    }
    if (call.program != CoreProgram) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::ProgramUnavailable));
        return;
    }
    if (call.version != ProgramVersion) {
        connection->Reply(RpcAcceptedReply(call.xid, Rpc::ProgramMismatch, ProgramMismatch()));
        return;
    }
    Waiting &entry = waiting[connection];
    entry = Waiting();
    entry.call = call;
    entry.record = record;
    Attempt(connection);
}

void Vxi11Server::RetryWaiting()
{
    QList<RpcConnection *> connections;
    for (const auto &entry : waiting)
        connections.append(entry.first);
    for (RpcConnection *connection : connections)
        Attempt(connection);
}

void Vxi11Server::Attempt(RpcConnection *connection)
{
    const auto found = waiting.find(connection);
    if (found == waiting.end())
        return;
    Waiting &entry = found->second;
    QByteArray reply;
    if (entry.aborted) {
        reply = RpcAcceptedReply(entry.call.xid, Rpc::Success, ErrorResultOf(entry.call.procedure, Aborted));
        // An aborted read does not take a later answer either.
        XdrReader reader(entry.record, entry.call.arguments);
        if (entry.call.procedure == DeviceRead) {
            if (const auto parms = ReadRead(reader); parms && links.count(parms->link))
                links[parms->link].device->DropComingAnswers(parms->link);
        }
    } else {
        const std::optional<QByteArray> results = Results(connection, entry);
        if (!results) {
            // Wake up at the nearer deadline; an answer or an unlock may come first.
            qint64 remaining = -1;
            for (const auto &deadline : {entry.lockDeadline, entry.ioDeadline}) {
                if (deadline && !deadline->isForever())
                    remaining = remaining < 0 ? deadline->remainingTime()
                                              : qMin(remaining, deadline->remainingTime());
            }
            if (remaining >= 0) {
                if (!entry.timer) {
                    entry.timer = new QTimer(this);
                    entry.timer->setSingleShot(true);
                    connect(entry.timer, &QTimer::timeout, this, [this, connection] { Attempt(connection); });
                }
                // At least 1 ms: a deadline just reached is seen as expired.
                entry.timer->start(int(qBound<qint64>(1, remaining, 24 * 3600 * 1000)));
            }
            return;
        }
        reply = *results;
    }
    StopTimer(entry);
    waiting.erase(found);
    connection->Reply(reply);
}

void Vxi11Server::StopTimer(Waiting &entry)
{
    // Later: this may run inside the timer's own signal.
    if (entry.timer) {
        entry.timer->stop();
        entry.timer->deleteLater();
        entry.timer = nullptr;
    }
}

QByteArray Vxi11Server::ErrorResultOf(quint32 procedure, qint32 error)
{
    switch (procedure) {
    case CreateLink:
        return CreateLinkResult(error, 0, 0, 0);
    case DeviceWrite:
        return WriteResult(error, 0);
    case DeviceRead:
        return ReadResult(error, 0, {});
    case DeviceReadStb:
        return ReadStbResult(error, 0);
    case DeviceDoCmd: {
        XdrWriter writer;
        writer.I32(error).Opaque({});
        return writer.Data();
    }
    default:
        return ErrorResult(error);
    }
}

std::optional<QByteArray> Vxi11Server::Results(RpcConnection *connection, Waiting &entry)
{
    const quint32 xid = entry.call.xid;
    const quint32 procedure = entry.call.procedure;
    const auto accepted = [xid](const QByteArray &results) {
        return RpcAcceptedReply(xid, Rpc::Success, results);
    };
    const auto error = [&](qint32 code) { return accepted(ErrorResultOf(procedure, code)); };
    const QByteArray garbage = RpcAcceptedReply(xid, Rpc::GarbageArguments);
    XdrReader reader(entry.record, entry.call.arguments);
    // The link a call names must exist and belong to its connection.
    const auto linkOk = [&](quint32 link) {
        const auto found = links.find(link);
        return found != links.end() && found->second.connection == connection;
    };
    std::optional<QByteArray> results;
    switch (procedure) {
    case 0:
        return accepted({});
    case CreateLink: {
        const auto parms = ReadCreateLink(reader);
        if (!parms)
            return garbage;
        results = MakeLink(connection, entry, *parms);
        break;
    }
    case DeviceWrite: {
        const auto parms = ReadWrite(reader);
        if (!parms)
            return garbage;
        if (!linkOk(parms->link))
            return error(InvalidLink);
        results = Write(entry, *parms);
        break;
    }
    case DeviceRead: {
        const auto parms = ReadRead(reader);
        if (!parms)
            return garbage;
        if (!linkOk(parms->link))
            return error(InvalidLink);
        results = Read(entry, *parms);
        break;
    }
    case DeviceReadStb:
    case DeviceTrigger:
    case DeviceClear:
    case DeviceRemote:
    case DeviceLocal: {
        const auto parms = ReadGeneric(reader);
        if (!parms)
            return garbage;
        if (!linkOk(parms->link))
            return error(InvalidLink);
        results = Generic(entry, *parms);
        break;
    }
    case DeviceLock: {
        const auto parms = ReadLock(reader);
        if (!parms)
            return garbage;
        if (!linkOk(parms->link))
            return error(InvalidLink);
        const std::optional<qint32> rule = LockRule(entry, parms->link, parms->flags, parms->lockTimeout);
        if (!rule)
            return std::nullopt;
        if (*rule == NoError)
            links[parms->link].device->Lock(parms->link);
        return error(*rule);
    }
    case DeviceUnlock: {
        const auto parms = ReadLinkOnly(reader);
        if (!parms)
            return garbage;
        if (!linkOk(parms->link))
            return error(InvalidLink);
        return error(links[parms->link].device->Unlock(parms->link) ? NoError : NoLockHeld);
    }
    case DestroyLink: {
        const auto parms = ReadLinkOnly(reader);
        if (!parms)
            return garbage;
        if (!linkOk(parms->link))
            return error(InvalidLink);
        EndLink(parms->link);
        return error(NoError);
    }
    case DeviceEnableSrq:
    case DeviceDoCmd:
    case CreateInterruptChannel:
    case DestroyInterruptChannel:
        // No service requests and no device-specific commands here.
        return error(NotSupported);
    default:
        return RpcAcceptedReply(xid, Rpc::ProcedureUnavailable);
    }
    if (!results)
        return std::nullopt;
    return accepted(*results);
}

std::optional<qint32> Vxi11Server::LockRule(Waiting &entry, quint32 link, qint32 flags, quint32 lockTimeout)
{
    Vxi11Device *device = links[link].device;
    if (!device->LockedByOther(link))
        return NoError;
    if (!(flags & WaitLockFlag))
        return DeviceLocked;
    if (!entry.lockDeadline)
        entry.lockDeadline = QDeadlineTimer(qint64(lockTimeout));
    if (entry.lockDeadline->hasExpired())
        return DeviceLocked;
    return std::nullopt;
}

Vxi11Device *Vxi11Server::DeviceNamed(const QByteArray &name) const
{
    if (devices.empty())
        return nullptr;
    const QByteArray wanted = name.trimmed().toLower();
    std::optional<int> address = NumberAfter(wanted, "inst");
    if (!address)
        address = NumberAfter(wanted, "gpib0,");
    if (!address)
        return nullptr;
    for (const auto &entry : devices) {
        if (entry.first == *address)
            return entry.second;
    }
    // inst0, the name of a bare TCPIP::host::INSTR: the first instrument
    // when address 0 is not served.
    return *address == 0 ? devices.front().second : nullptr;
}

std::optional<QByteArray> Vxi11Server::MakeLink(RpcConnection *connection, Waiting &entry,
                                                  const CreateLinkParms &parms)
{
    Vxi11Device *device = DeviceNamed(parms.device);
    if (!device)
        return CreateLinkResult(DeviceNotAccessible, 0, 0, 0);
    if (int(links.size()) >= MaxLinks)
        return CreateLinkResult(OutOfResources, 0, 0, 0);
    if (parms.lockDevice && device->LockedByOther(0)) {
        // As a lock with waitlock: the link is made once the lock is had.
        if (!entry.lockDeadline)
            entry.lockDeadline = QDeadlineTimer(qint64(parms.lockTimeout));
        if (entry.lockDeadline->hasExpired())
            return CreateLinkResult(DeviceLocked, 0, 0, 0);
        return std::nullopt;
    }
    quint32 link = nextLink++;
    while (link == 0 || links.count(link))
        link = nextLink++;
    Link &made = links[link];
    made.device = device;
    made.connection = connection;
    device->AddLink(link);
    if (parms.lockDevice)
        device->Lock(link);
    return CreateLinkResult(NoError, link, AbortPort(), MaxReceive);
}

void Vxi11Server::TakeInput(quint32 link, Link &entry, const QByteArray &data, bool end)
{
    // Lines end with LF (a CR before it is dropped), and the END flag ends
    // the last one; each line is a message, as on the raw socket.
    entry.input += data;
    int at = 0;
    const auto take = [&](QByteArray line) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (std::exchange(entry.skipping, false))
            return;
        if (line.size() > ScpiServer::MaxLine)
            entry.device->Queue(link, {}, true);
        else if (!line.trimmed().isEmpty())
            entry.device->Queue(link, line);
    };
    for (int lineFeed = entry.input.indexOf('\n'); lineFeed >= 0; lineFeed = entry.input.indexOf('\n', at)) {
        take(entry.input.mid(at, lineFeed - at));
        at = lineFeed + 1;
    }
    entry.input.remove(0, at);
    if (end && !entry.input.isEmpty()) {
        take(entry.input);
        entry.input.clear();
    }
    if (entry.input.size() > ScpiServer::MaxLine + 1) {
        // Dropped now, so that it holds no memory; its rest goes too.
        if (!entry.skipping)
            entry.device->Queue(link, {}, true);
        entry.skipping = true;
        entry.input.clear();
    }
    if (end)
        entry.skipping = false;
}

std::optional<QByteArray> Vxi11Server::Write(Waiting &entry, const WriteParms &parms)
{
    const std::optional<qint32> rule = LockRule(entry, parms.link, parms.flags, parms.lockTimeout);
    if (!rule)
        return std::nullopt;
    if (*rule != NoError)
        return WriteResult(*rule, 0);
    Link &link = links[parms.link];
    if (!link.device->HasRoom(parms.link)) {
        if (!entry.ioDeadline)
            entry.ioDeadline = QDeadlineTimer(qint64(parms.ioTimeout));
        if (entry.ioDeadline->hasExpired())
            return WriteResult(IoTimeout, 0);
        return std::nullopt;
    }
    TakeInput(parms.link, link, parms.data, parms.flags & EndFlag);
    return WriteResult(NoError, quint32(parms.data.size()));
}

std::optional<QByteArray> Vxi11Server::Read(Waiting &entry, const ReadParms &parms)
{
    const std::optional<qint32> rule = LockRule(entry, parms.link, parms.flags, parms.lockTimeout);
    if (!rule)
        return std::nullopt;
    if (*rule != NoError)
        return ReadResult(*rule, 0, {});
    Vxi11Device *device = links[parms.link].device;
    QByteArray *answer = device->Answer(parms.link);
    if (!answer) {
        if (!entry.ioDeadline)
            entry.ioDeadline = QDeadlineTimer(qint64(parms.ioTimeout));
        if (!entry.ioDeadline->hasExpired())
            return std::nullopt;
        // The answer that comes after the time-out is not this link's next.
        device->DropComingAnswers(parms.link);
        return ReadResult(IoTimeout, 0, {});
    }
    qint32 reason = 0;
    int size = int(qMin<quint32>(parms.requestSize, quint32(answer->size())));
    if (parms.flags & TermCharSetFlag) {
        const int at = answer->indexOf(parms.termChar);
        if (at >= 0 && at < size) {
            size = at + 1;
            reason |= ReasonTermChar;
        }
    }
    const QByteArray data = answer->left(size);
    answer->remove(0, size);
    if (answer->isEmpty()) {
        reason |= ReasonEnd;
        device->AnswerTaken(parms.link);
    } else if (!(reason & ReasonTermChar)) {
        reason |= ReasonRequestCount;
    }
    return ReadResult(NoError, reason, data);
}

std::optional<QByteArray> Vxi11Server::Generic(Waiting &entry, const GenericParms &parms)
{
    const quint32 procedure = entry.call.procedure;
    const std::optional<qint32> rule = LockRule(entry, parms.link, parms.flags, parms.lockTimeout);
    if (!rule)
        return std::nullopt;
    if (*rule != NoError)
        return ErrorResultOf(procedure, *rule);
    Link &link = links[parms.link];
    switch (procedure) {
    case DeviceReadStb: {
        if (!std::exchange(entry.requested, true)) {
            link.device->QueueStatusByte(parms.link);
            entry.ioDeadline = QDeadlineTimer(qint64(parms.ioTimeout));
        }
        if (const std::optional<quint8> status = link.device->TakeStatusByte(parms.link))
            return ReadStbResult(NoError, *status);
        if (!entry.ioDeadline->hasExpired())
            return std::nullopt;
        link.device->DropComingStatusByte(parms.link);
        return ReadStbResult(IoTimeout, 0);
    }
    case DeviceClear:
        // The session starts afresh: its input, its waiting messages and
        // every answer of them, come or still to come, are dropped.
        link.input.clear();
        link.skipping = false;
        link.device->Clear(parms.link);
        return ErrorResult(NoError);
    default:
        // Trigger, local and remote: nothing to do on this instrument, as
        // SYSTem:LOCal and SYSTem:REMote.
        return ErrorResult(NoError);
    }
}
