#pragma once

#include <QJsonObject>
#include <QString>

// How a run went, told when it ends whatever the reason: on velkaroctl's
// standard output, on the window's run page and as the recording's last "#"
// line.

enum class RunOutputState {
    OffConfirmed,  // the supply confirmed the output off
    KeptOn,        // left on, as asked
    Unknown,       // the supply could not be reached to say
};

struct RunSummary {
    qint64 durationMs = 0;
    int stepsDone = 0;  // every step that ran to its end, over all passes
    int stepCount = 0;  // 0: a recording only
    int pass = 0;       // 1-based
    int passes = 1;     // 0: until stopped
    double ampereHours = 0;
    double wattHours = 0;
    QString reason;  // "end", "stop", "limit current>2" or what failed
    RunOutputState output = RunOutputState::Unknown;

    // One line, e.g. "end after 01:02:03.450: 6 steps done, pass 3 of 3,
    // 0.100000 Ah, 1.250000 Wh, output off (confirmed)".
    QString text() const;
    QJsonObject json() const;
};

// "off (confirmed)", "kept on", "unknown".
QString RunOutputStateText(RunOutputState state);
