#pragma once

#include <QtGlobal>

#include <array>

// Which supplies on a line have stopped answering: an address that missed
// MissesToBackOff requests in a row is asked at most once every RetryMs until
// it answers again, so that a dead supply costs the others on the line one
// try (its 200 ms time-out) each RetryMs: 5% of their time. An address is asked all the same when no
// other address has been asked since its last try: then it holds up nobody,
// and a supply that comes back is met at the first request after its silence.
// One per line, kept by the program that holds the port and consulted by
// every request made on it.
class AddressBackoff
{
public:
    static constexpr int MissesToBackOff = 3;
    static constexpr qint64 RetryMs = 4000;

    // Whether a request may go to address at nowMs (a monotonic clock).
    bool MayAsk(quint8 address, qint64 nowMs) const;
    // After a request to address went out at nowMs: answered is true for any
    // reply, also a rejected one (the supply is there).
    void Asked(quint8 address, qint64 nowMs, bool answered);

    bool IsBackingOff(quint8 address) const;
    int MissesInRow(quint8 address) const { return states[address].misses; }
    // When an address being backed off may be asked next, on the clock that
    // Asked() was given.
    qint64 NextTryMs(quint8 address) const;

private:
    // Another address was asked after this one's last try.
    bool OthersAskedSince(quint8 address) const;

    struct State {
        int misses = 0;
        qint64 askedAtMs = 0;
        quint64 askedAs = 0;  // the order of its last try among all tries
    };
    std::array<State, 256> states{};
    quint64 tries = 0;
};
