#pragma once

#include "logreading.h"
#include "logsettings.h"
#include "logstamp.h"

#include <QString>

// "volts amperes" with three and four decimals and a closing line feed,
// independent of the user's locale; with decimalComma every point becomes a
// comma.
QString ValueLine(const LogReading &reading, bool decimalComma);

// One complete log line: the value line, led by the stamp and a space when
// the options ask for a stamp.
QString LogText(const LogSettings &settings, const LogClocks &clocks, const LogReading &reading);
