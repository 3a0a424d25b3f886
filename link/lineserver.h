#pragma once

#include "linemember.h"
#include "linemessage.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>
#include <vector>

class DeviceLink;
class QLocalServer;
class QLocalSocket;
class QTimer;

// The owner's side of a shared line: takes the requests of the programs
// attached through a local socket (this user's only) and queues each
// program's, in its order, as a user of its own on the line's one queue (the
// link's), where they take turns with the owner's own by the queue's rules. A
// read for a supply that stopped answering waits while the line's back-off
// (the link's, shared with the owner's own requests) holds its address, or is
// answered as not asked when its program would have given up by then;
// writes are always made.
class LineServer : public QObject
{
    Q_OBJECT

public:
    LineServer(DeviceLink &link, QObject *parent = nullptr);
    ~LineServer() override;

    // Serves under name, taking over the name of a program that died holding
    // it (the caller holds the port, so nobody else can be serving it).
    bool Listen(const QString &name, QString *reason);
    // Takes no more programs (and lets the name go); those attached stay.
    void StopListening();
    void SetOwnMember(const LineMember &member);
    // The owner first, then the attached programs in the order they came.
    QList<LineMember> Members() const;
    int Attached() const { return int(clients.size()); }

    // A request is begun only this long before its program gives up on it:
    // more than one exchange takes, so none ends after that.
    static constexpr int StartMarginMs = 500;

    // Passes what the owner's link heard to every attached program, for its
    // supplies' states; not to one that has left this much unread (it is
    // stopped or stuck): the owner would hold all it missed meanwhile. What
    // it misses leaves its states older, never wrong about their age.
    void PassHeard(const LineHeard &heard);
    static constexpr qint64 MaxUnreadHeard = 64 * 1024;

    // Makes the attached programs' requests queued so far (not those held
    // for the back-off); nothing during an exchange (they follow it).
    void ServeQueued();
    // Stops serving at once (the attached programs see the end and take the
    // line over) and deletes the server; a request of theirs being made
    // meanwhile is answered to nobody.
    void Retire();

signals:
    void membersChanged();

private slots:
    void AcceptClients();

private:
    struct Client {
        QPointer<QLocalSocket> socket;
        QByteArray buffer;
        LineMember member;
        bool greeted = false;
        struct Queued {
            LineMessage message;
            quint64 sequence = 0;
        };
        std::deque<Queued> queued;
        int user = 0;            // on the line's queue
        bool submitted = false;  // the head is on the line's queue
    };

    void ReadClient(Client *client);
    void DropClient(QLocalSocket *socket);
    void Send(Client &client, const LineMessage &message);
    void BroadcastMembers();
    // Puts each program's next request on the line's queue, unless one of
    // its is there already or the back-off holds it, and has them made.
    void SubmitHeads();
    void Answer(QLocalSocket *socket, const LineOutcome &outcome);
    // True for a read held back until its supply may be asked again.
    bool HeldForBackoff(const LineMessage &request);
    Client *ClientOf(QLocalSocket *socket);
    void EndClients();

    DeviceLink &link;
    QLocalServer *server = nullptr;
    QTimer *backoffWake = nullptr;
    LineMember own;
    std::vector<std::unique_ptr<Client>> clients;
    quint64 sequence = 0;
};
