#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// One program on a shared line, as the others see it.
struct LineMember {
    qint64 pid = 0;
    QString program;        // "velkaroctl", "velkaro"
    QList<int> addresses;   // the supplies it works with
    QString doing;          // "run", "watch", "SCPI, 2 clients", "window" ...
    bool owner = false;     // holds the port and serves the others

    // True when this member runs a program on address: its panel elsewhere
    // is read-only.
    bool RunsOn(int address) const
    {
        return doing.startsWith(QLatin1String("run")) && addresses.contains(address);
    }
};
