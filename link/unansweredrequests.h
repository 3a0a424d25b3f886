#pragma once

#include <QHash>
#include <QList>
#include <QtGlobal>

// The requests a link has sent that no reply has answered yet, in the order
// sent, each keyed by the supply's address and its kind: the command, and
// whether it writes (a write's reply is its acknowledgement, a read's carries
// the read's access code: the two never answer each other). A supply answers
// its requests in the order it got them and never twice, so a reply with a
// key answers the oldest unanswered request with that key, and every older
// request to the same address will never be answered any more (the supply has
// either answered it already or lost it).
class UnansweredRequests
{
public:
    // The most kept; the oldest go first.
    static constexpr int MaxKept = 1000;

    // Notes a request sent at the time given; returns its serial.
    quint64 Add(quint8 address, int kind, qint64 nowMs);
    // Takes a reply with this key, come at nowMs: removes the request it
    // answers and every older one to the same address sent more than
    // overtakeMs before. Returns the serial of the request
    // answered, or 0 when no request has this key (the reply answers nothing
    // this link asked).
    quint64 Answer(quint8 address, int kind, qint64 nowMs, qint64 overtakeMs);

    bool Contains(quint8 address, int kind) const;
    bool Contains(quint64 serial) const;
    int CountAt(quint8 address) const;
    bool IsEmpty() const { return requests.isEmpty(); }
    int Count() const { return requests.size(); }
    // The oldest unanswered request to the address, 0 when none.
    quint64 OldestAt(quint8 address) const;
    // Of the kinds given, the one whose oldest unanswered request to the
    // address is the newest: a reply to it retires the most. -1 when none of
    // them is unanswered.
    int LatestFirstOf(quint8 address, const QList<int> &kinds) const;
    // When the oldest unanswered request with the key was sent, -1 when none.
    qint64 OldestSentAt(quint8 address, int kind) const;
    // Gives up the requests to the address that are older than one answered
    // already and were sent more than overtakeMs before nowMs: the supply
    // answers in order, so their replies would have come first, unless held
    // back in transit, which lasts no longer than that.
    void Expire(quint8 address, qint64 nowMs, qint64 overtakeMs);

private:
    struct Request {
        quint8 address;
        int kind;
        quint64 serial;
        qint64 sentAt;
    };
    QList<Request> requests;
    // The newest request answered at each address.
    QHash<quint8, quint64> answeredUpTo;
    quint64 nextSerial = 1;
};
