#pragma once

#include "linerequest.h"

#include <QtGlobal>

#include <deque>
#include <functional>
#include <map>

class LineTransport;

// The order in which the requests of every user of one line, for every
// address on it, go out, one exchange at a time:
// - each user's requests go out in the order that user made them;
// - a user with a write queued goes first (the oldest write first), so a
//   write waits behind no other user's reads, only behind its own earlier
//   requests;
// - otherwise the next read is the one at the head of a user's queue whose
//   user, then whose address, was served longest ago: reads go round-robin
//   over the users, and over the addresses among users that wait alike;
// - a read for an address that the line's back-off holds (AddressBackoff,
//   kept by the link that makes the exchanges) comes back at once as not
//   asked. Writes are always made: a write may be what switches a supply's
//   output off.
class LineSchedule
{
public:
    using Done = std::function<void(const LineOutcome &)>;

    explicit LineSchedule(LineTransport &transport);

    // Queues a request of user (any number the caller chooses); done is
    // called once, from RunNext, with what became of it.
    void Submit(int user, const LineRequest &request, Done done);
    // Drops the user's queued requests without calling them back.
    void Withdraw(int user);
    bool IsIdle() const;
    int Queued() const;

    // Carries out the next request; false when nothing is queued.
    bool RunNext();
    // RunNext until nothing is queued.
    void RunAll();

private:
    struct Pending {
        LineRequest request;
        Done done;
        quint64 sequence = 0;
    };
    using Queue = std::deque<Pending>;

    // The user whose head goes next, or queues.end().
    std::map<int, Queue>::iterator Next();

    LineTransport &transport;
    std::map<int, Queue> queues;
    std::map<int, quint64> userServedAt;
    quint64 addressServedAt[256] = {};
    quint64 submitted = 0;
    quint64 served = 0;
};
