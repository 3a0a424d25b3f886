#pragma once

#include <QString>
#include <QTime>

// The clocks a time stamp can show, as they stand at the tick being logged.
struct LogClocks {
    QTime running;              // running time since recording started, wraps at 24 h
    qint64 msSinceStart = 0;    // monotonic time since recording started
    QTime tickTime;             // clock time of this tick
};

// The stamp for a stamp form: 0 running time "hh:mm:ss", 1 running time
// "mm:ss", 2 whole seconds since the start, 3 clock time "hh:mm:ss"; any
// other form gives an empty stamp.
QString LogStamp(int timeForm, const LogClocks &clocks);
