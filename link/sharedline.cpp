#include "sharedline.h"

#include "devicelink.h"
#include "lineclient.h"
#include "linesocketplace.h"
#include "lineserver.h"
#include "lostportwatch.h"
#include "supplyport.h"
#include "supplystate.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

SharedLine::SharedLine(QSerialPort &port, DeviceLink &link, QObject *parent)
    : QObject(parent)
    , port(port)
    , link(link)
    , takeover(new QTimer(this))
{
    me.pid = QCoreApplication::applicationPid();
    takeover->setInterval(TakeoverTryMs);
    connect(takeover, &QTimer::timeout, this, &SharedLine::TryTakeOver);
    connect(LostPortWatch::For(&port), &LostPortWatch::PortLost, this, &SharedLine::OwnPortLost);
}

SharedLine::~SharedLine()
{
    Close();
}

QString SharedLine::ServerName(const QString &device)
{
    QString name = device;
    for (QChar &c : name) {
        if (!c.isLetterOrNumber())
            c = QLatin1Char('-');
    }
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    return LineSocketPlace(QStringLiteral("velkaro-line-") + name);
}

void SharedLine::SetMember(const LineMember &member)
{
    const qint64 pid = me.pid;
    me = member;
    me.pid = pid;
    if (server)
        server->SetOwnMember(me);
    if (client)
        client->Tell(me);
    emit membersChanged();
}

bool SharedLine::Open(const QString &portPath, bool exclusiveUse, PortFailure *failure)
{
    Close();
    path = portPath;
    exclusive = exclusiveUse;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (OpenSupplyPort(port, path, failure)) {
            // A system that lets a second program open a port another holds
            // (Wine does; a driver may) reports nothing busy: a line its
            // holder serves is attached to all the same, never shared on
            // the wire unknowingly.
            const QString device = SupplyPortDevice(path);
            if (!(exclusive ? Served(device) : AttachTo(device)))
                return BecomeOwner();
            port.close();
            if (exclusive) {
                *failure = {};
                failure->kind = PortFailure::Kind::Busy;
                return false;
            }
            role = Role::Attached;
            return true;
        }
        if (failure->kind != PortFailure::Kind::Busy || exclusive)
            return false;
        if (AttachTo(SupplyPortDevice(path))) {
            role = Role::Attached;
            return true;
        }
        // Held, and nobody serves it: its owner is starting or leaving (or
        // does not share it, which shows once this has waited long enough).
        if (waited.elapsed() >= StartRaceMs)
            return false;
        QThread::msleep(StartRaceTryMs);
    }
}

bool SharedLine::Open(const QString &portPath, bool exclusiveUse, QString *reason, bool *busy)
{
    PortFailure failure;
    const bool opened = Open(portPath, exclusiveUse, &failure);
    if (busy)
        *busy = failure.kind == PortFailure::Kind::Busy;
    if (!opened)
        *reason = PortFailureText(failure);
    return opened;
}

bool SharedLine::BecomeOwner()
{
    if (client)
        client->Detach();
    link.SetRemote(nullptr);
    link.SetPort(&port);
    role = Role::Owner;
    if (exclusive)
        return true;
    server = new LineServer(link, this);
    server->SetOwnMember(me);
    // Not serving is no reason to fail: the others then find the port busy.
    server->Listen(ServerName(SupplyPortDevice(path)), nullptr);
    connect(server, &LineServer::membersChanged, this, &SharedLine::membersChanged);
    LineServer *serving = server;
    link.SetHeardHook([serving](bool written, quint8 address, quint8 command, const QByteArray &bytes) {
        serving->PassHeard(LineHeard{written, address, command, bytes, LineClockMs()});
    });
    emit membersChanged();
    return true;
}

bool SharedLine::Served(const QString &device)
{
    QLocalSocket probe;
    probe.connectToServer(ServerName(device));
    const bool served = probe.waitForConnected(AttachWaitMs);
    probe.abort();
    return served;
}

bool SharedLine::AttachTo(const QString &device)
{
    if (!client) {
        client = new LineClient(this);
        connect(client, &LineClient::detached, this, &SharedLine::OwnerGone);
        connect(client, &LineClient::membersChanged, this, &SharedLine::membersChanged);
        connect(client, &LineClient::heardOnLine, this, &SharedLine::NoteHeard);
    }
    if (!client->Attach(ServerName(device), me, AttachWaitMs))
        return false;
    link.SetRemote(this);
    client->WaitForMembers(AttachWaitMs);
    // An owner letting the line go may have taken the connection and closed
    // it meanwhile; its end came while the line was not yet attached, and
    // no other will come.
    return client->IsAttached();
}

void SharedLine::StopServing()
{
    link.SetHeardHook(nullptr);
    // The line may be let go from an event handled while an attached
    // program's exchange is made: its outcome then goes to nobody.
    if (server) {
        server->disconnect(this);
        server->Retire();
    }
    server = nullptr;
}

void SharedLine::Close()
{
    takeover->stop();
    interrupted = false;
    // Nobody new attaches from here: a program starting now waits for the
    // port instead. The name is let go while the port is still held, so
    // that it never removes the name of the next owner's server.
    if (server) {
        server->StopListening();
        // The requests the others have sent already are made before the
        // port goes, rather than left for them to ask again.
        if (role == Role::Owner && port.isOpen() && !link.InExchange())
            server->ServeQueued();
    }
    if (role == Role::Owner && port.isOpen())
        link.DrainLateReply();
    // The port is free before the attached programs see the end, so that the
    // first of them takes it over at once.
    if (port.isOpen())
        port.close();
    StopServing();
    if (client)
        client->Detach();
    link.SetRemote(nullptr);
    if (role != Role::Closed) {
        role = Role::Closed;
        emit membersChanged();
    }
}

bool SharedLine::IsOpen() const
{
    switch (role) {
    case Role::Owner:
        return port.isOpen();
    case Role::Attached:
        return client && client->IsAttached();
    case Role::Closed:
    case Role::HandingOver:
        break;
    }
    return false;
}

bool SharedLine::Reopen()
{
    interrupted = false;
    if (IsOpen())
        return true;
    if (role == Role::HandingOver) {
        TryTakeOver();
        return IsOpen();
    }
    if (path.isEmpty())
        return false;
    QString reason;
    return Open(path, exclusive, &reason);
}

QList<LineMember> SharedLine::Members() const
{
    if (role == Role::Owner && server)
        return server->Members();
    if (role == Role::Attached && client)
        return client->Members();
    LineMember self = me;
    self.owner = role == Role::Owner;
    return {self};
}

LinkResult SharedLine::Exchange(const LineRequest &request, QByteArray *reply)
{
    const LinkResult result = client->Exchange(request, reply);
    if (result != LinkResult::NoReply || (role == Role::Attached && client->IsAttached()))
        return result;
    // The owner went while this was asked, perhaps before making it. The
    // line is taken over now rather than from the event loop (unless that
    // has begun already), and waited for a little, so that the caller's next
    // try is made.
    OwnerGone();
    QElapsedTimer waited;
    waited.start();
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    while (role == Role::HandingOver) {
        const qint64 left = RetryAfterHandoverMs - waited.elapsed();
        if (left < 0)
            break;
        deadline.start(int(left) + 1);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // A read the leaving owner did not make is asked of the new one at once:
    // a handover is no failure of the supply, and asking again changes
    // nothing on it. A write is left to its caller's tries.
    if (request.kind == LineRequest::Kind::Read && role == Role::Attached && client->IsAttached())
        return client->Exchange(request, reply);
    return result;
}

void SharedLine::NoteHeard(const LineHeard &heard)
{
    SupplyStates *states = link.States();
    if (!states)
        return;
    // Its age as the owner heard it: a message held up on the way (this
    // program was stopped, the owner flushed late) is no fresher for it.
    const qint64 ageMs = LineClockMs() - heard.atMs;
    if (heard.written)
        states->NoteWritten(heard.address, heard.command, heard.bytes, ageMs);
    else
        states->NoteReply(heard.address, heard.command, heard.bytes, ageMs);
}

bool SharedLine::NotAsked() const
{
    return client && client->NotAsked();
}

QString SharedLine::SilentOwner() const
{
    if (role != Role::Attached || !client || !client->OwnerSilent())
        return {};
    for (const LineMember &member : client->Members()) {
        if (member.owner)
            return QStringLiteral("%1 (pid %2)").arg(member.program).arg(member.pid);
    }
    // Stopped before it told who it is: the port's lock names it.
    const QString holder = SupplyPortHolder(SupplyPortDevice(path));
    return holder.isEmpty() ? QStringLiteral("the program holding the port") : holder;
}

void SharedLine::OwnPortLost()
{
    // The attached programs are let go at once: they look for the port
    // themselves (and may find it back first), rather than wait on an owner
    // that has none. Reopen() then owns the line again or attaches.
    if (role == Role::Owner)
        StopServing();
}

void SharedLine::OwnerGone()
{
    if (role != Role::Attached)
        return;
    role = Role::HandingOver;
    interrupted = true;
    handoverClock.start();
    emit handingOver();
    emit membersChanged();
    TryTakeOver();
    if (role == Role::HandingOver)
        takeover->start();
}

void SharedLine::TryTakeOver()
{
    if (role != Role::HandingOver) {
        takeover->stop();
        return;
    }
    QString reason;
    bool held = false;
    if (OpenSupplyPort(port, path, &reason, &held)) {
        takeover->stop();
        BecomeOwner();
        emit takenOver();
        return;
    }
    if (held && AttachTo(SupplyPortDevice(path))) {
        takeover->stop();
        role = Role::Attached;
        emit takenOver();
        emit membersChanged();
        return;
    }
    if (handoverClock.elapsed() >= TakeoverBoundMs) {
        takeover->stop();
        role = Role::Closed;
        link.SetRemote(nullptr);
        emit lost(reason);
    }
}
