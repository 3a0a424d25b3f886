#include "scpiserver.h"

#include "lostportwatch.h"
#include "scpiclientsocket.h"
#include "scpierrors.h"
#include "scpiinstrument.h"
#include "scpilistener.h"
#include "scpisocketio.h"
#include "scpiturns.h"

#include <QTimer>

namespace {

const char ClientId[] = "scpiClient";

// Tells a refused client why and closes at once: the short line goes into
// the system's send buffer of a fresh connection whole. Only when many
// refusals linger already; a close with input still coming resets the
// connection, and a reset can destroy the line before the client reads it.
void RefuseAtOnce(qintptr descriptor, const char *line)
{
    if (ScpiSocketIo::Prepare(descriptor)) {
        ScpiSocketIo::Send(descriptor, line, qint64(qstrlen(line)));
        ScpiSocketIo::ShutdownSend(descriptor);
        // Bounded, so that a client that keeps sending cannot hold the server.
        char sink[4096];
        for (int pass = 0; pass < 16; ++pass) {
            if (ScpiSocketIo::Receive(descriptor, sink, sizeof sink) <= 0)
                break;
        }
    }
    ScpiSocketIo::Close(descriptor);
}

}  // namespace

ScpiServer::ScpiServer(ScpiInstrument &instrument, QSerialPort *port, ScpiTurns *turns,
                       QObject *parent)
    : QObject(parent)
    , instrument(instrument)
    , port(port)
    , server(new ScpiListener(this))
    , turns(turns ? turns : new ScpiTurns(instrument.Line(), this))
{
    this->turns->Add(this);
    instrument.SetBetweenTries([this] { ServeOthers(); });
    connect(server, &ScpiListener::Accepted, this, &ScpiServer::AcceptClient);
    connect(LostPortWatch::For(port), &LostPortWatch::PortLost, this, &ScpiServer::PortFailed);
}

ScpiServer::~ScpiServer()
{
    turns->Remove(this);
    instrument.SetBetweenTries({});
}

void ScpiServer::SetIdleTimeout(int seconds)
{
    idleSeconds = seconds;
}

bool ScpiServer::Listen(const QHostAddress &address, quint16 portNumber, QString *error)
{
    if (server->listen(address, portNumber))
        return true;
    *error = server->errorString();
    return false;
}

quint16 ScpiServer::ServerPort() const
{
    return server->serverPort();
}

int ScpiServer::Connected() const
{
    int count = 0;
    for (const auto &entry : clients)
        count += entry.second.socket != nullptr;
    return count;
}

void ScpiServer::TellClients()
{
    const int connected = Connected();
    if (connected == toldClients)
        return;
    toldClients = connected;
    emit ClientsChanged(connected);
}

void ScpiServer::AcceptClient(qintptr descriptor)
{
    if (stopped) {
        ScpiSocketIo::Close(descriptor);
        return;
    }
    if (Connected() >= MaxClients) {
        Refuse(descriptor);
        return;
    }
    auto *socket = new ScpiClientSocket(descriptor, this);
    const quint64 id = nextId++;
    socket->setProperty(ClientId, id);
    Client &client = clients[id];
    client.socket = socket;
    connect(socket, &ScpiClientSocket::ReadyRead, this, &ScpiServer::ReadClient);
    connect(socket, &ScpiClientSocket::BytesWritten, this, &ScpiServer::ResumeClient);
    connect(socket, &ScpiClientSocket::Closed, this, &ScpiServer::DropClient);
    if (idleSeconds > 0) {
        client.idle = new QTimer(socket);
        client.idle->setSingleShot(true);
        connect(client.idle, &QTimer::timeout, this, [this, id] { CloseIdle(id); });
        client.idle->start(idleSeconds * 1000);
    }
    TellClients();
}

void ScpiServer::Refuse(qintptr descriptor)
{
    if (refusing >= MaxRefusing) {
        RefuseAtOnce(descriptor, BusyLine);
        return;
    }
    // The line, then the end of the sending side once it is sent; what the
    // client sends meanwhile (a script's first query) is read and dropped,
    // and the close waits for the client's own or ScpiClientSocket::LingerMs,
    // so that the client is never answered with a reset.
    auto *socket = new ScpiClientSocket(descriptor, this);
    ++refusing;
    connect(socket, &ScpiClientSocket::Closed, this, [this, socket] {
        --refusing;
        socket->deleteLater();
    });
    socket->Write(BusyLine);
    socket->Finish();
}

bool ScpiServer::IsServing(quint64 id) const
{
    return id == serving || id == suspended;
}

quint64 ScpiServer::IdOf(QObject *socket) const
{
    return socket ? socket->property(ClientId).toULongLong() : 0;
}

void ScpiServer::ReadClient()
{
    const quint64 id = IdOf(sender());
    const auto found = clients.find(id);
    if (found != clients.end() && found->second.idle)
        found->second.idle->start();
    ResumeClient();
}

void ScpiServer::ResumeClient()
{
    const quint64 id = IdOf(sender());
    TakeLines(id);
    ReleaseIfDone(id);
    ScheduleRun();
}

void ScpiServer::DropClient()
{
    const quint64 id = IdOf(sender());
    const auto found = clients.find(id);
    if (found == clients.end() || found->second.socket != sender())
        return;
    // Whole messages that came before the close are still carried out, as
    // far as the bounds let them in; a line cut off by it is not.
    TakeLines(id);
    found->second.socket->deleteLater();
    found->second.socket = nullptr;
    found->second.idle = nullptr;  // the socket's child
    ReleaseIfDone(id);
    TakeAllLines();
    ScheduleRun();
    TellClients();
}

void ScpiServer::CloseIdle(quint64 id)
{
    const auto found = clients.find(id);
    if (found == clients.end() || !found->second.socket)
        return;
    Client &client = found->second;
    if (!client.waiting.isEmpty() || IsServing(id)) {
        client.idle->start();
        return;
    }
    client.idle->stop();
    FinishSocket(client.socket);
    clients.erase(found);
    TakeAllLines();
    TellClients();
}

void ScpiServer::FinishSocket(ScpiClientSocket *socket)
{
    // The socket closes once its responses are sent, and then goes.
    socket->disconnect(this);
    connect(socket, &ScpiClientSocket::Closed, socket, &QObject::deleteLater);
    socket->Finish();
}

void ScpiServer::ReleaseIfDone(quint64 id)
{
    const auto found = clients.find(id);
    if (found == clients.end() || IsServing(id) || !found->second.waiting.isEmpty())
        return;
    Client &client = found->second;
    if (client.socket) {
        if (!client.socket->InputEnded() || !client.socket->Inbox().isEmpty()
            || !client.partial.isEmpty())
            return;
        // The client has said all it will; it has its responses once they
        // are sent.
        if (client.idle)
            client.idle->stop();
        FinishSocket(client.socket);
    }
    clients.erase(found);
    TellClients();
}

void ScpiServer::TakeLines(quint64 id)
{
    const auto found = clients.find(id);
    if (found == clients.end() || stopped || !found->second.socket)
        return;
    Client &client = found->second;
    ScpiClientSocket *socket = client.socket;
    QByteArray &inbox = socket->Inbox();
    const auto mayTake = [&] {
        return client.waiting.size() < MaxQueuedPerClient && queued < MaxQueued
               && socket->BytesToWrite() < MaxUnsent;
    };
    int at = 0;
    while (at < inbox.size() && mayTake()) {
        const int lineFeed = inbox.indexOf('\n', at);
        const int end = lineFeed < 0 ? inbox.size() : lineFeed;
        const QByteArray piece = inbox.mid(at, end - at);
        at = lineFeed < 0 ? inbox.size() : lineFeed + 1;
        if (client.skipping) {
            client.skipping = lineFeed < 0;
            continue;
        }
        client.partial += piece;
        if (lineFeed < 0) {
            // A CR at the end may be the start of the line end, which the
            // limit does not count.
            const int length = client.partial.size() - (client.partial.endsWith('\r') ? 1 : 0);
            if (length > MaxLine) {
                client.partial.clear();
                client.skipping = true;
                Enqueue(client, {}, true);
            }
            continue;
        }
        QByteArray line;
        line.swap(client.partial);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > MaxLine)
            Enqueue(client, {}, true);
        else if (!line.isEmpty())
            Enqueue(client, line, false);
    }
    inbox.remove(0, at);
    // The end of the client's input ends its last line too: a client that
    // sends a query without a line end and then shuts down its sending side
    // (printf 'MEAS:VOLT?' | nc -N) asks it all the same.
    if (inbox.isEmpty() && socket->InputEnded() && !client.partial.isEmpty() && mayTake()) {
        QByteArray line;
        line.swap(client.partial);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            Enqueue(client, line, false);
    }
    socket->SetReading(mayTake());
}

void ScpiServer::TakeAllLines()
{
    for (auto &entry : clients)
        TakeLines(entry.first);
}

void ScpiServer::Enqueue(Client &client, const QByteArray &text, bool overrun)
{
    client.waiting.enqueue({text, overrun});
    ++queued;
}

quint64 ScpiServer::NextTurn() const
{
    // The first client after the one served last that has a message
    // waiting, wrapping around.
    for (auto it = clients.upper_bound(lastServed); it != clients.end(); ++it) {
        if (!it->second.waiting.isEmpty())
            return it->first;
    }
    for (auto it = clients.begin(); it != clients.end() && it->first <= lastServed; ++it) {
        if (!it->second.waiting.isEmpty())
            return it->first;
    }
    return 0;
}

void ScpiServer::ScheduleRun()
{
    if (HasWaiting())
        turns->ScheduleRun();
}

void ScpiServer::RunNextTurn()
{
    const quint64 id = NextTurn();
    if (id == 0 || stopped)
        return;
    RunOne(id);
    lastServed = id;
}

void ScpiServer::RunOne(quint64 id)
{
    const quint64 before = serving;
    const Message message = clients[id].waiting.dequeue();
    --queued;
    serving = id;
    std::optional<QByteArray> response;
    if (message.overrun)
        instrument.QueueError(ScpiError::InputBufferOverrun);
    else
        response = instrument.Execute(message.text);
    serving = before;
    // A client that has gone gets no response; its message was still
    // carried out, as it arrived whole.
    const auto found = clients.find(id);
    if (found != clients.end() && found->second.socket && response)
        found->second.socket->Write(*response + '\n');
    TakeAllLines();
    ReleaseIfDone(id);
}

void ScpiServer::ServeOthers()
{
    if (suspended != 0 || stopped || serving == 0)
        return;
    turns->ServeOthers(this);
}

void ScpiServer::ServeEachWaiting(bool forAnotherInstrument)
{
    // Between two tries of a step with the supply: every client with a
    // message waiting gets one turn, in order after the client being served
    // (or served last), so that none waits for more than one try. Their own
    // steps do not make room for others again.
    if (suspended != 0 || stopped)
        return;
    const quint64 owner = forAnotherInstrument ? 0 : serving;
    const quint64 after = owner != 0 ? owner : lastServed;
    suspended = owner;
    instrument.SetTryingOnce(forAnotherInstrument);
    QList<quint64> order;
    for (auto it = clients.upper_bound(after); it != clients.end(); ++it)
        order.append(it->first);
    for (auto it = clients.begin(); it != clients.end() && it->first <= after; ++it) {
        if (it->first != owner)
            order.append(it->first);
    }
    for (const quint64 id : order) {
        const auto found = clients.find(id);
        if (stopped || found == clients.end() || found->second.waiting.isEmpty())
            continue;
        RunOne(id);
    }
    instrument.SetTryingOnce(false);
    suspended = 0;
}

void ScpiServer::Stop()
{
    stopped = true;
    server->close();
    for (auto &entry : clients) {
        ScpiClientSocket *socket = entry.second.socket;
        if (!socket)
            continue;
        socket->disconnect(this);
        socket->Abort();
        socket->deleteLater();
    }
    clients.clear();
    queued = 0;
    TellClients();
}

void ScpiServer::PortFailed()
{
    // The watch has closed the port already.
    if (stopped)
        return;
    Stop();
    emit PortLost();
}
