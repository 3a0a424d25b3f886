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
// attached through a local socket (this user's only) and makes them on the
// owner's link, taking turns with the owner's own. In a round each attached
// program gets one request: writes first, oldest first, then reads. A read
// for a supply that stopped answering waits while the line's back-off (the
// link's, shared with the owner's own requests) holds its address, or is
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

    static constexpr int RetryMs = 10;
    // A request is begun only this long before its program gives up on it:
    // more than one exchange takes, so none ends after that.
    static constexpr int StartMarginMs = 500;

    // Passes what the owner's link heard to every attached program, for its
    // supplies' states; not to one that has left this much unread (it is
    // stopped or stuck): the owner would hold all it missed meanwhile. What
    // it misses leaves its states older, never wrong about their age.
    void PassHeard(const LineHeard &heard);
    static constexpr qint64 MaxUnreadHeard = 64 * 1024;

    // Makes one round of the attached programs' requests; nothing while the
    // link is in a transaction (the round comes after it).
    void ServeRound();
    // Stops serving at once (the attached programs see the end and take the
    // line over) and deletes the server: after the round being served, if
    // the line is let go from an event handled within that round's exchange.
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
    };

    void ReadClient(Client *client);
    void DropClient(QLocalSocket *socket);
    void Send(Client &client, const LineMessage &message);
    void BroadcastMembers();
    void ServeSoon();
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
    bool serving = false;
    bool serveQueued = false;
    bool retired = false;
};
