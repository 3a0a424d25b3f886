#include "scpiserver.h"

#include "lostportwatch.h"
#include "scpierrors.h"
#include "scpiinstrument.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

const char ClientId[] = "scpiClient";

// What Qt may hold unread for one client before it stops reading its socket.
constexpr qint64 SocketReadBuffer = 16 * 1024;

}  // namespace

ScpiServer::ScpiServer(ScpiInstrument &instrument, QSerialPort *port, QObject *parent)
    : QObject(parent)
    , instrument(instrument)
    , port(port)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &ScpiServer::acceptClients);
    connect(LostPortWatch::For(port), &LostPortWatch::PortLost, this, &ScpiServer::portFailed);
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

void ScpiServer::acceptClients()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        if (stopped || clients.size() >= size_t(MaxClients)) {
            // Closed at once, so that the client learns it instead of waiting.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const quint64 id = nextId++;
        socket->setProperty(ClientId, id);
        socket->setReadBufferSize(SocketReadBuffer);
        clients[id].socket = socket;
        connect(socket, &QTcpSocket::readyRead, this, &ScpiServer::readClient);
        connect(socket, &QTcpSocket::bytesWritten, this, &ScpiServer::readClient);
        connect(socket, &QTcpSocket::disconnected, this, &ScpiServer::dropClient);
        takeLines(id);
    }
    scheduleRun();
}

quint64 ScpiServer::idOf(QObject *socket) const
{
    return socket ? socket->property(ClientId).toULongLong() : 0;
}

void ScpiServer::readClient()
{
    takeLines(idOf(sender()));
    scheduleRun();
}

void ScpiServer::dropClient()
{
    const quint64 id = idOf(sender());
    const auto found = clients.find(id);
    if (found == clients.end())
        return;
    // Whole messages that came before the close are still carried out, as
    // far as the bounds let them in; a line cut off by it is not.
    takeLines(id);
    found->second.socket->deleteLater();
    clients.erase(found);
    takeAllLines();
    scheduleRun();
}

void ScpiServer::takeLines(quint64 id)
{
    const auto found = clients.find(id);
    if (found == clients.end() || stopped)
        return;
    Client &client = found->second;
    QTcpSocket *socket = client.socket;
    while (client.queued < MaxQueuedPerClient && queue.size() < MaxQueued
           && socket->bytesToWrite() < MaxUnsent && socket->bytesAvailable() > 0) {
        // At most what still fits in a line, and its LF; readLine(n) reads up
        // to n - 1 bytes.
        const QByteArray piece = socket->readLine(MaxLine + 2 - client.partial.size());
        if (piece.isEmpty())
            break;
        const bool complete = piece.endsWith('\n');
        if (client.skipping) {
            client.skipping = !complete;
            continue;
        }
        client.partial += piece;
        if (!complete) {
            if (client.partial.size() > MaxLine) {
                client.partial.clear();
                client.skipping = true;
                enqueue(id, client, {}, true);
            }
            continue;
        }
        QByteArray line;
        line.swap(client.partial);
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            enqueue(id, client, line, false);
    }
}

void ScpiServer::takeAllLines()
{
    for (auto &entry : clients)
        takeLines(entry.first);
}

void ScpiServer::enqueue(quint64 id, Client &client, const QByteArray &text, bool overrun)
{
    queue.enqueue({id, text, overrun});
    ++client.queued;
}

void ScpiServer::scheduleRun()
{
    if (runScheduled || running || queue.isEmpty())
        return;
    runScheduled = true;
    QMetaObject::invokeMethod(this, &ScpiServer::runQueue, Qt::QueuedConnection);
}

void ScpiServer::runQueue()
{
    runScheduled = false;
    if (running)
        return;
    running = true;
    while (!stopped && !queue.isEmpty()) {
        const Message message = queue.dequeue();
        std::optional<QByteArray> response;
        if (message.overrun)
            instrument.Errors().Push(ScpiError::InputBufferOverrun);
        else
            response = instrument.Execute(message.text);
        // A client that has gone gets no response; its message was still
        // carried out, as it arrived whole.
        const auto found = clients.find(message.client);
        if (found != clients.end()) {
            --found->second.queued;
            QTcpSocket *socket = found->second.socket;
            // One that is closing and not yet told apart gets nothing either.
            if (response && socket->state() == QAbstractSocket::ConnectedState)
                socket->write(*response + '\n');
        }
        takeAllLines();
    }
    running = false;
}

void ScpiServer::Stop()
{
    stopped = true;
    server->close();
    for (auto &entry : clients) {
        entry.second.socket->disconnect(this);
        entry.second.socket->abort();
        entry.second.socket->deleteLater();
    }
    clients.clear();
    queue.clear();
}

void ScpiServer::portFailed()
{
    // The watch has closed the port already.
    if (stopped)
        return;
    Stop();
    emit PortLost();
}
