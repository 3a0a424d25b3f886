#pragma once

#include "linerequest.h"

#include <QtGlobal>

#include <deque>
#include <functional>
#include <map>
#include <vector>

class LineTransport;

// The one queue of a line: every exchange of every user of it (the program's
// own calls, each program attached to it, each SCPI instrument, the watch) is
// queued here and made by RunNext, one at a time, in this order:
// - each user's requests go out in the order that user made them;
// - a user with a write queued goes first (the oldest write first), so a
//   write waits behind no other user's reads, only behind its own earlier
//   requests;
// - otherwise the next read is the one at the head of a user's queue whose
//   user, then whose address, was served longest ago: reads go round-robin
//   over the users, and over the addresses among users that wait alike;
// - a read for an address that the line's back-off holds (AddressBackoff,
//   kept by the link that makes the exchanges) comes back at once as not
//   asked, and costs nobody a turn. Writes are always made: a write may be
//   what switches a supply's output off.
// An exchange waits in the event loop; whatever is queued meanwhile (from a
// click, a socket, a timer) is made after it, never inside it: RunNext does
// nothing while an exchange is under way.
class LineSchedule
{
public:
    using Done = std::function<void(const LineOutcome &)>;
    // Looks at a request just before its turn: true when it has been
    // answered without going out (its caller gave up on it, the port is
    // gone), the outcome filled in.
    using Screen = std::function<bool(LineOutcome &)>;
    // Work that makes exchanges of its own through the program's blocking
    // calls (an SCPI message): run in its user's turn like a read, between
    // two exchanges, never inside one; its calls are its user's requests.
    using Job = std::function<void()>;

    // The user of a program's own blocking calls made outside any job.
    static constexpr int OwnUser = 0;

    explicit LineSchedule(LineTransport &transport);

    // A user number of its own for a caller, never OwnUser.
    int NewUser() { return ++users; }
    // Queues a request of user; done is called once, from the run step, with
    // what became of it (not when the user is withdrawn first). Returns the
    // request's ticket. A request goes before its user's queued jobs, which
    // wait for the calls of that user under way.
    quint64 Submit(int user, const LineRequest &request, Done done, Screen screen = {});
    quint64 SubmitJob(int user, Job job);
    // Drops the user's queued requests without calling them back.
    void Withdraw(int user);
    bool IsIdle() const;
    int Queued() const;
    bool HasQueued(int user) const;
    // Neither queued nor being made any more.
    bool IsDone(quint64 ticket) const;
    // An exchange is under way (the caller is an event handled while it waits).
    bool Exchanging() const { return exchanging; }
    // The user whose job is running, OwnUser outside jobs: whose a blocking
    // call is.
    int CurrentUser() const { return jobUsers.empty() ? OwnUser : jobUsers.back(); }

    // Carries out the next request; false when nothing is queued, or when
    // called during an exchange.
    bool RunNext();
    // RunNext until nothing is queued.
    void RunAll();
    // RunNext until the ticket's request is done, the requests due before it
    // going first; false when it could not be made (called during an exchange).
    bool RunUntilDone(quint64 ticket);

private:
    struct Pending {
        LineRequest request;
        Done done;
        Screen screen;
        Job job;
        quint64 sequence = 0;
    };
    using Queue = std::deque<Pending>;

    // The user whose head goes next, or queues.end().
    std::map<int, Queue>::iterator Next();
    void Serve(int user, Pending &pending);

    LineTransport &transport;
    std::map<int, Queue> queues;
    std::map<int, quint64> userServedAt;
    quint64 addressServedAt[256] = {};
    quint64 submitted = 0;
    quint64 served = 0;
    int users = OwnUser;
    bool exchanging = false;
    // Tickets taken from their queues and not done yet.
    std::vector<quint64> running;
    std::vector<int> jobUsers;
};
