#include "lineschedule.h"

#include "linetransport.h"

#include <algorithm>
#include <tuple>

LineSchedule::LineSchedule(LineTransport &transport)
    : transport(transport)
{
}

quint64 LineSchedule::Submit(int user, const LineRequest &request, Done done, Screen screen)
{
    Pending pending;
    pending.request = request;
    pending.done = std::move(done);
    pending.screen = std::move(screen);
    pending.sequence = ++submitted;
    Queue &queue = queues[user];
    // A request goes before its user's queued jobs: it is made by a caller
    // that waits for it (a job running, the program's own call) and must end
    // before the user's next job begins.
    const auto at = std::find_if(queue.begin(), queue.end(), [](const Pending &p) { return bool(p.job); });
    queue.insert(at, std::move(pending));
    return submitted;
}

quint64 LineSchedule::SubmitJob(int user, Job job)
{
    Pending pending;
    pending.job = std::move(job);
    pending.sequence = ++submitted;
    queues[user].push_back(std::move(pending));
    return submitted;
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

bool LineSchedule::HasQueued(int user) const
{
    const auto it = queues.find(user);
    return it != queues.end() && !it->second.empty();
}

bool LineSchedule::IsDone(quint64 ticket) const
{
    if (std::find(running.begin(), running.end(), ticket) != running.end())
        return false;
    for (const auto &queue : queues) {
        for (const Pending &pending : queue.second) {
            if (pending.sequence == ticket)
                return false;
        }
    }
    return true;
}

std::map<int, LineSchedule::Queue>::iterator LineSchedule::Next()
{
    // A job runs only when no other job is running: a job's own requests
    // take turns with everybody else's, but one job never runs inside another.
    const auto blocked = [this](const Queue &queue) {
        return queue.empty() || (queue.front().job && !jobUsers.empty());
    };
    auto chosen = queues.end();
    // A user with a write queued: the oldest write decides.
    quint64 oldestWrite = 0;
    for (auto it = queues.begin(); it != queues.end(); ++it) {
        if (blocked(it->second))
            continue;
        for (const Pending &pending : it->second) {
            if (pending.job || pending.request.kind != LineRequest::Kind::Write)
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
        if (blocked(it->second))
            continue;
        if (chosen == queues.end() || rank(it) < rank(chosen))
            chosen = it;
    }
    return chosen;
}

bool LineSchedule::RunNext()
{
    if (exchanging)
        return false;
    const auto user = Next();
    if (user == queues.end())
        return false;
    Pending pending = std::move(user->second.front());
    user->second.pop_front();
    const int userId = user->first;
    if (user->second.empty())
        queues.erase(user);
    running.push_back(pending.sequence);
    Serve(userId, pending);
    running.erase(std::find(running.begin(), running.end(), pending.sequence));
    return true;
}

void LineSchedule::Serve(int user, Pending &pending)
{
    if (pending.job) {
        userServedAt[user] = ++served;
        jobUsers.push_back(user);
        pending.job();
        jobUsers.pop_back();
        return;
    }
    const LineRequest &request = pending.request;
    LineOutcome outcome;
    if (!pending.screen || !pending.screen(outcome)) {
        exchanging = true;
        outcome.result = transport.Exchange(request, &outcome.reply);
        outcome.notAsked = transport.NotAsked();
        exchanging = false;
    }
    if (!outcome.notAsked) {
        ++served;
        addressServedAt[request.address] = served;
        userServedAt[user] = served;
    }
    if (pending.done)
        pending.done(outcome);
}

void LineSchedule::RunAll()
{
    while (RunNext()) {
    }
}

bool LineSchedule::RunUntilDone(quint64 ticket)
{
    while (!IsDone(ticket)) {
        if (!RunNext())
            return false;
    }
    return true;
}
