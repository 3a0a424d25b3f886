#include "logstamp.h"

QString LogStamp(int timeForm, const LogClocks &clocks)
{
    switch (timeForm) {
    case 0:
        return clocks.running.toString(QStringLiteral("hh:mm:ss"));
    case 1:
        return clocks.running.toString(QStringLiteral("mm:ss"));
    case 2:
        // Counted on a monotonic clock, so passing midnight or a change of
        // the system clock cannot make it negative.
        return QString::number(clocks.msSinceStart / 1000);
    case 3:
        return clocks.tickTime.toString(QStringLiteral("hh:mm:ss"));
    default:
        return QString();
    }
}
