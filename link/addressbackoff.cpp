#include "addressbackoff.h"

bool AddressBackoff::IsBackingOff(quint8 address) const
{
    return states[address].misses >= MissesToBackOff;
}

bool AddressBackoff::MayAsk(quint8 address, qint64 nowMs) const
{
    return !IsBackingOff(address) || nowMs >= NextTryMs(address);
}

qint64 AddressBackoff::NextTryMs(quint8 address) const
{
    return states[address].askedAtMs + RetryMs;
}

void AddressBackoff::Asked(quint8 address, qint64 nowMs, bool answered)
{
    State &state = states[address];
    state.askedAtMs = nowMs;
    state.misses = answered ? 0 : state.misses + 1;
}
