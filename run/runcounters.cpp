#include "runcounters.h"

bool RunCounters::add(qint64 timeMs, double volts, double amperes)
{
    const double watts = volts * amperes;
    const bool continues = havePrevious && timeMs >= previousMs;
    const bool gap = continues && timeMs - previousMs > GapLimitMs;
    if (continues && !gap) {
        const double hours = (timeMs - previousMs) / 3600000.0;
        charge += (previousAmperes + amperes) / 2 * hours;
        energy += (previousWatts + watts) / 2 * hours;
    }
    havePrevious = true;
    previousMs = timeMs;
    previousAmperes = amperes;
    previousWatts = watts;
    return gap;
}
