#include "lineschedule.h"

#include "linetransport.h"

#include <tuple>

LineSchedule::LineSchedule(LineTransport &transport)
    : transport(transport)
{
}

void LineSchedule::Submit(int user, const LineRequest &request, Done done)
{
    queues[user].push_back(Pending{request, std::move(done), ++submitted});
}

void LineSchedule::Withdraw(int user)
{
    queues.erase(user);
}

bool LineSchedule::IsIdle() const
{
    return Queued() == 0;
}

int LineSchedule::Queued() const
{
    int count = 0;
    for (const auto &queue : queues)
        count += int(queue.second.size());
    return count;
}

std::map<int, LineSchedule::Queue>::iterator LineSchedule::Next()
{
    auto chosen = queues.end();
    // A user with a write queued: the oldest write decides.
    quint64 oldestWrite = 0;
    for (auto it = queues.begin(); it != queues.end(); ++it) {
        for (const Pending &pending : it->second) {
            if (pending.request.kind != LineRequest::Kind::Write)
                continue;
            if (chosen == queues.end() || pending.sequence < oldestWrite) {
                chosen = it;
                oldestWrite = pending.sequence;
            }
            break;
        }
    }
    if (chosen != queues.end())
        return chosen;
    // Reads: the user served longest ago, then the address, then the oldest.
    auto rank = [this](std::map<int, Queue>::iterator it) {
        const Pending &head = it->second.front();
        return std::make_tuple(userServedAt[it->first], addressServedAt[head.request.address],
                               head.sequence);
    };
    for (auto it = queues.begin(); it != queues.end(); ++it) {
        if (it->second.empty())
            continue;
        if (chosen == queues.end() || rank(it) < rank(chosen))
            chosen = it;
    }
    return chosen;
}

bool LineSchedule::RunNext()
{
    const auto user = Next();
    if (user == queues.end())
        return false;
    Pending pending = std::move(user->second.front());
    user->second.pop_front();
    const int userId = user->first;
    if (user->second.empty())
        queues.erase(user);

    const LineRequest &request = pending.request;
    LineOutcome outcome;
    outcome.result = transport.Exchange(request, &outcome.reply);
    outcome.notAsked = transport.NotAsked();
    if (!outcome.notAsked) {
        ++served;
        addressServedAt[request.address] = served;
        userServedAt[userId] = served;
    }
    if (pending.done)
        pending.done(outcome);
    return true;
}

void LineSchedule::RunAll()
{
    while (RunNext()) {
    }
}
