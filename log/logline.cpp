#include "logline.h"

QString ValueLine(const LogReading &reading, bool decimalComma)
{
    // asprintf always formats in the C locale: point, no grouping.
    QString line = QString::asprintf("%.3f %.4f\n", reading.volts, reading.amperes);
    if (decimalComma)
        line.replace(QLatin1Char('.'), QLatin1Char(','));
    return line;
}

QString LogText(const LogSettings &settings, const LogClocks &clocks, const LogReading &reading)
{
    const QString line = ValueLine(reading, settings.commeDotLog);
    if (!settings.AddTime)
        return line;
    return LogStamp(settings.TimeForm, clocks) + QLatin1Char(' ') + line;
}
