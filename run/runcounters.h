#pragma once

#include <QtGlobal>

// Charge (Ah) and energy (Wh) delivered, by trapezoids between consecutive
// good readings. Two readings further apart than the gap limit add nothing:
// nobody knows what flowed in between.
class RunCounters
{
public:
    static constexpr qint64 GapLimitMs = 5000;

    // Adds the reading taken at timeMs; true when it follows a gap (the
    // interval before it was not counted).
    bool add(qint64 timeMs, double volts, double amperes);
    // The next reading starts a new trapezoid chain (after a lost port).
    void breakChain() { havePrevious = false; }

    double ampereHours() const { return charge; }
    double wattHours() const { return energy; }

private:
    bool havePrevious = false;
    qint64 previousMs = 0;
    double previousAmperes = 0;
    double previousWatts = 0;
    double charge = 0;
    double energy = 0;
};
