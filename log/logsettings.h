#pragma once

#include <QTime>

// The log options as the settings dialog shows them; field names are those of
// their settings keys.
struct LogSettings {
    int LogValue = 0;           // 0: display values, otherwise ADC values
    bool commeDotLog = false;   // decimal comma instead of point
    QTime LogPeriod{0, 0, 1};
    int TimeForm = 0;           // time stamp form, 0 to 3
    bool AddTime = false;       // lead each line with a time stamp
};
