#include "addressbackoff.h"

bool AddressBackoff::IsBackingOff(quint8 address) const
{
    return states[address].misses >= MissesToBackOff;
}

bool AddressBackoff::MayAsk(quint8 address, qint64 nowMs) const
{
    return !IsBackingOff(address) || nowMs >= NextTryMs(address) || !OthersAskedSince(address);
}

qint64 AddressBackoff::NextTryMs(quint8 address) const
{
    return states[address].askedAtMs + RetryMs;
}

bool AddressBackoff::OthersAskedSince(quint8 address) const
{
    const quint64 since = states[address].askedAs;
    for (int other = 0; other < int(states.size()); ++other) {
        if (other != address && states[other].askedAs > since)
            return true;
    }
    return false;
}

void AddressBackoff::Asked(quint8 address, qint64 nowMs, bool answered)
{
    State &state = states[address];
    state.askedAtMs = nowMs;
    state.askedAs = ++tries;
    state.misses = answered ? 0 : state.misses + 1;
}
