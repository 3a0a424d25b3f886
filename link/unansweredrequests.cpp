#include "unansweredrequests.h"

quint64 UnansweredRequests::Add(quint8 address, int kind, qint64 nowMs)
{
    requests.append({address, kind, nextSerial, nowMs});
    // A supply that stays silent for a night is still asked once a second:
    // the oldest are forgotten, so the list stays small. Only a supply that
    // held every one of them for a quarter of an hour and then answered
    // them all could bring back a reply this list no longer expects.
    if (requests.size() > MaxKept)
        requests.removeFirst();
    return nextSerial++;
}

quint64 UnansweredRequests::Answer(quint8 address, int kind, qint64 nowMs,
                                   qint64 overtakeMs)
{
    int at = 0;
    while (at < requests.size()
           && (requests.at(at).address != address || requests.at(at).kind != kind))
        ++at;
    if (at == requests.size())
        return 0;
    const quint64 serial = requests.at(at).serial;
    requests.removeAt(at);
    answeredUpTo.insert(address, qMax(answeredUpTo.value(address), serial));
    Expire(address, nowMs, overtakeMs);
    return serial;
}

void UnansweredRequests::Expire(quint8 address, qint64 nowMs, qint64 overtakeMs)
{
    const quint64 answered = answeredUpTo.value(address);
    for (int i = requests.size() - 1; i >= 0; --i) {
        const Request &r = requests.at(i);
        if (r.address == address && r.serial < answered && nowMs - r.sentAt > overtakeMs)
            requests.removeAt(i);
    }
}

qint64 UnansweredRequests::OldestSentAt(quint8 address, int kind) const
{
    for (const Request &r : requests) {
        if (r.address == address && r.kind == kind)
            return r.sentAt;
    }
    return -1;
}

bool UnansweredRequests::Contains(quint8 address, int kind) const
{
    for (const Request &r : requests) {
        if (r.address == address && r.kind == kind)
            return true;
    }
    return false;
}

bool UnansweredRequests::Contains(quint64 serial) const
{
    for (const Request &r : requests) {
        if (r.serial == serial)
            return true;
    }
    return false;
}

int UnansweredRequests::CountAt(quint8 address) const
{
    int count = 0;
    for (const Request &r : requests)
        count += r.address == address ? 1 : 0;
    return count;
}

quint64 UnansweredRequests::OldestAt(quint8 address) const
{
    for (const Request &r : requests) {
        if (r.address == address)
            return r.serial;
    }
    return 0;
}

int UnansweredRequests::LatestFirstOf(quint8 address, const QList<int> &kinds) const
{
    int latest = -1;
    int latestAt = -1;
    for (int kind : kinds) {
        for (int i = 0; i < requests.size(); ++i) {
            if (requests.at(i).address == address && requests.at(i).kind == kind) {
                if (i > latestAt) {
                    latestAt = i;
                    latest = kind;
                }
                break;
            }
        }
    }
    return latest;
}
