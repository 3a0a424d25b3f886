#include "connection.h"

#include "devicelink.h"
#include "lostportwatch.h"
#include "sharedline.h"
#include "supplyport.h"
#include "supplystate.h"

#include <QSerialPort>

Connection::Connection(QObject *parent)
    : QObject(parent)
{
    port = new QSerialPort(this);
    link = std::make_unique<DeviceLink>();
    link->SetPort(port);
    line = std::make_unique<SharedLine>(*port, *link);
    states = new SupplyStates(this);
    link->SetStates(states);
    connect(LostPortWatch::For(port), &LostPortWatch::PortLost, this, &Connection::PortWentAway);
    connect(line.get(), &SharedLine::lost, this, &Connection::PortWentAway);
}

Connection::~Connection() = default;

bool Connection::Open(const QString &portName, PortFailure *failure)
{
    // The lock is taken on the device itself, whichever of its names is
    // chosen; a port that another of the user's programs serves is attached to.
    if (!line->Open(portName, false, failure))
        return false;
    Begin();
    return true;
}

bool Connection::Reopen(const QString &portName)
{
    // By the name the operator chose: an adapter plugged back may be another
    // device behind the same name. A program that took the line over
    // meanwhile is attached to.
    QString reason;
    if (!line->Open(portName, false, &reason))
        return false;
    Begin();
    return true;
}

void Connection::Begin()
{
    portLost = false;
    connected = true;
    ForgetSupply();
}

void Connection::Close()
{
    ++serial;
    line->Close();
    connected = false;
}

void Connection::ForgetSupply()
{
    ++serial;
    states->Clear();
    emit supplyForgotten();
}

bool Connection::LineShared() const
{
    return line->CurrentRole() == SharedLine::Role::Attached || line->Members().size() > 1;
}

void Connection::PortWentAway()
{
    // The watch has closed the port already.
    portLost = true;
    emit lost();
}
