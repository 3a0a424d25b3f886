#include "logperiod.h"

namespace {
constexpr qint64 msPerDay = 24 * 60 * 60 * 1000;
}

QTime AddElapsed(const QTime &duration, qint64 ms)
{
    // Whole days change nothing on a 24-hour clock; dropping them first keeps
    // a long pause within addMSecs's int range.
    return duration.addMSecs(static_cast<int>(ms % msPerDay));
}

bool TakePeriodBoundary(QTime &periodElapsed, const QTime &period)
{
    if (periodElapsed < period)
        return false;
    periodElapsed.setHMS(0, 0, 0, 0);
    return true;
}
