#include "lineserver.h"

#include "devicelink.h"
#include "lineschedule.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>

LineServer::LineServer(DeviceLink &link, QObject *parent)
    : QObject(parent)
    , link(link)
    , server(new QLocalServer(this))
    , backoffWake(new QTimer(this))
{
    backoffWake->setSingleShot(true);
    connect(backoffWake, &QTimer::timeout, this, &LineServer::SubmitHeads);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, &LineServer::AcceptClients);
}

LineServer::~LineServer()
{
    EndClients();
}

void LineServer::EndClients()
{
    // Nobody attaches any more; the attached programs see the end at once
    // and take the line over.
    server->close();
    for (auto &client : clients) {
        link.Schedule().Withdraw(client->user);
        if (client->socket) {
            client->socket->disconnect(this);
            client->socket->abort();
        }
    }
}

void LineServer::Retire()
{
    // A request of an attached program being made now finds the server gone
    // when it ends (see SubmitHeads) and is answered to nobody.
    delete this;
}

bool LineServer::Listen(const QString &name, QString *reason)
{
    if (server->listen(name))
        return true;
    // A socket left by an owner that was killed: the port's lock is ours, so
    // the name is free to take.
    QLocalServer::removeServer(name);
    if (server->listen(name))
        return true;
    if (reason)
        *reason = server->errorString();
    return false;
}

void LineServer::StopListening()
{
    server->close();
}

void LineServer::SetOwnMember(const LineMember &member)
{
    own = member;
    own.owner = true;
    BroadcastMembers();
}

QList<LineMember> LineServer::Members() const
{
    QList<LineMember> members{own};
    for (const auto &client : clients) {
        if (client->greeted)
            members.append(client->member);
    }
    return members;
}

LineServer::Client *LineServer::ClientOf(QLocalSocket *socket)
{
    for (auto &client : clients) {
        if (client->socket == socket)
            return client.get();
    }
    return nullptr;
}

void LineServer::AcceptClients()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        socket->setParent(this);
        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->user = link.Schedule().NewUser();
        clients.push_back(std::move(client));
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (Client *client = ClientOf(socket))
                ReadClient(client);
        });
        // Queued: a write to a program that went reports it at once, and the
        // list of clients must not change under a loop that writes to them.
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { DropClient(socket); },
                Qt::QueuedConnection);
    }
}

void LineServer::ReadClient(Client *client)
{
    client->buffer.append(client->socket->readAll());
    bool changed = false;
    for (;;) {
        LineMessage message;
        const LineMessageTaken taken = TakeLineMessage(client->buffer, message);
        if (taken == LineMessageTaken::Partial)
            break;
        if (taken == LineMessageTaken::Malformed) {
            // Out of step (or another build): it attaches again after a takeover.
            client->socket->abort();
            return;
        }
        switch (message.type) {
        case LineMessage::Type::Hello:
        case LineMessage::Type::Doing:
            client->member = message.member;
            client->member.owner = false;
            client->greeted = true;
            changed = true;
            break;
        case LineMessage::Type::Request:
            client->queued.push_back({message, ++sequence});
            break;
        default:
            break;
        }
    }
    if (changed)
        BroadcastMembers();
    SubmitHeads();
}

bool LineServer::HeldForBackoff(const LineMessage &request)
{
    const LineRequest &asked = request.request;
    qint64 waitMs = link.BackoffWaitMs(asked.address);
    if (asked.kind != LineRequest::Kind::Read || waitMs <= 0)
        return false;
    // A read for a supply being backed off waits for its next try, or, when
    // its program gives up before that, until just before it does: then it
    // is answered as not asked (SubmitHeads). A program reading in a loop
    // thus waits as it would for the supply, instead of failing at once.
    const qint64 givingUpIn = request.answerByMs - StartMarginMs - LineClockMs();
    if (givingUpIn < 0)
        return false;
    waitMs = qMin(waitMs, givingUpIn);
    if (!backoffWake->isActive() || backoffWake->remainingTime() > waitMs)
        backoffWake->start(int(waitMs) + 1);
    return true;
}

void LineServer::DropClient(QLocalSocket *socket)
{
    const auto goes = [socket](const auto &c) { return c->socket == socket || !c->socket; };
    for (const auto &client : clients) {
        if (goes(client))
            link.Schedule().Withdraw(client->user);
    }
    const auto gone = std::remove_if(clients.begin(), clients.end(), goes);
    if (gone == clients.end())
        return;
    clients.erase(gone, clients.end());
    socket->deleteLater();
    BroadcastMembers();
}

void LineServer::Send(Client &client, const LineMessage &message)
{
    if (client.socket && client.socket->state() == QLocalSocket::ConnectedState) {
        client.socket->write(EncodeLineMessage(message));
        client.socket->flush();
    }
}

void LineServer::BroadcastMembers()
{
    LineMessage message;
    message.type = LineMessage::Type::Members;
    message.members = Members();
    for (auto &client : clients) {
        if (client->greeted)
            Send(*client, message);
    }
    emit membersChanged();
}

void LineServer::PassHeard(const LineHeard &heard)
{
    LineMessage message;
    message.type = LineMessage::Type::Heard;
    message.heard = heard;
    // Before the outcome of the request that heard it: the asking program's
    // states learn it in the order the line gave it.
    for (auto &client : clients) {
        if (client->greeted && client->socket && client->socket->bytesToWrite() < MaxUnreadHeard)
            Send(*client, message);
    }
}

void LineServer::SubmitHeads()
{
    bool queued = false;
    for (auto &client : clients) {
        if (client->submitted || client->queued.empty()
            || HeldForBackoff(client->queued.front().message))
            continue;
        client->submitted = true;
        queued = true;
        const LineMessage &request = client->queued.front().message;
        const qint64 startBy = request.answerByMs - StartMarginMs;
        DeviceLink *line = &link;
        auto screen = [startBy, line](LineOutcome &outcome) {
            outcome.result = LinkResult::NoReply;
            // Given up on by now, or about to be (its program was stopped):
            // a write made now could land after its program reported it failed.
            if (LineClockMs() > startBy) {
                outcome.notAsked = true;
                return true;
            }
            return !line->PortOpen();  // the port is lost: nothing to wait for
        };
        // The server may be gone (the line let go) when the request is made.
        QPointer<LineServer> self(this);
        QPointer<QLocalSocket> socket = client->socket;
        link.Schedule().Submit(
            client->user, request.request,
            [self, socket](const LineOutcome &outcome) {
                if (self)
                    self->Answer(socket, outcome);
            },
            screen);
    }
    if (queued)
        link.RunScheduleSoon();
}

void LineServer::Answer(QLocalSocket *socket, const LineOutcome &outcome)
{
    // The program may have gone while its request was made.
    Client *client = socket ? ClientOf(socket) : nullptr;
    if (!client || client->queued.empty())
        return;
    LineMessage answer;
    answer.type = LineMessage::Type::Outcome;
    answer.serial = client->queued.front().message.serial;
    answer.outcome = outcome;
    client->queued.pop_front();
    client->submitted = false;
    Send(*client, answer);
    SubmitHeads();
}

void LineServer::ServeQueued()
{
    link.Schedule().RunAll();
}
