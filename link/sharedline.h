#pragma once

#include "linemember.h"
#include "linemessage.h"
#include "linetransport.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class DeviceLink;
struct PortFailure;
class LineClient;
class LineServer;
class QSerialPort;
class QTimer;

// One serial line as every program of this user on this machine shares it.
// The program that opens the port serves the line to the others through a
// local socket named after the device; a program finding the port held by
// such a program attaches to it, and its link's transactions are made by the
// owner. When the owner goes, the attached programs take the line over: the
// first to open the port owns it, the others attach to it.
class SharedLine : public QObject, private LineTransport
{
    Q_OBJECT

public:
    enum class Role {
        Closed,
        Owner,        // holds the port (and serves it unless exclusive)
        Attached,     // another program holds it and makes our exchanges
        HandingOver,  // the owner went; the line is being taken over
    };

    // port and link are the caller's and must outlive the line.
    SharedLine(QSerialPort &port, DeviceLink &link, QObject *parent = nullptr);
    ~SharedLine() override;

    // Who this program is on the line, and what it does; told to the others.
    void SetMember(const LineMember &member);
    LineMember Member() const { return me; }

    // Opens the port at path, or attaches to the program serving it. With
    // exclusive the port is neither shared nor attached to. False with the
    // reason (naming the holder of a busy port). A port held by a program
    // that has not begun serving it yet, or is just letting it go, is waited
    // for a little (StartRaceMs): programs started together end up on one
    // owner, and one whose owner leaves takes the port.
    bool Open(const QString &path, bool exclusive, PortFailure *failure);
    // The same, with the reason in English; busy tells whether another
    // program holds the port.
    bool Open(const QString &path, bool exclusive, QString *reason, bool *busy = nullptr);
    // Lets the line go: a served line passes to the attached programs.
    void Close();
    // Open as owner or attached; false while handing over.
    bool IsOpen() const;
    Role CurrentRole() const { return role; }
    // The owner went and the line is being taken over (or is, but the
    // program has not noticed yet).
    bool HandingOver() const
    {
        return role == Role::HandingOver || (role == Role::Attached && !IsOpen());
    }
    // Set when the owner went, until Reopen(): a takeover that came quickly
    // still interrupted the line, and a run records it.
    bool Interrupted() const { return interrupted; }
    // After a loss: true once owner or attached again (a takeover in progress
    // is given a try at once); clears Interrupted().
    bool Reopen();
    // Everybody on the line, the owner first; only this program when nobody
    // else is attached.
    QList<LineMember> Members() const;
    // Attached to an owner that holds the line but answered nothing during
    // the last exchange's whole bound (stopped or stuck): "PROGRAM (pid N)",
    // else empty.
    QString SilentOwner() const;

    // The local socket's name for a device: the same in every program of a
    // user, whatever its TMPDIR.
    static QString ServerName(const QString &device);

    // The owner going is noticed at once; the line is taken over (or
    // attached to the new owner) within this, or it is lost.
    static constexpr int TakeoverBoundMs = 3000;
    static constexpr int TakeoverTryMs = 50;
    static constexpr int AttachWaitMs = 500;
    // Between a program's opening the port and its serving it, and between
    // its ceasing to serve and its closing the port, the port is held by
    // nobody to attach to; that lasts a moment (a late reply drained at
    // most), and a port held longer so is held by a program that does not
    // share it.
    static constexpr int StartRaceMs = 1500;
    static constexpr int StartRaceTryMs = 10;
    // An exchange that the owner's going left unanswered waits this long at
    // most for the line to be taken over: the caller's next try then goes to
    // the new owner instead of failing too.
    static constexpr int RetryAfterHandoverMs = 500;

signals:
    void membersChanged();
    // The owner went: the line is being taken over.
    void handingOver();
    // Owner or attached again after a handover.
    void takenOver();
    // The handover did not succeed within TakeoverBoundMs.
    void lost(const QString &reason);

private slots:
    void OwnerGone();
    void OwnPortLost();
    void TryTakeOver();
    // What the owner heard, into the link's supply states.
    void NoteHeard(const LineHeard &heard);

private:
    // Attached: the link's transactions, made by the owner through the client.
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override;
    bool NotAsked() const override;
    bool BecomeOwner();
    bool AttachTo(const QString &device);
    // Whether a program serves the line of device.
    bool Served(const QString &device);
    void StopServing();

    QSerialPort &port;
    DeviceLink &link;
    LineMember me;
    QString path;
    bool exclusive = false;
    Role role = Role::Closed;
    bool interrupted = false;
    LineServer *server = nullptr;
    LineClient *client = nullptr;
    QTimer *takeover = nullptr;
    QElapsedTimer handoverClock;
};
